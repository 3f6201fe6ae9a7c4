#include "MetricsStore.h"

#include "drivedata/DriveDatabase.h"
#include "drivedata/Verdicts.h"
#include "foundation/DateTime.h"

#include <QDateTime>

#include <algorithm>
#include <charconv>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

constexpr std::array<const char *, 5> kStateLabels{"suspected", "rpc_unavailable", "smart_not_supported",
                                                   "unavailable", "good"};
constexpr std::array<const char *, 3> kStageLabels{"ping", "cimv2", "smart"};

double nowSeconds()
{
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

// Appends numbers without a detour through QString: a big answer holds
// hundreds of thousands of them.
void appendNumber(QByteArray &out, std::int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

void appendNumber(QByteArray &out, double value)
{
    if (std::isnan(value)) {
        out.append("NaN");
        return;
    }
    if (std::isinf(value)) {
        out.append(value > 0 ? "+Inf" : "-Inf");
        return;
    }
    if (value == std::floor(value) && std::fabs(value) < 9.0e15) {
        appendNumber(out, static_cast<std::int64_t>(value));
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

// One family's metadata. A counter's samples end in "_total"; OpenMetrics
// names the family without it.
void family(QByteArray &out, TExposition format, const char *name, const char *type, const char *help)
{
    QByteArray familyName(name);
    if (format == TExposition::OpenMetrics && qstrcmp(type, "counter") == 0 && familyName.endsWith("_total"))
        familyName.chop(6);
    out.append("# HELP ").append(familyName).append(' ').append(help).append('\n');
    out.append("# TYPE ").append(familyName).append(' ').append(type).append('\n');
}

template <typename Number>
void sample(QByteArray &out, const char *name, const QByteArray &labels, Number value)
{
    out.append(name);
    if (!labels.isEmpty())
        out.append('{').append(labels).append('}');
    out.append(' ');
    appendNumber(out, value);
    out.append('\n');
}

void label(QByteArray &out, const char *name, const QString &value)
{
    if (!out.isEmpty())
        out.append(',');
    out.append(name).append("=\"").append(EscapeLabelValue(value)).append('"');
}

} // namespace

TExposition ExpositionFromAccept(const QByteArray &accept)
{
    // The preference of each media range ("q", 1 when not given); the text
    // format is what any other range gets.
    double openMetrics = 0;
    double text = 0;
    for (const QByteArray &range : accept.split(',')) {
        const QList<QByteArray> parts = range.split(';');
        const QByteArray type = parts.first().trimmed().toLower();
        double q = 1;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts.at(i).trimmed();
            if (parameter.startsWith("q=")) {
                bool ok = false;
                q = parameter.mid(2).toDouble(&ok);
                if (!ok)
                    q = 0;
            }
        }
        if (type == "application/openmetrics-text")
            openMetrics = std::max(openMetrics, q);
        else if (type == "text/plain" || type == "text/*" || type == "*/*")
            text = std::max(text, q);
    }
    return openMetrics > 0 && openMetrics >= text ? TExposition::OpenMetrics : TExposition::Prometheus;
}

QByteArray ExpositionContentType(TExposition format)
{
    return format == TExposition::OpenMetrics ? QByteArray("application/openmetrics-text; version=1.0.0; charset=utf-8")
                                              : QByteArray("text/plain; version=0.0.4; charset=utf-8");
}

std::optional<TCheckStage> FailedStage(int state)
{
    switch (state) {
    case StateUnavailable:
        return TCheckStage::Ping;
    case StateRpcUnavailable:
        return TCheckStage::Cimv2;
    case StateSmartNotSupported:
        return TCheckStage::Smart;
    default:
        return std::nullopt;
    }
}

QByteArray EscapeLabelValue(const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '\\':
            out.append("\\\\");
            break;
        case '"':
            out.append("\\\"");
            break;
        case '\n':
            out.append("\\n");
            break;
        default:
            out.append(c);
        }
    }
    return out;
}

