#include "NetworkParams.h"

namespace valmora {

TNetworkParams::TNetworkParams()
    : TNetworkParams(platform::SystemHostInfo())
{
}

TNetworkParams::TNetworkParams(const platform::THostInfo &host)
{
    const platform::TPlatformNetworkParams p = host.NetworkParams();
    m_error = p.error;
    if (p.error != 0 || p.dnsServers.isEmpty() || p.dnsServers.first().isEmpty())
        return;
    m_hostName = p.hostName;
    m_currentDnsServer = p.currentDnsServer;
    m_domainName = p.domainName;
    m_enableProxy = p.enableProxy;
    m_scopeId = p.scopeId;
    m_enableRouting = p.enableRouting;
    m_enableDns = p.enableDns;
    m_dnsServerList = p.dnsServers;
}

} // namespace valmora
