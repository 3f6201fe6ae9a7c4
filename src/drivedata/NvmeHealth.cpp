#include "NvmeHealth.h"

#include "SmartTypes.h"

#include <QLocale>
#include <QStringList>
#include <QtEndian>

#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

constexpr std::array<const char16_t *, kHealthFieldCount> kNames{
    u"CriticalWarning",
    u"CompositeTemperature",
    u"AvailableSpare",
    u"AvailableSpareThreshold",
    u"PercentageUsed",
    u"DataUnitsRead",
    u"DataUnitsWritten",
    u"PowerCycles",
    u"PowerOnHours",
    u"UnsafeShutdowns",
    u"MediaErrors",
    u"ErrorLogEntries",
    u"WarningTemperatureTime",
    u"CriticalTemperatureTime",
    u"HealthStatus",
    u"BusType",
    u"MediaType",
    u"Temperature",
    u"TemperatureMax",
    u"Wear",
    u"ReadErrorsTotal",
    u"ReadErrorsCorrected",
    u"ReadErrorsUncorrected",
    u"WriteErrorsTotal",
    u"WriteErrorsCorrected",
    u"WriteErrorsUncorrected",
    u"StartStopCycleCount",
};

// Offsets of the SMART / Health Information log page.
constexpr int kOffCriticalWarning = 0;
constexpr int kOffCompositeTemperature = 1; // 16-bit, kelvin
constexpr int kOffAvailableSpare = 3;
constexpr int kOffAvailableSpareThreshold = 4;
constexpr int kOffPercentageUsed = 5;
constexpr int kOffDataUnitsRead = 32; // 128-bit counters from here on
constexpr int kOffDataUnitsWritten = 48;
constexpr int kOffPowerCycles = 112;
constexpr int kOffPowerOnHours = 128;
constexpr int kOffUnsafeShutdowns = 144;
constexpr int kOffMediaErrors = 160;
constexpr int kOffErrorLogEntries = 176;
constexpr int kOffWarningTemperatureTime = 192; // 32-bit, minutes
constexpr int kOffCriticalTemperatureTime = 196;
constexpr int kKelvin = 273;
constexpr std::uint64_t kWornOut = 90;

std::uint64_t counter128(std::span<const std::uint8_t> page, int at)
{
    const std::uint64_t low = qFromLittleEndian<std::uint64_t>(page.data() + at);
    const std::uint64_t high = qFromLittleEndian<std::uint64_t>(page.data() + at + 8);
    return high != 0 ? std::numeric_limits<std::uint64_t>::max() : low;
}

QString number(std::uint64_t n)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(static_cast<qulonglong>(n));
}

QString dayText(QDate day)
{
    return QLocale::c().toString(day, u"d MMM yyyy"_s);
}

QString healthStatusText(std::uint64_t v)
{
    switch (v) {
    case 0:
        return u"Healthy"_s;
    case 1:
        return u"Warning"_s;
    case 2:
        return u"Unhealthy"_s;
    case 5:
        return u"Unknown"_s;
    default:
        return QString::number(v);
    }
}

QString busTypeText(std::uint64_t v)
{
    static const std::array<const char16_t *, 19> names{
        u"Unknown", u"SCSI",         u"ATAPI", u"ATA", u"1394",     u"SSA",  u"Fibre Channel",
        u"USB",     u"RAID",         u"iSCSI", u"SAS", u"SATA",     u"SD",   u"MMC",
        u"Virtual", u"File Backed Virtual", u"Storage Spaces", u"NVMe", u"SCM"};
    return v < names.size() ? QString::fromUtf16(names[v]) : QString::number(v);
}

QString mediaTypeText(std::uint64_t v)
{
    switch (v) {
    case 0:
        return u"Unspecified"_s;
    case 3:
        return u"HDD"_s;
    case 4:
        return u"SSD"_s;
    case 5:
        return u"SCM"_s;
    default:
        return QString::number(v);
    }
}

struct Verdict
{
    TAttributeState state = TAttributeState::Ok;
    QStringList reasons;
    void raise(TAttributeState to, const QString &reason)
    {
        // Failing outranks Warning; neither is ever lowered.
        if (state == TAttributeState::Ok || (to == TAttributeState::Failing && state != TAttributeState::Failing))
            state = to;
        reasons.append(reason);
    }
};

// A count that warns while above 0 until acknowledged at it, and tells its growth.
void judgeCount(Verdict &v, std::uint64_t count, const TBaselineCount *base, const QString &what)
{
    const bool acknowledged = base && base->Acknowledged && count <= base->Count;
    if (count > 0 && !acknowledged)
        v.raise(TAttributeState::Warning, u"%1 %2"_s.arg(number(count), what));
    if (base && count > base->Count)
        v.raise(TAttributeState::Warning,
                u"%1 grew from %2 to %3 since %4"_s.arg(what, number(base->Count), number(count), dayText(base->Since)));
}

} // namespace