TComputerMetrics MetricsOfComputer(const QString &name, int state, const TDriveList &drives, double checkSeconds,
                                   const std::function<bool(const TDriveInformation &)> &powerOnInMinutes)
{
    TComputerMetrics computer;
    computer.Name = name;
    label(computer.Labels, "computer", name);
    computer.State = state >= StateSuspected && state <= StateGood ? state : StateUnavailable;
    computer.CheckState = computer.State;
    computer.LastCheckSeconds = checkSeconds;
    if (drives.ReadoutTime > 0)
        computer.LastReadoutSeconds = static_cast<double>(DateTimeToQt(drives.ReadoutTime).toMSecsSinceEpoch()) / 1000.0;
    const TVerdictRules rules = CurrentVerdictRules();
    bool anyFlagged = false;
    for (int i = 0; i < drives.Count(); ++i) {
        const TDriveInformation &drive = drives.Items(i);
        TDriveMetrics d;
        d.Labels = computer.Labels;
        label(d.Labels, "drive", drive.Name);
        label(d.Labels, "model", drive.Model);
        label(d.Labels, "serial", drive.SerialNumber);
        d.Flagged = drive.IsFlagged();
        anyFlagged = anyFlagged || d.Flagged;
        d.TemperatureCurrent = drive.TemperatureCurrent;
        d.TemperatureWorst = drive.TemperatureWorst;
        d.TemperatureLow = drive.TemperatureLow;
        const TDrivePresets presets = PresetsOf(drive, rules);
        for (int slot = 0; slot < drive.UsedSlots(); ++slot) {
            const auto s = static_cast<std::size_t>(slot);
            const int id = drive.AttrId[s];
            if (id < 1 || id > 255)
                continue;
            if (id == 194 || id == 190)
                d.HasTemperature = true;
            if (id == 9) {
                const auto hours = static_cast<double>(static_cast<std::uint32_t>(drive.AttrRaw[s] & 0xffffffff));
                d.PowerOnSeconds = (powerOnInMinutes && powerOnInMinutes(drive) ? hours * 60.0 : hours * 3600.0);
            }
            const QString attributeName = presets[static_cast<std::size_t>(id)].Name;
            d.Attributes.push_back({id, EscapeLabelValue(attributeName.isEmpty() ? u"Unknown_Attribute"_s : attributeName),
                                    drive.AttrCurrent[s], drive.AttrWorst[s], drive.AttrThreshold[s], drive.AttrRaw[s],
                                    drive.AttrState[s]});
        }
        computer.Drives.push_back(std::move(d));
    }
    if (computer.State == StateUnavailable && anyFlagged)
        computer.State = StateSuspected;
    return computer;
}

TMetricsStore::TMetricsStore()
{
    auto first = std::make_shared<Snapshot>();
    first->StartSeconds = nowSeconds();
    m_snapshot = std::move(first);
}

std::shared_ptr<const TMetricsStore::Snapshot> TMetricsStore::snapshot() const
{
    const std::lock_guard lock(m_mutex);
    return m_snapshot;
}

void TMetricsStore::ApplyCycle(std::vector<TComputerMetrics> computers, const QStringList &removedNames,
                               double durationSeconds, double endSeconds, bool replaceAll)
{
    // Only the cycle's thread of control changes the store, so the copy made
    // here cannot miss another change; readers keep the snapshot they hold.
    auto next = std::make_shared<Snapshot>(*snapshot());
    if (replaceAll && !computers.empty())
        next->Computers.clear();
    for (const QString &removed : removedNames)
        next->Computers.erase(BareComputerName(removed).toUpper());
    next->LastErrors = {};
    for (TComputerMetrics &computer : computers) {
        if (const auto stage = FailedStage(computer.CheckState)) {
            ++next->LastErrors[static_cast<std::size_t>(*stage)];
            ++next->ErrorsTotal[static_cast<std::size_t>(*stage)];
        }
        const QString key = BareComputerName(computer.Name).toUpper();
        next->Computers[key] = std::make_shared<const TComputerMetrics>(std::move(computer));
    }
    ++next->Cycles;
    next->LastChecked = computers.size();
    next->ComputersChecked += computers.size();
    next->LastDurationSeconds = durationSeconds;
    next->LastEndSeconds = endSeconds;
    const std::lock_guard lock(m_mutex);
    m_snapshot = std::move(next);
}

