// libFuzzer target: the S.M.A.R.T. sector decoders and the verdicts, on blocks
// of any length. The first half of the input is the data block, the rest the
// threshold block; the data block is also decoded a second time into the same
// drive, as a computer that reports two blocks for one drive would.
#include "drivedata/SmartTypes.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora;
    const std::size_t half = size / 2;
    const std::span<const std::uint8_t> attributes(data, half);
    const std::span<const std::uint8_t> thresholds(data + half, size - half);
    TDriveInformation drive;
    for (int round = 0; round < 10; ++round) {
        DecodeAttributeData(drive, attributes);
        DecodeThresholdData(drive, thresholds);
        const bool healthy = EvaluateDrive(drive);
        if (drive.AttributeCount < 0 || drive.AttributeCount > kAttributeSlots)
            __builtin_trap();
        if (healthy == drive.HasFlaggedAttribute())
            __builtin_trap();
    }
    return 0;
}
