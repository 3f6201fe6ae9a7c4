// winrm-test-endpoint: the tests' WinRM endpoint as a program, to point
// valmora-cli at by hand. Serves the recorded drives on 127.0.0.1 with a
// temporary Kerberos realm and an NTLM user file, prints how to reach it, and
// stops after the given number of seconds (600 by default) or on end of input.
// A second argument makes it hostile after the log-on: "deep [DEPTH]" nests a
// drive's property, "endless" never ends the drives' sequence, "many [DRIVES]"
// answers with that many drives.

#include "WinRmTestEndpoint.h"
#include "WinRmTestRealm.h"

#include <QFile>
#include <QTemporaryDir>

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    QTemporaryDir ntlmDir;
    valmora::test::WriteNtlmUserFile(ntlmDir.path());
    valmora::test::TTestRealm realm;
    QString why;
    const bool kerberos = realm.Start(why);

    valmora::test::TRecordedWinRm rec;
    rec.AddRecordedDrives(10);
    // A hostile service for trying the reader's bounds by hand.
    using EMode = valmora::test::THostileWinRm::EMode;
    std::unique_ptr<valmora::test::THostileWinRm> hostile;
    if (argc > 2) {
        const std::string mode = argv[2];
        const int size = argc > 3 ? std::atoi(argv[3]) : 0;
        if (mode == "deep")
            hostile = std::make_unique<valmora::test::THostileWinRm>(EMode::DeepNesting, size > 0 ? size : 100000, rec);
        else if (mode == "endless")
            hostile = std::make_unique<valmora::test::THostileWinRm>(EMode::Endless, 0, rec);
        else if (mode == "many")
            hostile = std::make_unique<valmora::test::THostileWinRm>(EMode::ManyDrives, size > 0 ? size : 50000, rec);
        else {
            std::cerr << "winrm-test-endpoint: unknown mode " << mode << " (deep [DEPTH], endless, many [DRIVES])\n";
            return 2;
        }
    }
    valmora::test::TWinRmTestEndpoint endpoint(valmora::test::TWinRmTestEndpoint::ESecurity::Gss,
                                              [&](const QByteArray &soap) {
                                                  return hostile ? hostile->Answer(soap) : rec.Answer(soap);
                                              });

    if (kerberos) {
        std::cout << "export KRB5_CONFIG=" << qgetenv("KRB5_CONFIG").constData() << "\n";
        std::cout << "# Kerberos: host localhost, user " << valmora::test::KerberosUser << '@'
                  << valmora::test::TestRealm << ", password " << valmora::test::KerberosPassword << "\n";
    } else {
        std::cout << "# no Kerberos: " << why.toStdString() << "\n";
    }
    std::cout << "# NTLM: host 127.0.0.1, user " << valmora::test::NtlmDomain << '\\' << valmora::test::NtlmUser
              << ", password " << valmora::test::NtlmPassword << "\n";
    std::cout << "# WinRM endpoint: http://127.0.0.1:" << endpoint.Port() << "/wsman" << std::endl;

    for (int waited = 0; waited < seconds * 10; ++waited) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char c;
            if (::read(STDIN_FILENO, &c, 1) <= 0)
                break;
        }
    }
    std::cout << "# served " << endpoint.Requests() << " requests on " << endpoint.Connections()
              << " connections; encryption violations: " << endpoint.Violations().size() << std::endl;
    return 0;
}
