#pragma once

// What the machine knows about itself on the network: its host name, its DNS
// domain and the DNS servers of its resolver configuration.

#include <QString>
#include <QStringList>

namespace valmora::platform {

// The network parameters as the platform reports them. Fields the platform does
// not know stay empty or false.
struct TPlatformNetworkParams
{
    int error = 0; // 0, or the system's error code when the parameters could not be read
    QString hostName;
    QString domainName;
    QStringList dnsServers; // in the platform's order
    QString currentDnsServer;
    QString scopeId;
    bool enableProxy = false;
    bool enableRouting = false;
    bool enableDns = false;
};

class THostInfo
{
public:
    virtual ~THostInfo() = default;
    // The machine's host name as the system gives it (possibly with its domain).
    virtual QString HostName() const = 0;
    virtual TPlatformNetworkParams NetworkParams() const = 0;
};

// The real machine.
const THostInfo &SystemHostInfo();

} // namespace valmora::platform
