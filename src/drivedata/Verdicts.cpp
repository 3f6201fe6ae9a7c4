#include "Verdicts.h"

#include "SmartTypes.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

// Never destroyed: a thread still judging while the process ends must not
// meet a destroyed lock. Programs write the baseline out with FlushVerdictRules.
struct TProcessRules
{
    std::mutex mutex;
    TVerdictRules rules;
};
TProcessRules &processRules()
{
    static auto *rules = new TProcessRules;
    return *rules;
}

// A count no drive of today reaches in sectors (about 560 TB of 512-byte
// sectors): the bound when the drive does not say how many it has.
constexpr std::uint64_t kSectorBoundWithoutSize = std::uint64_t{1} << 40;

// Names the drive database gives these attributes where they count bad
// sectors or blocks; under any other name (an SSD's "Host_Reads_GiB" in 198)
// the raw field is no such count.
const QStringList kPendingNames{u"Current_Pending_Sector"_s, u"Pending_Sector_Count"_s, u"Current_Pending_ECC_Cnt"_s};
const QStringList kUncorrectableNames{u"Offline_Uncorrectable"_s, u"Offline_Scan_UNC_SectCt"_s,
                                      u"Uncor_Read_Error_Ct"_s, u"Uncorrectable_Sector_Ct"_s};
const QStringList kReallocatedNames{u"Reallocated_Sector_Ct"_s,   u"Retired_Block_Count"_s,
                                    u"Reallocated_Block_Count"_s, u"Reallocate_NAND_Blk_Cnt"_s,
                                    u"Runtime_Bad_Block"_s,       u"New_Bad_Blk_Cnt"_s,
                                    u"Later_Bad_Block"_s};
const QStringList kEventNames{u"Reallocated_Event_Count"_s};

bool countsBadSectors(int id, const TAttributeFormat &f)
{
    switch (id) {
    case 5:
        return kReallocatedNames.contains(f.Name);
    case 196:
        return kEventNames.contains(f.Name);
    case 197:
        return kPendingNames.contains(f.Name) || f.Increasing;
    case 198:
        return kUncorrectableNames.contains(f.Name) || f.Increasing;
    default:
        return false;
    }
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

struct Verdict
{
    TAttributeState state = TAttributeState::Ok;
    QStringList reasons;

    // Added rules never lower what the seed rules found; they add their reason.
    void raise(TAttributeState to, const QString &reason)
    {
        if (state == TAttributeState::Ok)
            state = to;
        reasons.append(reason);
    }
};

// Error rates that Seagate drives (model numbers "ST" and digits) normalise
// from a raw field packing an error count beside an operation count: their
// healthy drives sit in the lower half of the scale (55 to 80 against
// thresholds of 30 to 45), so the middle mark tells nothing there. The same
// holds wherever the drive database gives these attributes a packed format.
bool middleMarkMisleads(const TDriveInformation &drive, int id, const TAttributeFormat &format)
{
    if (id != 1 && id != 7 && id != 195)
        return false;
    static const QRegularExpression seagate(u"^ST[0-9]"_s);
    return format.Format.contains(u'/') || seagate.match(drive.Model.trimmed()).hasMatch();
}

// The accepted value of a value warning: it stands while the value does not fall below it.
bool acceptedAt(const TBaselineCount *base, std::int64_t current)
{
    return base && base->Acknowledged && base->Value && current >= *base->Value;
}

// What the thresholds say: an attribute at or below its non-zero threshold
// has crossed it (the ATA rule); a pre-failure one then fails, a usage
// (old-age) one warns, and one that crossed only in the past is told without
// flagging the drive. Then the middle mark and attribute 5 above 500.
// Returns true when the rule of 5 above 500 fired.
bool thresholdRules(const TDriveInformation &drive, std::size_t i, const TAttributeFormat &format,
                    const TBaselineCount *base, Verdict &v)
{
    // 64-bit arithmetic: a damaged file may hold any 32-bit value here.
    const std::int64_t id = drive.AttrId[i];
    const std::int64_t current = drive.AttrCurrent[i];
    const std::int64_t worst = drive.AttrWorst[i];
    const std::int64_t thr = drive.AttrThreshold[i];
    const std::int64_t best = ((id == 3 || id == 4) && current > 230) ? 253 : 100;
    if (thr == 0)
        return false;
    if (!drive.AttrPreFailure[i]) {
        if (current <= thr && !acceptedAt(base, current))
            v.raise(TAttributeState::Warning, u"usage attribute at its threshold"_s);
        else if (worst <= thr)
            v.reasons.append(u"usage attribute at its threshold in the past"_s);
        return false;
    }
    // Reallocated sectors are counted in the low 32 bits of the raw value;
    // some drives keep vendor data in the two high bytes.
    const std::uint64_t reallocated = static_cast<std::uint64_t>(drive.AttrRaw[i]) & 0xFFFFFFFFu;
    if (current <= thr)
        v.raise(TAttributeState::Failing, u"current %1 is at or below the threshold %2"_s.arg(current).arg(thr));
    else if (worst <= thr)
        v.raise(TAttributeState::FailedInPast, u"worst %1 fell to the threshold in the past"_s.arg(worst));
    else if (current < thr + (best - thr) / 2 && !middleMarkMisleads(drive, static_cast<int>(id), format)) {
        if (!acceptedAt(base, current))
            v.raise(TAttributeState::Warning, u"in the lower half between threshold %1 and %2"_s.arg(thr).arg(best));
    } else if (id == 5 && reallocated > 500) {
        if (!(base && base->Acknowledged && reallocated <= base->Count))
            v.raise(TAttributeState::Warning, u"%1 reallocated sectors (more than 500)"_s.arg(number(reallocated)));
        return true;
    }
    return false;
}

QString countReason(int id, std::uint64_t count)
{
    if (id == 5)
        return count == 1 ? u"1 sector was reallocated"_s : u"%1 sectors were reallocated"_s.arg(number(count));
    if (id == 196)
        return count == 1 ? u"1 reallocation event"_s : u"%1 reallocation events"_s.arg(number(count));
    if (id == 197)
        return count == 1 ? u"1 sector waits to be remapped"_s
                          : u"%1 sectors wait to be remapped"_s.arg(number(count));
    return count == 1 ? u"1 sector could not be read or corrected"_s
                      : u"%1 sectors could not be read or corrected"_s.arg(number(count));
}

// The first slot of each counted attribute.
std::map<int, int> countedSlots(const TDriveInformation &drive, const TDrivePresets &presets)
{
    std::map<int, int> first;
    for (int s = 0; s < drive.UsedSlots(); ++s) {
        const std::int32_t id = drive.AttrId[static_cast<std::size_t>(s)];
        if (id > 0 && id < 256 && countsBadSectors(id, presets[static_cast<std::size_t>(id)]))
            first.emplace(id, s);
    }
    return first;
}

QDate dayOf(const TVerdictRules &rules)
{
    return rules.Today.isValid() ? rules.Today : QDate::currentDate();
}

} // namespace

