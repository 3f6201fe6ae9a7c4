// libFuzzer target: the resolver configuration the DNS server list comes
// from. Whatever the file holds, every server read is an address and the
// parameters are either complete or empty.
#include "discovery/NetworkParams.h"
#include "platform/HostInfo.h"

#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora;
    static QTemporaryDir dir;
    static const QString file = [] {
        const QString name = dir.path() + u"/resolv.conf"_s;
        qputenv("VALMORA_RESOLV_CONF", name.toLocal8Bit());
        return name;
    }();
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    const TNetworkParams params(platform::SystemHostInfo());
    if (params.Error() != 0)
        __builtin_trap();
    for (const QString &server : params.DnsServerList())
        if (QHostAddress(server).isNull())
            __builtin_trap();
    if (params.DnsServerList().isEmpty() && !params.DomainName().isEmpty())
        __builtin_trap();
    return 0;
}
