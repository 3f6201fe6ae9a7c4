#include "SmartTypes.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

void TPersistent::Assign(const TPersistent &) {}

std::optional<TAttributeState> AttributeStateFromNumber(std::int32_t stored)
{
    switch (stored) {
    case AttributeStateNumber(TAttributeState::Ok):
    case AttributeStateNumber(TAttributeState::Failing):
    case AttributeStateNumber(TAttributeState::FailedInPast):
    case AttributeStateNumber(TAttributeState::Warning):
        return static_cast<TAttributeState>(stored);
    default:
        return std::nullopt;
    }
}

QString AttributeStateText(TAttributeState state)
{
    switch (state) {
    case TAttributeState::Ok:
        return u"OK"_s;
    case TAttributeState::Failing:
        return u"Failing"_s;
    case TAttributeState::FailedInPast:
        return u"Failed in past"_s;
    case TAttributeState::Warning:
        return u"Warning"_s;
    }
    return u"Nieznany stan"_s;
}

QString AttributeStateText(std::int32_t stored)
{
    const auto state = AttributeStateFromNumber(stored);
    return state ? AttributeStateText(*state) : u"Nieznany stan"_s;
}

void TDriveInformation::Assign(const TPersistent &source)
{
    if (const auto *drive = dynamic_cast<const TDriveInformation *>(&source); drive && drive != this)
        *this = *drive;
}

bool TDriveInformation::HasFlaggedAttribute() const
{
    return std::any_of(AttrState.begin(), AttrState.end(),
                       [](std::int32_t s) { return s != AttributeStateNumber(TAttributeState::Ok); });
}

bool TDriveInformation::PredictsFailure() const
{
    return Status.compare(QStringView(kStatusPredFail), Qt::CaseInsensitive) == 0;
}

std::optional<TAttributeState> TDriveInformation::State(int slot) const
{
    if (slot < 0 || slot >= kAttributeSlots)
        return std::nullopt;
    return AttributeStateFromNumber(AttrState[static_cast<std::size_t>(slot)]);
}

void TDriveInformation::SetState(int slot, TAttributeState state)
{
    if (slot >= 0 && slot < kAttributeSlots)
        AttrState[static_cast<std::size_t>(slot)] = AttributeStateNumber(state);
}

int TDriveInformation::UsedSlots() const
{
    return std::clamp(AttributeCount, 0, kAttributeSlots);
}

TDriveInformation &TDriveList::Items(int index)
{
    if (index < 0 || index >= Count())
        throw EListError(u"Argument out of range"_s);
    return *m_drives[static_cast<std::size_t>(index)];
}

const TDriveInformation &TDriveList::Items(int index) const
{
    return const_cast<TDriveList *>(this)->Items(index);
}

int TDriveList::Add(std::unique_ptr<TDriveInformation> drive)
{
    if (!drive)
        throw EListError(u"Argument out of range"_s);
    m_drives.push_back(std::move(drive));
    return Count() - 1;
}

void TDriveList::ClearDrives()
{
    m_drives.clear();
}

namespace {

// A S.M.A.R.T. sector holds a two-byte revision, then a table of 30 entries of
// 12 bytes (bytes 2 to 361). What follows is the sector's status fields and
// checksum, never attributes.
constexpr std::size_t kTableOffset = 2;
constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kTableEntries = 30;

// Entries that lie wholly inside the block, at most the 30 of the table.
std::size_t EntriesIn(std::span<const std::uint8_t> block)
{
    if (block.size() < kTableOffset)
        return 0;
    return std::min(kTableEntries, (block.size() - kTableOffset) / kEntrySize);
}

// The temperatures from a temperature entry's raw bytes: current, low, worst.
void setTemperatures(TDriveInformation &drive, const std::uint8_t *entry)
{
    const std::uint8_t *raw = entry + 5;
    drive.TemperatureCurrent = raw[0];
    drive.TemperatureLow = raw[2];
    drive.TemperatureWorst = raw[4];
    // Drives that keep the temperature in the normalised value keep its
    // highest one in the normalised worst.
    if (drive.TemperatureCurrent == entry[3])
        drive.TemperatureWorst = entry[4];
}

} // namespace

void DecodeAttributeData(TDriveInformation &drive, std::span<const std::uint8_t> data)
{
    const std::size_t entries = EntriesIn(data);
    for (std::size_t e = 0; e < entries; ++e) {
        const std::uint8_t *entry = data.data() + kTableOffset + e * kEntrySize;
        // Drives leave empty entries between used ones; stopping at the first
        // would hide the attributes after it.
        if (entry[0] == 0)
            continue;
        const int slot = drive.UsedSlots();
        // A second sector for the same drive may not overflow the table.
        if (slot >= kAttributeSlots)
            return;
        const auto i = static_cast<std::size_t>(slot);
        const std::uint16_t flags = static_cast<std::uint16_t>(entry[1] | (entry[2] << 8));
        const std::uint8_t *raw = entry + 5;
        std::uint64_t rawValue = 0;
        for (int b = 5; b >= 0; --b)
            rawValue = (rawValue << 8) | raw[b];

        drive.AttrId[i] = entry[0];
        drive.AttrPreFailure[i] = (flags & 0x01) != 0;
        drive.AttrFlagBit4[i] = (flags & 0x10) != 0;
        drive.AttrFlagBit3[i] = (flags & 0x08) != 0;
        drive.AttrCurrent[i] = entry[3];
        drive.AttrWorst[i] = entry[4];
        drive.AttrRaw[i] = static_cast<std::int64_t>(rawValue);

        if (entry[0] == 194)
            setTemperatures(drive, entry);
        drive.AttributeCount = slot + 1;
    }
    // Some drives report the temperature as airflow temperature (190) only.
    const auto has = [&drive](int id) {
        const auto used = drive.AttrId.begin() + drive.UsedSlots();
        return std::find(drive.AttrId.begin(), used, id) != used;
    };
    if (!has(194) && has(190))
        for (std::size_t e = 0; e < entries; ++e) {
            const std::uint8_t *entry = data.data() + kTableOffset + e * kEntrySize;
            if (entry[0] == 190)
                setTemperatures(drive, entry);
        }
}

void DecodeThresholdData(TDriveInformation &drive, std::span<const std::uint8_t> data)
{
    // Thresholds are matched by attribute number: the sector need not list the
    // attributes in the order of the data sector, and may skip or add some.
    std::array<std::uint8_t, 256> threshold{};
    std::array<bool, 256> listed{};
    const std::size_t entries = EntriesIn(data);
    for (std::size_t e = 0; e < entries; ++e) {
        const std::uint8_t *entry = data.data() + kTableOffset + e * kEntrySize;
        if (entry[0] == 0 || listed[entry[0]])
            continue;
        listed[entry[0]] = true;
        threshold[entry[0]] = entry[1];
    }
    const int used = drive.UsedSlots();
    for (int s = 0; s < used; ++s) {
        const auto i = static_cast<std::size_t>(s);
        const std::int32_t id = drive.AttrId[i];
        // No threshold entry: threshold 0, the attribute is not judged.
        drive.AttrThreshold[i] = (id > 0 && id < 256) ? threshold[static_cast<std::size_t>(id)] : 0;
    }
}

} // namespace valmora