TVerdictRules CurrentVerdictRules()
{
    TProcessRules &p = processRules();
    const std::lock_guard lock(p.mutex);
    return p.rules;
}

void SetVerdictRules(TVerdictRules rules)
{
    TProcessRules &p = processRules();
    const std::lock_guard lock(p.mutex);
    p.rules = std::move(rules);
}

void FlushVerdictRules()
{
    if (const TVerdictRules rules = CurrentVerdictRules(); rules.Baseline)
        rules.Baseline->Flush();
}

TVerdictRules ProgramVerdictRules(const QString &dataFolder, bool sectorWarnings, QString *problem)
{
    // Read once per process: the file is large and changes only with the package.
    static QString loadError;
    static const std::shared_ptr<const TDriveDatabase> database =
        TDriveDatabase::Load(TDriveDatabase::DefaultPath(), &loadError);
    if (problem)
        *problem = database ? QString() : loadError;
    TVerdictRules rules;
    rules.SectorWarnings = sectorWarnings;
    rules.Database = database;
    if (!dataFolder.isEmpty())
        rules.Baseline = std::make_shared<TDriveBaseline>(TDriveBaseline::PathIn(dataFolder));
    return rules;
}

TDrivePresets PresetsOf(const TDriveInformation &drive, const TVerdictRules &rules)
{
    return rules.Database ? rules.Database->PresetsFor(drive.Model, drive.FirmwareRevision) : BuiltInPresets();
}

std::map<int, std::uint64_t> BadSectorCounts(const TDriveInformation &drive, const TDrivePresets &presets)
{
    const std::uint64_t bound = DriveSectorCount(drive).value_or(kSectorBoundWithoutSize);
    std::map<int, std::uint64_t> counts;
    for (const auto &[id, slot] : countedSlots(drive, presets)) {
        const auto i = static_cast<std::size_t>(slot);
        const auto count = CountOf(presets[static_cast<std::size_t>(id)], drive.AttrRaw[i], drive.AttrCurrent[i],
                                   drive.AttrWorst[i]);
        // More sectors than the drive has: vendor data, not a count.
        if (count && *count <= bound)
            counts[id] = *count;
    }
    return counts;
}

bool EvaluateDrive(TDriveInformation &drive)
{
    return EvaluateDrive(drive, CurrentVerdictRules());
}

