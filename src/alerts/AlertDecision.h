#pragma once

// Which alerts a checked computer raises: its result compared with what was
// last alerted about it. Pure: the caller keeps the state (AlertStore.h).

#include "Alert.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

namespace valmora {
class TAddedComputer;
}

namespace valmora::alerts {

// One drive of a checked computer, as far as alerts need it.
struct TCheckedDrive
{
    QString Model;
    QString Serial;
    QString Name;
    bool Flagged = false;
    QString DriveReason; // the drive's own failure prediction
    std::vector<TAlertAttribute> Attributes; // the attributes not OK
};

// A checked computer, copied out of the cycle's batch so the checking thread
// can go on while the alerts are worked out elsewhere.
struct TCheckedSnapshot
{
    QString Name;
    int State = 0; // TComputerState
    std::vector<TCheckedDrive> Drives;
};

TCheckedSnapshot SnapshotOf(const TAddedComputer &computer);

// What was last alerted about one drive: everything that made it flagged.
struct TAlertedDrive
{
    QString Model;
    QString Serial;
    QString Name;
    QStringList Flags; // sorted, see DriveFlags
};

struct TAlertedComputer
{
    QString Name;
    std::map<QString, TAlertedDrive> Drives; // by DriveKey
    QDateTime LastRead;   // the last reading that gave drives and verdicts
    QDateTime FirstSeen;  // the first check, where it was never read
    bool NotReadAlerted = false;
};

// By upper-cased computer name: names compare without regard to letter case.
using TAlertedState = std::map<QString, TAlertedComputer>;

QString ComputerKey(const QString &name);
// A drive by model and serial number, by its name where it has no serial.
QString DriveKey(const QString &model, const QString &serial, const QString &name);
// What flags a drive, one text per non-OK attribute (number, verdict, reason)
// and one for the drive's own prediction; a changed reason is a new flag.
QStringList DriveFlags(const TCheckedDrive &drive);

struct TDecisionRules
{
    // Hours a computer may go unread before "not read since ..."; 0: never.
    int NotReadHours = 0;
};

// The alerts a checked computer raises, in order, and the state updated to
// them. Only a reading decides about drives: a computer that did not answer,
// or whose drives could not be read, raises nothing but (by the rules) "not
// read since ...".
std::vector<TAlert> DecideAlerts(TAlertedState &state, const TCheckedSnapshot &checked, const QDateTime &now,
                                 const TDecisionRules &rules);

// Forgets computers that left the source, without alerts.
void ForgetComputers(TAlertedState &state, const QStringList &names);

} // namespace valmora::alerts
