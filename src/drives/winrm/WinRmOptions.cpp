// Remote computers are reached over WS-Management (WinRM). Where and how is
// set by the environment, so that a site with HTTPS listeners or its own
// certificate authority needs no rebuild.
#include "drives/WmiProviders.h"

#include "drives/winrm/WinRmProvider.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives {

winrm::TWinRmOptions WinRmOptionsFromEnvironment()
{
    winrm::TWinRmOptions options;
    const QString https = qEnvironmentVariable("VALMORA_WINRM_HTTPS");
    options.https = https == u"1"_s || https.compare(u"true"_s, Qt::CaseInsensitive) == 0;
    bool ok = false;
    const int port = qEnvironmentVariable("VALMORA_WINRM_PORT").toInt(&ok);
    if (ok && port > 0 && port < 65536)
        options.port = port;
    options.caFile = qEnvironmentVariable("VALMORA_WINRM_CA_FILE");
    return options;
}

std::unique_ptr<TWmiProvider> CreateRemoteWmiProvider(const winrm::TWinRmOptions &options)
{
    return std::make_unique<winrm::TWinRmProvider>(options, &winrm::CreateWinRmSession);
}

std::unique_ptr<TWmiProvider> CreateRemoteWmiProvider()
{
    return CreateRemoteWmiProvider(WinRmOptionsFromEnvironment());
}

} // namespace valmora::drives