bool EvaluateDrive(TDriveInformation &drive, const TVerdictRules &rules)
{
    drive.AttrState.fill(AttributeStateNumber(TAttributeState::Ok));
    drive.AttrReason.fill(QString());
    drive.DriveReason.clear();

    const TDrivePresets presets = PresetsOf(drive, rules);
    std::map<int, int> counted;
    std::map<int, std::uint64_t> counts;
    if (rules.SectorWarnings) {
        counted = countedSlots(drive, presets);
        counts = BadSectorCounts(drive, presets);
    }
    counts.merge(HealthCounts(drive.Health));
    // Without a serial number a drive cannot be told from another of its model.
    TBaselineCounts baseline;
    const QString model = drive.Model.trimmed();
    const QString serial = drive.SerialNumber.trimmed();
    if (rules.Baseline && !serial.isEmpty())
        baseline = rules.SectorWarnings && rules.RecordBaseline
                       ? rules.Baseline->Observe(model, serial, counts, dayOf(rules))
                       : rules.Baseline->Peek(model, serial);

    bool healthy = true;
    const int used = drive.UsedSlots();
    for (int s = 0; s < used; ++s) {
        const auto i = static_cast<std::size_t>(s);
        const int id = drive.AttrId[i];
        const auto base = baseline.find(id);
        const TBaselineCount *accepted = base != baseline.end() ? &base->second : nullptr;
        const TAttributeFormat &format = presets[static_cast<std::size_t>(std::clamp(id, 0, 255))];
        Verdict v;
        const bool over500 = thresholdRules(drive, i, format, accepted, v);
        const auto slot = counted.find(id);
        const auto count = counts.find(id);
        if (slot != counted.end() && slot->second == s && count != counts.end()) {
            const std::uint64_t c = count->second;
            const bool acknowledged = accepted && accepted->Acknowledged && c <= accepted->Count;
            // A count the drive came with warns until acknowledged; the rule
            // of 5 above 500 already tells a large one.
            if (c > 0 && !format.Increasing && !acknowledged && !over500)
                v.raise(TAttributeState::Warning, countReason(id, c));
            if (accepted && c > accepted->Count)
                v.raise(TAttributeState::Warning, u"grew from %1 to %2 since %3"_s.arg(
                                                      number(accepted->Count), number(c), dayText(accepted->Since)));
        }
        drive.SetState(s, v.state);
        drive.AttrReason[i] = v.reasons.join(u"; "_s);
        if (v.state != TAttributeState::Ok)
            healthy = false;
    }
    QStringList driveReasons;
    if (drive.PredictsFailure()) {
        driveReasons.append(u"the drive itself predicts its failure"_s);
        healthy = false;
    }
    if (!JudgeHealth(drive.Health, baseline)) {
        driveReasons.append(drive.Health.ReasonText());
        healthy = false;
    }
    drive.DriveReason = driveReasons.join(u"; "_s);
    return healthy;
}

bool EvaluateDrives(TDriveList &list)
{
    return EvaluateDrives(list, CurrentVerdictRules());
}

bool EvaluateDrives(TDriveList &list, const TVerdictRules &rules)
{
    bool healthy = true;
    for (int d = 0; d < list.Count(); ++d) {
        if (EvaluateDrive(list.Items(d), rules))
            list.ReadoutTime = Now();
        else
            healthy = false;
    }
    return healthy;
}

void ExplainStoredVerdicts(TDriveList &list)
{
    ExplainStoredVerdicts(list, CurrentVerdictRules());
}

void ExplainStoredVerdicts(TDriveList &list, const TVerdictRules &rules)
{
    TVerdictRules readOnly = rules;
    readOnly.RecordBaseline = false;
    for (int d = 0; d < list.Count(); ++d) {
        TDriveInformation &stored = list.Items(d);
        TDriveInformation judged = stored;
        EvaluateDrive(judged, readOnly);
        for (std::size_t i = 0; i < stored.AttrReason.size(); ++i)
            stored.AttrReason[i] = judged.AttrState[i] == stored.AttrState[i] ? judged.AttrReason[i] : QString();
        stored.DriveReason = judged.DriveReason;
        // The health figures keep no stored verdicts: they are judged anew.
        stored.Health = judged.Health;
    }
}

bool AcknowledgeWarnings(TDriveInformation &drive, int attributeId)
{
    return AcknowledgeWarnings(drive, attributeId, CurrentVerdictRules());
}

bool AcknowledgeWarnings(TDriveInformation &drive, int attributeId, const TVerdictRules &rules)
{
    if (!rules.Baseline || drive.SerialNumber.trimmed().isEmpty())
        return false;
    std::map<int, std::uint64_t> counts = BadSectorCounts(drive, PresetsOf(drive, rules));
    counts.merge(HealthCounts(drive.Health));
    // The values of the warnings acknowledged, so that they warn again when the value falls further.
    std::map<int, std::int32_t> values;
    for (int s = 0; s < drive.UsedSlots(); ++s) {
        const auto i = static_cast<std::size_t>(s);
        if (drive.State(s) == TAttributeState::Warning && (attributeId == 0 || drive.AttrId[i] == attributeId))
            values.emplace(drive.AttrId[i], drive.AttrCurrent[i]);
    }
    if (attributeId != 0)
        std::erase_if(counts, [attributeId](const auto &c) { return c.first != attributeId; });
    rules.Baseline->Acknowledge(drive.Model.trimmed(), drive.SerialNumber.trimmed(), counts, values, dayOf(rules));
    EvaluateDrive(drive, rules);
    return true;
}

bool PowerOnInMinutes(const TDriveInformation &drive)
{
    return PowerOnInMinutes(drive, CurrentVerdictRules());
}

bool PowerOnInMinutes(const TDriveInformation &drive, const TVerdictRules &rules)
{
    return PowerOnUnitOf(PresetsOf(drive, rules)[9]) == TPowerOnUnit::Minutes;
}

} // namespace valmora
