#pragma once

// The health of a drive that has no S.M.A.R.T. attribute table: the NVMe
// SMART / Health Information log (log page 0x02, 512 bytes) and what Windows
// tells of every drive in root\Microsoft\Windows\Storage (MSFT_PhysicalDisk and
// its MSFT_StorageReliabilityCounter). Each figure is a named field that a
// drive reports or not; the verdicts use the words of the attribute states.

#include "DriveBaseline.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace valmora {

// The named figures, in the order they are shown. The first fourteen come
// from the NVMe health log; PowerOnHours also from the reliability counters.
enum class THealthField : int {
    CriticalWarning,
    CompositeTemperature,    // °C
    AvailableSpare,          // %
    AvailableSpareThreshold, // %
    PercentageUsed,          // %
    DataUnitsRead,           // thousands of 512-byte units
    DataUnitsWritten,
    PowerCycles,
    PowerOnHours,
    UnsafeShutdowns,
    MediaErrors,
    ErrorLogEntries,
    WarningTemperatureTime,  // minutes
    CriticalTemperatureTime, // minutes
    // MSFT_PhysicalDisk
    HealthStatus, // 0 Healthy, 1 Warning, 2 Unhealthy, 5 Unknown
    BusType,      // 17 NVMe, 11 SATA, ...
    MediaType,    // 3 HDD, 4 SSD, 5 SCM, 0 Unspecified
    // MSFT_StorageReliabilityCounter
    Temperature, // °C
    TemperatureMax,
    Wear, // % of the rated life used
    ReadErrorsTotal,
    ReadErrorsCorrected,
    ReadErrorsUncorrected,
    WriteErrorsTotal,
    WriteErrorsCorrected,
    WriteErrorsUncorrected,
    StartStopCycleCount,
};
inline constexpr int kHealthFieldCount = static_cast<int>(THealthField::StartStopCycleCount) + 1;
inline constexpr int kHealthLogFieldCount = static_cast<int>(THealthField::CriticalTemperatureTime) + 1;
inline constexpr int kHealthLogSize = 512;

// The field's name as programs see it ("CriticalWarning", "PowerOnHours", ...).
QString HealthFieldName(THealthField field);
std::optional<THealthField> HealthFieldByName(const QString &name);

// The words of the critical-warning bits 0 to 5 ("available spare below
// threshold", ...); a reserved bit reads "critical warning bit N".
QString CriticalWarningBitText(int bit);

// HealthStatus values of MSFT_PhysicalDisk.
inline constexpr std::uint64_t kHealthHealthy = 0;
inline constexpr std::uint64_t kHealthWarning = 1;
inline constexpr std::uint64_t kHealthUnhealthy = 2;
// BusType of MSFT_PhysicalDisk for an NVMe drive.
inline constexpr std::uint64_t kBusTypeNvme = 17;

struct TDriveHealth
{
    std::array<std::optional<std::uint64_t>, kHealthFieldCount> Values{};
    // MSFT_PhysicalDisk's OperationalStatus in words, joined with ", "
    // ("OK", "Predictive Failure"); empty when not reported.
    QString OperationalStatus;

    // The verdicts, as attribute state numbers, and their reasons: worked out
    // at every evaluation, not stored.
    std::array<std::int32_t, kHealthFieldCount> States{};
    std::array<QString, kHealthFieldCount> Reasons{};
    std::int32_t OperationalState = 0;
    QString OperationalReason;

    bool operator==(const TDriveHealth &) const = default;

    std::optional<std::uint64_t> Value(THealthField f) const { return Values[static_cast<std::size_t>(f)]; }
    void Set(THealthField f, std::optional<std::uint64_t> v) { Values[static_cast<std::size_t>(f)] = v; }
    std::int32_t StateOf(THealthField f) const { return States[static_cast<std::size_t>(f)]; }
    const QString &ReasonOf(THealthField f) const { return Reasons[static_cast<std::size_t>(f)]; }
    // Nothing reported at all.
    bool Empty() const;
    // The figures of an NVMe health log are present.
    bool HasLog() const;
    // Some figure of the storage classes (HealthStatus, counters) is present.
    bool HasStorage() const;
    // Some figure that tells the drive's health (what the bus and media type
    // alone do not): the computer then is no computer without health data.
    bool HasFigures() const;
    // Any verdict other than "OK".
    bool Flagged() const;
    // The reasons of the flagged figures, in field order, joined with "; ".
    QString ReasonText() const;
    // The value as shown: hexadecimal for the warning bits, words for the
    // storage classes' codes, plain decimal otherwise; empty when not reported.
    QString ValueText(THealthField f) const;
};

// Reads the figures of a 512-byte SMART / Health Information log page; the
// 128-bit counters saturate at 2^64-1. A composite temperature of 0 kelvin is
// no temperature. nullopt when the page is not 512 bytes.
std::optional<TDriveHealth> DecodeHealthLog(std::span<const std::uint8_t> page);

// The words of one OperationalStatus code of MSFT_PhysicalDisk ("OK",
// "Predictive Failure", ...); the number itself for a code without words.
QString OperationalStatusText(std::uint64_t code);

// The baseline numbers of the counts whose growth warns (they live beside the
// attribute numbers of the sector counts, above 255).
inline constexpr int kBaselineMediaErrors = 1000 + static_cast<int>(THealthField::MediaErrors);
inline constexpr int kBaselineReadUncorrected = 1000 + static_cast<int>(THealthField::ReadErrorsUncorrected);
inline constexpr int kBaselineWriteUncorrected = 1000 + static_cast<int>(THealthField::WriteErrorsUncorrected);

// The counts of the health whose growth warns, by their baseline numbers.
std::map<int, std::uint64_t> HealthCounts(const TDriveHealth &health);

// Gives every reported figure its verdict and reason: a critical-warning bit
// or the spare below its threshold fails; wear of 90 % or more warns; media
// errors and uncorrected read or write errors warn while above 0 and not
// acknowledged at that count, and tell their growth since the baseline;
// HealthStatus Unhealthy or OperationalStatus "Predictive Failure" fail, and
// HealthStatus Warning warns. True when nothing is flagged.
bool JudgeHealth(TDriveHealth &health, const TBaselineCounts &baseline);

} // namespace valmora
