#pragma once

// How valmora-cli prints drives: an aligned table for people, JSON whose keys
// are the model's own field names for programs. decode, show and read share it.

#include "drivedata/SmartTypes.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace valmora::cli {

// Left-aligned columns of text, two blanks apart.
QString AlignedTable(const QList<QStringList> &rows);

// The used slots: Id, pre-failure, flag bits, values, threshold, raw, state word.
QString AttributeTableText(const TDriveInformation &drive);
QString TemperaturesText(const TDriveInformation &drive);
// The health figures with their verdicts; empty for a drive without them.
QString HealthTableText(const TDriveInformation &drive);
// Identity, size, temperatures and attribute table of one drive.
QString DriveText(const TDriveInformation &drive);
// Computer name, readout time and every drive.
QString DriveListText(const TDriveList &list);

// ISO 8601 local time; null for 0 (no readout) or an impossible value.
QJsonValue ReadoutTimeJson(TDateTime time);
QJsonArray AttributesJson(const TDriveInformation &drive);
// The NVMe health log's figures by name ("CriticalWarning", ...), the storage
// classes' figures by name, and one row per figure {Name, Value, State, Reason}.
QJsonObject HealthLogJson(const TDriveHealth &health);
QJsonObject StorageJson(const TDriveHealth &health);
QJsonArray HealthRowsJson(const TDriveHealth &health);
QJsonObject DriveJson(const TDriveInformation &drive);
QJsonObject DriveListJson(const TDriveList &list);

// The verdict rules of the program: the drive database, the baseline of the
// data folder and the "SectorWarnings" setting.
void InstallVerdictRules();
// Writes the baseline out and tells on stderr when it could not be read or written.
void FinishVerdictRules();

// Prints a JSON object, indented, to stdout.
void PrintJson(const QJsonObject &object);

} // namespace valmora::cli
