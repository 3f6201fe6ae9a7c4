// Remote computers are reached over WS-Management (WinRM). Where and how is
// set by the environment, so that a site with HTTPS listeners or its own
// certificate authority needs no rebuild.
#include "WmiProviders.h"

#include "platform/WinRmProvider.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora::platform {

wmi::winrm::TWinRmOptions WinRmOptionsFromEnvironment()
{
    wmi::winrm::TWinRmOptions options;
    const QString https = qEnvironmentVariable("VALMORA_WINRM_HTTPS");
    options.https = https == u"1"_s || https.compare(u"true"_s, Qt::CaseInsensitive) == 0;
    bool ok = false;
    const int port = qEnvironmentVariable("VALMORA_WINRM_PORT").toInt(&ok);
    if (ok && port > 0 && port < 65536)
        options.port = port;
    options.caFile = qEnvironmentVariable("VALMORA_WINRM_CA_FILE");
    return options;
}

std::unique_ptr<wmi::TWmiProvider> CreateRemoteWmiProvider()
{
    return wmi::CreateRemoteProvider(WinRmOptionsFromEnvironment());
}

} // namespace valmora::platform
