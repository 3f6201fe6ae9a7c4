// libFuzzer target: a WS-Discovery datagram or metadata answer as anyone on
// the network may send it. The readers give nothing for what they do not
// understand, never raise, and a transport address they pick is plain HTTP to
// the host the reply came from.
#include "platform/linux/WsDiscovery.h"

#include <QUrl>

#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora::platform::wsd;
    const QByteArray message = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString sender = u"192.0.2.7"_s;
    if (const auto reply = ParseDiscoveryReply(message)) {
        for (const TMatch &match : reply->matches) {
            if (const auto address = PickTransportAddress(match.xaddrs, sender)) {
                const QUrl url(*address);
                if (url.scheme() != u"http"_s || url.host() != sender)
                    __builtin_trap();
            }
        }
    }
    if (const auto entry = ParseComputerEntry(message)) {
        const QString name = ComputerNameOfEntry(*entry);
        if (name.contains(u'/') || name.size() > entry->size())
            __builtin_trap();
    }
    return 0;
}
