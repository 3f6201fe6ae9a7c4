#pragma once

// One physical drive of one computer (identity, geometry, temperatures and a
// fixed 256-slot S.M.A.R.T. attribute table with a verdict per attribute), the
// drives of one computer, and the decoding and judging of the raw S.M.A.R.T.
// sectors. The decoding and judging are pure logic and allocate nothing.

#include "foundation/DateTime.h"
#include "foundation/Exception.h"
#include "drivedata/NvmeHealth.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace valmora {

// Base of the objects that copy themselves from another object with Assign.
class TPersistent
{
public:
    virtual ~TPersistent() = default;
    // Copies from source when it is of a kind this object understands; otherwise does nothing.
    virtual void Assign(const TPersistent &source);
    // Persistent objects compare by their fields; the base has none.
    bool operator==(const TPersistent &) const = default;
};

inline constexpr int kAttributeSlots = 256;

// The verdict of one attribute. The numbers are those of the readout files.
enum class TAttributeState : std::int32_t {
    Ok = 0,
    Failing = 1,
    FailedInPast = 2,
    Warning = 3,
};

// The one place where verdicts meet the numbers stored in readout files: any
// other number (only a damaged file holds one) is no verdict.
std::optional<TAttributeState> AttributeStateFromNumber(std::int32_t stored);
constexpr std::int32_t AttributeStateNumber(TAttributeState state)
{
    return static_cast<std::int32_t>(state);
}

// "OK", "Failing", "Failed in past", "Warning"; a stored number that is no
// verdict is "Nieznany stan".
QString AttributeStateText(TAttributeState state);
QString AttributeStateText(std::int32_t stored);

class TDriveInformation final : public TPersistent
{
public:
    TDriveInformation() = default;
    TDriveInformation(const TDriveInformation &) = default;
    TDriveInformation &operator=(const TDriveInformation &) = default;

    // Copies every field and all 256 slots of every column from another
    // TDriveInformation; any other kind of source is ignored.
    void Assign(const TPersistent &source) override;
    // True when any of the 256 states is non-zero, used slots or not.
    bool HasFlaggedAttribute() const;
    // The drive itself predicts its failure: Status "Pred Fail", as Windows
    // reports it and as the reader sets it from the drive's own status.
    bool PredictsFailure() const;
    // Flagged by an attribute or by the drive itself: what makes its computer suspected.
    bool IsFlagged() const { return HasFlaggedAttribute() || PredictsFailure() || Health.Flagged(); }
    // The verdict of a slot; nullopt for a stored number that is none.
    std::optional<TAttributeState> State(int slot) const;
    void SetState(int slot, TAttributeState state);
    // AttributeCount bounded to the table: what evaluation and views may walk.
    int UsedSlots() const;

    bool operator==(const TDriveInformation &) const = default;

    std::uint32_t BytesPerSector = 0;
    QString FirmwareRevision;
    QString InterfaceType;
    QString Manufacturer;
    QString MediaType;
    QString Model;
    QString Name;
    std::uint32_t Partitions = 0;
    QString PNPDeviceID;
    std::uint32_t SectorsPerTrack = 0;
    QString SerialNumber;
    std::int64_t Size = 0;
    QString Status;
    std::int64_t TotalCylinders = 0;
    std::uint32_t TotalHeads = 0;
    std::int64_t TotalSectors = 0;
    std::int64_t TotalTracks = 0;
    std::uint32_t TracksPerCylinder = 0;
    std::uint8_t TemperatureCurrent = 0;
    std::uint8_t TemperatureWorst = 0;
    std::uint8_t TemperatureLow = 0;
    // Used slots are 0..AttributeCount-1. A damaged file may hold a value outside
    // 0..256; it is kept as read and bounded wherever the table is walked.
    std::int32_t AttributeCount = 0;

