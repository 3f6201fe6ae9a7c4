// libFuzzer target: a DNS reply as the server (or anyone who can reach our
// port) may send it, read for the name of its first PTR record. Compression
// pointers may loop or point past the end; the reader gives nothing or raises
// EDnsError, and never reads outside the reply.
#include "platform/ReverseDns.h"
#include "platform/linux/ReverseDnsCares.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // An exact copy on the heap, so the sanitizer sees every byte read past it.
    QByteArray reply(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (size > 0)
        std::memcpy(reply.data(), data, size);
    try {
        const auto name = valmora::platform::cares::PtrNameFromReply(reply);
        // A name is made of the reply's own labels: at most 255 bytes on the wire.
        if (name && name->size() > 4 * 255)
            __builtin_trap();
    } catch (const valmora::platform::EDnsError &) {
    }
    return 0;
}