std::vector<QString> TMetricsStore::ComputerNames() const
{
    std::vector<QString> names;
    for (const auto &[key, computer] : snapshot()->Computers)
        names.push_back(computer->Name);
    return names;
}

QByteArray TMetricsStore::Render(TExposition format) const
{
    const std::shared_ptr<const Snapshot> s = snapshot();
    QByteArray out;
    std::size_t attributes = 0;
    for (const auto &[key, c] : s->Computers)
        for (const TDriveMetrics &d : c->Drives)
            attributes += d.Attributes.size();
    out.reserve(static_cast<qsizetype>(4096 + s->Computers.size() * 600 + attributes * 5 * 170));

    const auto perComputer = [&](const char *name, const char *help, auto value) {
        family(out, format, name, "gauge", help);
        for (const auto &[key, c] : s->Computers)
            value(*c);
    };
    perComputer("valmora_computer_state",
                "Whether the computer is in the state (1) or not (0): suspected (a drive is flagged), rpc_unavailable "
                "(its drive inventory could not be read), smart_not_supported, unavailable (no echo reply), good.",
                [&](const TComputerMetrics &c) {
                    for (std::size_t i = 0; i < kStateLabels.size(); ++i) {
                        QByteArray labels = c.Labels;
                        labels.append(",state=\"").append(kStateLabels[i]).append('"');
                        sample(out, "valmora_computer_state", labels,
                               std::int64_t{c.State == static_cast<int>(i) + 1 ? 1 : 0});
                    }
                });
    perComputer("valmora_computer_last_readout_timestamp_seconds",
                "When the drives of the computer were last read, as Unix time; absent before its first readout.",
                [&](const TComputerMetrics &c) {
                    if (c.LastReadoutSeconds > 0)
                        sample(out, "valmora_computer_last_readout_timestamp_seconds", c.Labels, c.LastReadoutSeconds);
                });
    perComputer("valmora_computer_last_check_timestamp_seconds",
                "When the computer was last checked (whatever the outcome), as Unix time.",
                [&](const TComputerMetrics &c) {
                    sample(out, "valmora_computer_last_check_timestamp_seconds", c.Labels, c.LastCheckSeconds);
                });

    const auto perDrive = [&](const char *name, const char *help, auto value) {
        family(out, format, name, "gauge", help);
        for (const auto &[key, c] : s->Computers)
            for (const TDriveMetrics &d : c->Drives)
                value(d);
    };
    perDrive("valmora_drive_flagged",
             "Whether an attribute of the drive is not OK or the drive predicts its own failure (1), or not (0).",
             [&](const TDriveMetrics &d) { sample(out, "valmora_drive_flagged", d.Labels, std::int64_t{d.Flagged}); });
    perDrive("valmora_drive_temperature_celsius",
             "The drive's temperatures from attribute 194 (or 190): current, worst (highest) and lowest.",
             [&](const TDriveMetrics &d) {
                 if (!d.HasTemperature)
                     return;
                 const std::pair<const char *, int> kinds[] = {
                     {"current", d.TemperatureCurrent}, {"worst", d.TemperatureWorst}, {"lowest", d.TemperatureLow}};
                 for (const auto &[kind, value] : kinds) {
                     QByteArray labels = d.Labels;
                     labels.append(",kind=\"").append(kind).append('"');
                     sample(out, "valmora_drive_temperature_celsius", labels, std::int64_t{value});
                 }
             });
    perDrive("valmora_drive_power_on_seconds",
             "How long the drive has been powered on (attribute 9, in the unit its family counts).",
             [&](const TDriveMetrics &d) {
                 if (d.PowerOnSeconds)
                     sample(out, "valmora_drive_power_on_seconds", d.Labels, *d.PowerOnSeconds);
             });

    struct AttributeFamily
    {
        const char *name;
        const char *help;
        std::int64_t (*value)(const TAttributeMetrics &);
    };
    const AttributeFamily attributeFamilies[] = {
        {"valmora_drive_attribute_value", "The attribute's current normalised value.",
         [](const TAttributeMetrics &a) { return std::int64_t{a.Current}; }},
        {"valmora_drive_attribute_worst", "The attribute's worst normalised value so far.",
         [](const TAttributeMetrics &a) { return std::int64_t{a.Worst}; }},
        {"valmora_drive_attribute_threshold", "The attribute's threshold; 0 is never crossed.",
         [](const TAttributeMetrics &a) { return std::int64_t{a.Threshold}; }},
        {"valmora_drive_attribute_raw", "The attribute's raw value (48 bits).",
         [](const TAttributeMetrics &a) { return a.Raw; }},
        {"valmora_drive_attribute_verdict",
         "The attribute's verdict: 0 OK, 1 Failing, 2 Failed in past, 3 Warning.",
         [](const TAttributeMetrics &a) { return std::int64_t{a.Verdict}; }},
    };
    QByteArray labels;
    for (const AttributeFamily &f : attributeFamilies) {
        family(out, format, f.name, "gauge", f.help);
        for (const auto &[key, c] : s->Computers)
            for (const TDriveMetrics &d : c->Drives)
                for (const TAttributeMetrics &a : d.Attributes) {
                    labels = d.Labels;
                    labels.append(",id=\"");
                    appendNumber(labels, std::int64_t{a.Id});
                    labels.append("\",attribute=\"").append(a.Name).append('"');
                    sample(out, f.name, labels, f.value(a));
                }
    }

    family(out, format, "valmora_cycles_total", "counter", "Refresh cycles completed since the monitor started.");
    sample(out, "valmora_cycles_total", {}, static_cast<std::int64_t>(s->Cycles));
    family(out, format, "valmora_computers_checked_total", "counter",
           "Computer checks completed since the monitor started.");
    sample(out, "valmora_computers_checked_total", {}, static_cast<std::int64_t>(s->ComputersChecked));
    family(out, format, "valmora_check_errors_total", "counter",
           "Checks that failed since the monitor started, by stage: ping (no echo reply), cimv2 (the drive inventory), "
           "smart (no S.M.A.R.T. data).");
    for (std::size_t i = 0; i < kStageLabels.size(); ++i)
        sample(out, "valmora_check_errors_total", "stage=\""_ba + kStageLabels[i] + '"',
               static_cast<std::int64_t>(s->ErrorsTotal[i]));
    if (s->Cycles > 0) {
        family(out, format, "valmora_last_cycle_duration_seconds", "gauge", "How long the last refresh cycle took.");
        sample(out, "valmora_last_cycle_duration_seconds", {}, s->LastDurationSeconds);
        family(out, format, "valmora_last_cycle_computers_checked", "gauge",
               "How many computers the last refresh cycle checked.");
        sample(out, "valmora_last_cycle_computers_checked", {}, static_cast<std::int64_t>(s->LastChecked));
        family(out, format, "valmora_last_cycle_errors", "gauge",
               "Checks of the last refresh cycle that failed, by stage (as valmora_check_errors_total).");
        for (std::size_t i = 0; i < kStageLabels.size(); ++i)
            sample(out, "valmora_last_cycle_errors", "stage=\""_ba + kStageLabels[i] + '"',
                   static_cast<std::int64_t>(s->LastErrors[i]));
        family(out, format, "valmora_last_cycle_end_timestamp_seconds", "gauge",
               "When the last refresh cycle ended, as Unix time.");
        sample(out, "valmora_last_cycle_end_timestamp_seconds", {}, s->LastEndSeconds);
    }
    family(out, format, "valmora_start_time_seconds", "gauge", "When the monitor started, as Unix time.");
    sample(out, "valmora_start_time_seconds", {}, s->StartSeconds);
    if (format == TExposition::OpenMetrics)
        out.append("# EOF\n");
    return out;
}

} // namespace valmora
