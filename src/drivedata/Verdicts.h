#pragma once

// What a drive is judged by besides its own numbers, and the process's choice
// of it. The rules themselves are EvaluateDrive's (SmartTypes.h):
//
// - the thresholds, the middle mark and attribute 5 above 500, as ever;
// - with SectorWarnings: a non-zero count of sectors waiting to be remapped
//   (197) or uncorrectable (198), and a count of 5, 196, 197 or 198 grown above
//   the drive's baseline, make the attribute "Warning"; these never lower a
//   verdict, and raw fields are read as the drive family means them, never
//   beyond the drive's own sector count;
// - the drive's own failure prediction flags the drive.

#include "DriveBaseline.h"
#include "DriveDatabase.h"

#include <QDate>

#include <memory>

namespace valmora {

class TDriveInformation;
class TDriveList;

struct TVerdictRules
{
    // The "SectorWarnings" setting: the sector-count and growth rules.
    bool SectorWarnings = true;
    // How raw fields read per drive family; null: the built-in defaults.
    std::shared_ptr<const TDriveDatabase> Database;
    // Counts as first seen; null: no growth rule and no acknowledgement.
    std::shared_ptr<TDriveBaseline> Baseline;
    // The day of the readout; invalid: today.
    QDate Today;
    // Whether judging records counts seen first; off to explain a stored
    // readout without changing the baseline.
    bool RecordBaseline = true;
};

// The rules EvaluateDrive and EvaluateDrives use without rules of their own.
// Until a program sets them: sector warnings on, built-in formats, no baseline.
TVerdictRules CurrentVerdictRules();
void SetVerdictRules(TVerdictRules rules);
// Writes what the process's baseline holds and has not written yet; programs
// call it before they end.
void FlushVerdictRules();
// The rules a program runs with: the drive database if it can be read, the
// baseline file of the data folder and the given setting. Any problem with the
// database goes to problem; the program works without it.
TVerdictRules ProgramVerdictRules(const QString &dataFolder, bool sectorWarnings, QString *problem = nullptr);

// Gives the stored verdicts of a loaded readout their reasons, worked out
// again from what the file holds and the baseline; the states stay as stored,
// and a slot whose stored state the rules no longer give keeps no reason.
void ExplainStoredVerdicts(TDriveList &list, const TVerdictRules &rules);
void ExplainStoredVerdicts(TDriveList &list);

// The formats of the drive's attributes under these rules.
TDrivePresets PresetsOf(const TDriveInformation &drive, const TVerdictRules &rules);
// The counts of 5, 196, 197 and 198 the drive holds, read as its family means
// them and within its sector count.
std::map<int, std::uint64_t> BadSectorCounts(const TDriveInformation &drive, const TDrivePresets &presets);

// Moves the drive's baseline to its current counts (of one attribute, or of
// all with attributeId 0), so their warnings end until the counts grow again,
// and judges the drive anew. False when the rules keep no baseline or the drive
// has no serial number to keep one by.
bool AcknowledgeWarnings(TDriveInformation &drive, int attributeId, const TVerdictRules &rules);
bool AcknowledgeWarnings(TDriveInformation &drive, int attributeId);

// True when the drive family counts power-on time in minutes (the window's
// hours/minutes choice; half-minutes and seconds are not among its choices).
bool PowerOnInMinutes(const TDriveInformation &drive, const TVerdictRules &rules);
bool PowerOnInMinutes(const TDriveInformation &drive);

} // namespace valmora