QString HealthFieldName(THealthField field)
{
    return QString::fromUtf16(kNames[static_cast<std::size_t>(field)]);
}

std::optional<THealthField> HealthFieldByName(const QString &name)
{
    for (int f = 0; f < kHealthFieldCount; ++f)
        if (name == QString::fromUtf16(kNames[static_cast<std::size_t>(f)]))
            return static_cast<THealthField>(f);
    return std::nullopt;
}

QString CriticalWarningBitText(int bit)
{
    switch (bit) {
    case 0:
        return u"available spare below threshold"_s;
    case 1:
        return u"temperature outside its thresholds"_s;
    case 2:
        return u"reliability degraded"_s;
    case 3:
        return u"media in read-only mode"_s;
    case 4:
        return u"volatile memory backup failed"_s;
    case 5:
        return u"persistent memory region read-only"_s;
    default:
        return u"critical warning bit %1"_s.arg(bit);
    }
}

QString OperationalStatusText(std::uint64_t code)
{
    static const std::array<const char16_t *, 19> names{
        u"Unknown",     u"Other",   u"OK",         u"Degraded",          u"Stressed",
        u"Predictive Failure",      u"Error",      u"Non-Recoverable Error", u"Starting",
        u"Stopping",    u"Stopped", u"In Service", u"No Contact",        u"Lost Communication",
        u"Aborted",     u"Dormant", u"Supporting Entity in Error",       u"Completed",
        u"Power Mode"};
    return code < names.size() ? QString::fromUtf16(names[code]) : QString::number(code);
}

bool TDriveHealth::Empty() const
{
    return !HasLog() && !HasStorage();
}

bool TDriveHealth::HasLog() const
{
    // Every page has its warning bits; PowerOnHours also comes from the counters.
    return Value(THealthField::CriticalWarning).has_value();
}

bool TDriveHealth::HasStorage() const
{
    if (!OperationalStatus.isEmpty())
        return true;
    for (int f = kHealthLogFieldCount; f < kHealthFieldCount; ++f)
        if (Values[static_cast<std::size_t>(f)])
            return true;
    return false;
}

bool TDriveHealth::HasFigures() const
{
    if (HasLog() || !OperationalStatus.isEmpty())
        return true;
    for (int f = kHealthLogFieldCount; f < kHealthFieldCount; ++f) {
        const auto field = static_cast<THealthField>(f);
        if (field != THealthField::BusType && field != THealthField::MediaType && Value(field))
            return true;
    }
    return false;
}

bool TDriveHealth::Flagged() const
{
    if (OperationalState != 0)
        return true;
    return std::any_of(States.begin(), States.end(), [](std::int32_t s) { return s != 0; });
}

QString TDriveHealth::ReasonText() const
{
    QStringList reasons;
    for (int f = 0; f < kHealthFieldCount; ++f) {
        const auto i = static_cast<std::size_t>(f);
        if (States[i] != 0 && !Reasons[i].isEmpty())
            reasons.append(Reasons[i]);
        if (static_cast<THealthField>(f) == THealthField::HealthStatus && OperationalState != 0)
            reasons.append(OperationalReason);
    }
    return reasons.join(u"; "_s);
}

QString TDriveHealth::ValueText(THealthField f) const
{
    const std::optional<std::uint64_t> v = Value(f);
    if (!v)
        return QString();
    switch (f) {
    case THealthField::CriticalWarning:
        return u"0x%1"_s.arg(*v, 2, 16, QChar(u'0'));
    case THealthField::HealthStatus:
        return healthStatusText(*v);
    case THealthField::BusType:
        return busTypeText(*v);
    case THealthField::MediaType:
        return mediaTypeText(*v);
    default:
        return QString::number(*v);
    }
}