    std::array<std::int32_t, kAttributeSlots> AttrId{};
    std::array<bool, kAttributeSlots> AttrPreFailure{};
    std::array<bool, kAttributeSlots> AttrFlagBit4{};
    std::array<bool, kAttributeSlots> AttrFlagBit3{};
    std::array<std::int32_t, kAttributeSlots> AttrCurrent{};
    std::array<std::int32_t, kAttributeSlots> AttrWorst{};
    std::array<std::int32_t, kAttributeSlots> AttrThreshold{};
    std::array<std::int64_t, kAttributeSlots> AttrRaw{};
    // The verdicts as the readout file stores them (see AttributeStateFromNumber).
    std::array<std::int32_t, kAttributeSlots> AttrState{};
    // Why each slot got its verdict, in words with the numbers; empty when
    // there is nothing to say. Not stored: worked out again at every evaluation.
    std::array<QString, kAttributeSlots> AttrReason{};
    // Why the drive is flagged apart from its attributes (its own prediction,
    // its health figures).
    QString DriveReason;
    // The NVMe health log and the storage classes' figures, with their
    // verdicts; empty for a drive that reports neither. Stored in the
    // readout file's health block.
    TDriveHealth Health;
};

// The Status of a drive that predicts its own failure.
inline constexpr char16_t kStatusPredFail[] = u"Pred Fail";

// The drives of one computer, in the order they were added; owns them.
class TDriveList
{
public:
    TDriveList() = default;
    ~TDriveList() { ClearDrives(); }
    TDriveList(const TDriveList &) = delete;
    TDriveList &operator=(const TDriveList &) = delete;

    int Count() const { return static_cast<int>(m_drives.size()); }
    // Raises EListError "Argument out of range" for an index outside 0..Count-1.
    TDriveInformation &Items(int index);
    const TDriveInformation &Items(int index) const;
    // Appends at the end and returns the new index.
    int Add(std::unique_ptr<TDriveInformation> drive);
    // Frees every drive; ComputerName and ReadoutTime stay.
    void ClearDrives();

    // What the last reading skipped by design: objects and properties that
    // could not be read and were left out (or left zero). Not stored.
    int SkippedObjects = 0;
    int SkippedProperties = 0;

    // Writes the list to path (an empty list to path + "!"), replacing the file
    // in one step, so a failed or killed save leaves the previous file intact.
    // Raises EDriveFileError naming the file.
    void SaveToFile(const QString &path) const;
    // Replaces the list with the file's contents; a missing file changes nothing.
    // A file that cannot be read or is shorter than its header raises
    // EDriveFileError naming the file, and leaves the list as it was.
    void LoadFromFile(const QString &path);

    QString ComputerName;
    TDateTime ReadoutTime = 0;

private:
    std::vector<std::unique_ptr<TDriveInformation>> m_drives;
};

// Raised by the computer information file.
class EDriveFileError final : public Exception
{
public:
    using Exception::Exception;
};

// Appends the attributes of a SMART READ DATA sector to the drive's table and
// sets the temperatures from attribute 194, or from 190 on a drive without 194.
void DecodeAttributeData(TDriveInformation &drive, std::span<const std::uint8_t> data);
// Gives every used slot the threshold of the SMART READ THRESHOLDS entry with
// the same attribute number, or 0 when the sector has none for it.
void DecodeThresholdData(TDriveInformation &drive, std::span<const std::uint8_t> data);
struct TVerdictRules;
// Computes every attribute's state and reason, and the drive's own reason, by
// the rules of Verdicts.h (the process's, when none are given); true when the
// drive is healthy (no state set and no failure predicted).
bool EvaluateDrive(TDriveInformation &drive);
bool EvaluateDrive(TDriveInformation &drive, const TVerdictRules &rules);
// Evaluates every drive; ReadoutTime becomes now whenever a drive is healthy.
// True when every drive is healthy.
bool EvaluateDrives(TDriveList &list);
bool EvaluateDrives(TDriveList &list, const TVerdictRules &rules);

} // namespace valmora
