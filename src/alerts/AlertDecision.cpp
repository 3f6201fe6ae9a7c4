#include "AlertDecision.h"

#include "drivedata/SmartTypes.h"
#include "foundation/ComputerName.h"
#include "refresh/ComputerCheck.h"

#include <QLocale>

#include <algorithm>
#include <set>

using namespace Qt::Literals::StringLiterals;

namespace valmora::alerts {

TCheckedSnapshot SnapshotOf(const TAddedComputer &computer)
{
    TCheckedSnapshot snapshot;
    snapshot.Name = computer.Name;
    snapshot.State = computer.State;
    for (int i = 0; i < computer.Drives.Count(); ++i) {
        const TDriveInformation &d = computer.Drives.Items(i);
        TCheckedDrive drive;
        drive.Model = d.Model.trimmed();
        drive.Serial = d.SerialNumber.trimmed();
        drive.Name = d.Name;
        drive.Flagged = d.IsFlagged();
        if (d.PredictsFailure())
            drive.DriveReason = d.DriveReason.isEmpty() ? u"the drive itself predicts its failure"_s : d.DriveReason;
        for (int slot = 0; slot < d.UsedSlots(); ++slot) {
            if (d.AttrState[slot] == AttributeStateNumber(TAttributeState::Ok))
                continue;
            drive.Attributes.push_back({d.AttrId[slot], AttributeStateText(d.AttrState[slot]), d.AttrReason[slot],
                                        d.AttrCurrent[slot], d.AttrWorst[slot], d.AttrThreshold[slot],
                                        d.AttrRaw[slot], false});
        }
        snapshot.Drives.push_back(std::move(drive));
    }
    return snapshot;
}

QString ComputerKey(const QString &name)
{
    return AsciiUpper(BareComputerName(name));
}

QString DriveKey(const QString &model, const QString &serial, const QString &name)
{
    return model.trimmed() + u'|' + (serial.trimmed().isEmpty() ? u"name:"_s + name : serial.trimmed());
}

namespace {

QString attributeFlag(const TAlertAttribute &a)
{
    return u"%1|%2|%3"_s.arg(a.Id).arg(a.State, a.Reason);
}

QString driveFlag(const TCheckedDrive &drive)
{
    return u"drive|"_s + drive.DriveReason;
}

TAlert driveAlert(TAlertEvent event, const TCheckedSnapshot &checked, const QString &model, const QString &serial,
                  const QString &name, const QDateTime &now)
{
    TAlert alert = MakeAlert(event, BareComputerName(checked.Name), now);
    alert.DriveModel = model;
    alert.DriveSerial = serial;
    alert.DriveName = name;
    return alert;
}

QString since(const QDateTime &time)
{
    return QLocale::c().toString(time.toLocalTime(), u"d MMM yyyy HH:mm"_s);
}

} // namespace

QStringList DriveFlags(const TCheckedDrive &drive)
{
    QStringList flags;
    for (const TAlertAttribute &a : drive.Attributes)
        flags << attributeFlag(a);
    if (!drive.DriveReason.isEmpty())
        flags << driveFlag(drive);
    flags.sort();
    flags.removeDuplicates();
    return flags;
}

std::vector<TAlert> DecideAlerts(TAlertedState &state, const TCheckedSnapshot &checked, const QDateTime &now,
                                 const TDecisionRules &rules)
{
    std::vector<TAlert> alerts;
    const QString key = ComputerKey(checked.Name);
    const bool known = state.contains(key);
    TAlertedComputer &computer = state[key];
    computer.Name = BareComputerName(checked.Name);

    const bool read = checked.State == StateGood || checked.State == StateSuspected;
    if (!read) {
        // Switched off, refused or without data: nothing is known about its
        // drives, so what was alerted stays as it was.
        if (!known || (!computer.LastRead.isValid() && !computer.FirstSeen.isValid()))
            computer.FirstSeen = now;
        const QDateTime base = computer.LastRead.isValid() ? computer.LastRead : computer.FirstSeen;
        if (rules.NotReadHours > 0 && !computer.NotReadAlerted
            && base.secsTo(now) > static_cast<qint64>(rules.NotReadHours) * 3600) {
            TAlert alert = MakeAlert(TAlertEvent::NotRead, computer.Name, now);
            alert.Reason = computer.LastRead.isValid() ? u"not read since "_s + since(base)
                                                       : u"never read since first checked "_s + since(base);
            alerts.push_back(std::move(alert));
            computer.NotReadAlerted = true;
        }
        return alerts;
    }
    computer.LastRead = now;
    computer.FirstSeen = QDateTime();
    computer.NotReadAlerted = false;

    std::set<QString> seen;
    if (checked.State == StateSuspected) {
        for (const TCheckedDrive &drive : checked.Drives) {
            if (!drive.Flagged)
                continue;
            const QString driveKey = DriveKey(drive.Model, drive.Serial, drive.Name);
            seen.insert(driveKey);
            const QStringList flags = DriveFlags(drive);
            const auto last = computer.Drives.find(driveKey);
            const QStringList lastFlags = last == computer.Drives.end() ? QStringList() : last->second.Flags;
            const bool somethingNew = std::any_of(flags.cbegin(), flags.cend(),
                                                  [&](const QString &f) { return !lastFlags.contains(f); });
            if (somethingNew || last == computer.Drives.end()) {
                TAlert alert = driveAlert(TAlertEvent::DriveFailing, checked, drive.Model, drive.Serial, drive.Name, now);
                alert.Attributes = drive.Attributes;
                for (TAlertAttribute &a : alert.Attributes)
                    a.New = last != computer.Drives.end() && !lastFlags.contains(attributeFlag(a));
                alert.Reason = drive.DriveReason;
                alerts.push_back(std::move(alert));
            }
            computer.Drives[driveKey] = {drive.Model, drive.Serial, drive.Name, flags};
        }
    }
    // Drives alerted before and not flagged in this reading.
    for (auto it = computer.Drives.begin(); it != computer.Drives.end();) {
        if (seen.contains(it->first)) {
            ++it;
            continue;
        }
        const TAlertedDrive &d = it->second;
        const bool present = std::any_of(checked.Drives.cbegin(), checked.Drives.cend(), [&](const TCheckedDrive &c) {
            return DriveKey(c.Model, c.Serial, c.Name) == it->first;
        });
        TAlert alert = driveAlert(TAlertEvent::Recovered, checked, d.Model, d.Serial, d.Name, now);
        alert.Reason = present ? u"the drive is no longer flagged"_s
                               : u"the drive is no longer in the computer's readout"_s;
        alerts.push_back(std::move(alert));
        it = computer.Drives.erase(it);
    }
    return alerts;
}

void ForgetComputers(TAlertedState &state, const QStringList &names)
{
    for (const QString &name : names)
        state.erase(ComputerKey(name));
}

} // namespace valmora::alerts
