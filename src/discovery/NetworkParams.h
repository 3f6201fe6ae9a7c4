#pragma once

// The machine's network parameters, read once at construction.

#include "platform/HostInfo.h"

#include <QString>
#include <QStringList>

namespace valmora {

class TNetworkParams
{
public:
    TNetworkParams();
    explicit TNetworkParams(const platform::THostInfo &host);

    // When the parameters cannot be read, or name no DNS server, every property
    // stays empty or false.
    const QStringList &DnsServerList() const { return m_dnsServerList; }
    const QString &CurrentDnsServer() const { return m_currentDnsServer; }
    const QString &DomainName() const { return m_domainName; }
    bool EnableProxy() const { return m_enableProxy; }
    const QString &ScopeId() const { return m_scopeId; }
    const QString &HostName() const { return m_hostName; }
    bool EnableRouting() const { return m_enableRouting; }
    bool EnableDns() const { return m_enableDns; }
    // 0, or the system's error code of reading the parameters.
    int Error() const { return m_error; }

private:
    QStringList m_dnsServerList;
    QString m_currentDnsServer;
    QString m_domainName;
    bool m_enableProxy = false;
    QString m_scopeId;
    QString m_hostName;
    bool m_enableRouting = false;
    bool m_enableDns = false;
    int m_error = 0;
};

} // namespace valmora
