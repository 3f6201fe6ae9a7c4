// winrm-test-endpoint: the tests' WinRM endpoint as a program, to point
// valmora-cli at by hand. Serves the recorded drives on 127.0.0.1 with a
// temporary Kerberos realm and an NTLM user file, prints how to reach it, and
// stops after the given number of seconds (600 by default) or on end of input.

#include "WinRmTestEndpoint.h"
#include "WinRmTestRealm.h"

#include <QFile>
#include <QTemporaryDir>

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray fixture(const char *name)
{
    QFile f(QString::fromUtf8(VALMORA_TEST_FIXTURES) + u"/winrm/"_s + QString::fromLatin1(name));
    if (!f.open(QIODevice::ReadOnly)) {
        std::cerr << "winrm-test-endpoint: cannot read " << f.fileName().toStdString() << "\n";
        std::exit(2);
    }
    return f.readAll();
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    QTemporaryDir ntlmDir;
    valmora::test::WriteNtlmUserFile(ntlmDir.path());
    valmora::test::TTestRealm realm;
    QString why;
    const bool kerberos = realm.Start(why);

    valmora::test::TRecordedWinRm rec;
    rec.Add(u"Win32_PhysicalMedia"_s, u"root\\CIMV2"_s, fixture("physicalmedia_items.xml"), 10);
    rec.Add(u"Win32_DiskDrive"_s, u"root\\CIMV2"_s, fixture("diskdrive_items.xml"), 10);
    rec.Add(u"MSStorageDriver_FailurePredictData"_s, u"root\\WMI"_s, fixture("failurepredictdata_items.xml"), 10);
    rec.Add(u"MSStorageDriver_FailurePredictThresholds"_s, u"root\\WMI"_s,
            fixture("failurepredictthresholds_items.xml"), 10);
    valmora::test::TWinRmTestEndpoint endpoint(valmora::test::TWinRmTestEndpoint::ESecurity::Gss,
                                              [&](const QByteArray &soap) { return rec.Answer(soap); });

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