std::optional<TDriveHealth> DecodeHealthLog(std::span<const std::uint8_t> page)
{
    if (page.size() != static_cast<std::size_t>(kHealthLogSize))
        return std::nullopt;
    TDriveHealth h;
    h.Set(THealthField::CriticalWarning, page[kOffCriticalWarning]);
    const std::uint16_t kelvin = qFromLittleEndian<std::uint16_t>(page.data() + kOffCompositeTemperature);
    // Below 0 °C an unsigned figure would wrap: such a drive reads as 0 °C.
    if (kelvin != 0)
        h.Set(THealthField::CompositeTemperature, kelvin > kKelvin ? std::uint64_t{kelvin} - kKelvin : 0);
    h.Set(THealthField::AvailableSpare, page[kOffAvailableSpare]);
    h.Set(THealthField::AvailableSpareThreshold, page[kOffAvailableSpareThreshold]);
    h.Set(THealthField::PercentageUsed, page[kOffPercentageUsed]);
    h.Set(THealthField::DataUnitsRead, counter128(page, kOffDataUnitsRead));
    h.Set(THealthField::DataUnitsWritten, counter128(page, kOffDataUnitsWritten));
    h.Set(THealthField::PowerCycles, counter128(page, kOffPowerCycles));
    h.Set(THealthField::PowerOnHours, counter128(page, kOffPowerOnHours));
    h.Set(THealthField::UnsafeShutdowns, counter128(page, kOffUnsafeShutdowns));
    h.Set(THealthField::MediaErrors, counter128(page, kOffMediaErrors));
    h.Set(THealthField::ErrorLogEntries, counter128(page, kOffErrorLogEntries));
    h.Set(THealthField::WarningTemperatureTime, qFromLittleEndian<std::uint32_t>(page.data() + kOffWarningTemperatureTime));
    h.Set(THealthField::CriticalTemperatureTime,
          qFromLittleEndian<std::uint32_t>(page.data() + kOffCriticalTemperatureTime));
    return h;
}

std::map<int, std::uint64_t> HealthCounts(const TDriveHealth &health)
{
    std::map<int, std::uint64_t> counts;
    const auto add = [&](int id, THealthField f) {
        if (const auto v = health.Value(f))
            counts[id] = *v;
    };
    add(kBaselineMediaErrors, THealthField::MediaErrors);
    add(kBaselineReadUncorrected, THealthField::ReadErrorsUncorrected);
    add(kBaselineWriteUncorrected, THealthField::WriteErrorsUncorrected);
    return counts;
}

bool JudgeHealth(TDriveHealth &health, const TBaselineCounts &baseline)
{
    health.States.fill(0);
    health.Reasons.fill(QString());
    health.OperationalState = 0;
    health.OperationalReason.clear();
    const auto baseOf = [&](int id) -> const TBaselineCount * {
        const auto it = baseline.find(id);
        return it != baseline.end() ? &it->second : nullptr;
    };

    for (int f = 0; f < kHealthFieldCount; ++f) {
        const auto field = static_cast<THealthField>(f);
        const std::optional<std::uint64_t> value = health.Value(field);
        if (!value)
            continue;
        const std::uint64_t v = *value;
        Verdict verdict;
        switch (field) {
        case THealthField::CriticalWarning:
            for (int bit = 0; bit < 8; ++bit)
                if (v & (std::uint64_t{1} << bit))
                    verdict.raise(TAttributeState::Failing, CriticalWarningBitText(bit));
            break;
        case THealthField::AvailableSpare:
            if (const auto threshold = health.Value(THealthField::AvailableSpareThreshold); threshold && v < *threshold)
                verdict.raise(TAttributeState::Failing,
                              u"available spare %1 % below its threshold of %2 %"_s.arg(v).arg(*threshold));
            break;
        case THealthField::PercentageUsed:
            if (v >= kWornOut)
                verdict.raise(TAttributeState::Warning, u"%1 % of the rated life used"_s.arg(v));
            break;
        case THealthField::Wear:
            if (v >= kWornOut)
                verdict.raise(TAttributeState::Warning, u"wear at %1 %"_s.arg(v));
            break;
        case THealthField::MediaErrors:
            judgeCount(verdict, v, baseOf(kBaselineMediaErrors), u"media and data-integrity errors"_s);
            break;
        case THealthField::ReadErrorsUncorrected:
            judgeCount(verdict, v, baseOf(kBaselineReadUncorrected), u"uncorrected read errors"_s);
            break;
        case THealthField::WriteErrorsUncorrected:
            judgeCount(verdict, v, baseOf(kBaselineWriteUncorrected), u"uncorrected write errors"_s);
            break;
        case THealthField::HealthStatus:
            if (v == kHealthUnhealthy)
                verdict.raise(TAttributeState::Failing, u"the system reports the drive unhealthy"_s);
            else if (v == kHealthWarning)
                verdict.raise(TAttributeState::Warning, u"the system reports a warning for the drive"_s);
            break;
        default:
            break;
        }
        health.States[static_cast<std::size_t>(f)] = AttributeStateNumber(verdict.state);
        health.Reasons[static_cast<std::size_t>(f)] = verdict.reasons.join(u"; "_s);
    }
    if (health.OperationalStatus.split(u", "_s).contains(u"Predictive Failure"_s)) {
        health.OperationalState = AttributeStateNumber(TAttributeState::Failing);
        health.OperationalReason = u"the system predicts the drive's failure"_s;
    }
    return !health.Flagged();
}

} // namespace valmora
