// libFuzzer target: the IP-range text of the settings, one range a line as the
// user typed it ("first-last" or one address). A line either reads as a range
// or raises; a range walks from its first to its last address, never past it.
#include "discovery/ComputersIP.h"
#include "foundation/Exception.h"

#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    for (const QString &line : text.split(u'\n')) {
        const bool valid = IsValidIP(line);
        try {
            const TIP ip(line);
            if (valid && TIP(ip.AsText()).ToUInt32() != ip.ToUInt32())
                __builtin_trap();
        } catch (const EConvertError &) {
            if (valid)
                __builtin_trap(); // a valid address always reads
        }
        try {
            TRange range(line);
            if (range.IsReversed())
                continue;
            const std::uint32_t steps = range.Last.ToUInt32() - range.First.ToUInt32();
            // The walk itself is the refresh's; a few steps show its arithmetic.
            for (std::uint32_t i = 0; i < steps && i < 300; ++i) {
                if (range.IsLast())
                    __builtin_trap();
                range.Current.Increment();
            }
            if (steps < 300 && !range.IsLast())
                __builtin_trap();
        } catch (const Exception &) {
        }
    }
    return 0;
}
