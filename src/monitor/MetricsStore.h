#pragma once

// What the monitor tells Prometheus: the last known state of every computer,
// drive and attribute, and figures of the refresh cycles, kept as one
// immutable snapshot per cycle and rendered in the text exposition format
// (or OpenMetrics) on request. Rendering never waits for a cycle.

#include "refresh/ComputerCheck.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace valmora {

enum class TExposition {
    Prometheus,  // text/plain; version=0.0.4
    OpenMetrics, // application/openmetrics-text; version=1.0.0
};

// The format an Accept header asks for: OpenMetrics only when it names it.
TExposition ExpositionFromAccept(const QByteArray &accept);
QByteArray ExpositionContentType(TExposition format);

struct TAttributeMetrics
{
    int Id = 0;
    QByteArray Name; // as the drive database names it, escaped for a label
    std::int32_t Current = 0;
    std::int32_t Worst = 0;
    std::int32_t Threshold = 0;
    std::int64_t Raw = 0;
    std::int32_t Verdict = 0; // 0 OK, 1 Failing, 2 Failed in past, 3 Warning
};

struct TDriveMetrics
{
    // computer="…",drive="…",model="…",serial="…", escaped once when built.
    QByteArray Labels;
    bool Flagged = false;
    bool HasTemperature = false;
    int TemperatureCurrent = 0;
    int TemperatureWorst = 0;
    int TemperatureLow = 0;
    std::optional<double> PowerOnSeconds;
    std::vector<TAttributeMetrics> Attributes;
};

struct TComputerMetrics
{
    QString Name;
    QByteArray Labels; // computer="…"
    int State = StateGood;      // as shown: unavailable with a flagged readout is suspected
    int CheckState = StateGood; // what the check itself found, for the errors by stage
    double LastReadoutSeconds = 0; // Unix time; 0: no readout yet
    double LastCheckSeconds = 0;
    std::vector<TDriveMetrics> Drives;
};

// The stages a check can fail at, as the errors' "stage" label names them.
enum class TCheckStage { Ping, Cimv2, Smart, Count };
// The stage whose failure gives a computer state; nullopt for Good and Suspected.
std::optional<TCheckStage> FailedStage(int state);

// Label values escaped as the exposition formats require: backslash, double
// quote and line feed.
QByteArray EscapeLabelValue(const QString &value);

// The metrics of one checked computer. drives is what the computer's readout
// holds now (the batch's, or the stored one when the check read none); an
// unavailable computer whose readout holds a flagged drive counts as suspected,
// as the window shows it. powerOnInMinutes tells, per drive, whether attribute
// 9 counts minutes. The readout time is the list's own (0 when it has none);
// the caller may know better.
TComputerMetrics MetricsOfComputer(const QString &name, int state, const TDriveList &drives, double checkSeconds,
                                   const std::function<bool(const TDriveInformation &)> &powerOnInMinutes);

class TMetricsStore
{
public:
    TMetricsStore();

    // One cycle's outcome: its computers replace what was known of them, the
    // removed names go, and the cycle's figures are counted. With replaceAll
    // (the first cycle after the settings changed) the cycle's computers are
    // all there are, unless it checked none.
    void ApplyCycle(std::vector<TComputerMetrics> computers, const QStringList &removedNames, double durationSeconds,
                    double endSeconds, bool replaceAll = false);

    QByteArray Render(TExposition format) const;

    // The computers known now, by name (for tests and the log).
    std::vector<QString> ComputerNames() const;

private:
    struct Snapshot
    {
        // By host name, upper-cased: one entry per computer.
        std::map<QString, std::shared_ptr<const TComputerMetrics>> Computers;
        std::uint64_t Cycles = 0;
        std::uint64_t ComputersChecked = 0;
        std::array<std::uint64_t, static_cast<std::size_t>(TCheckStage::Count)> ErrorsTotal{};
        std::array<std::uint64_t, static_cast<std::size_t>(TCheckStage::Count)> LastErrors{};
        double LastDurationSeconds = 0;
        std::uint64_t LastChecked = 0;
        double LastEndSeconds = 0;
        double StartSeconds = 0;
    };
    std::shared_ptr<const Snapshot> snapshot() const;

    mutable std::mutex m_mutex;
    std::shared_ptr<const Snapshot> m_snapshot;
};

} // namespace valmora
