#include "ComputerCheck.h"

#include "foundation/DataPaths.h"
#include "StateFile.h"
#include "UserPass.h"

#include "drivedata/WmiDriveReader.h"
#include "foundation/DateTime.h"
#include "foundation/Exception.h"

#include "discovery/ComputerNameCheck.h"
#include "foundation/LogSystem.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

QString ComputerStateText(int state)
{
    switch (state) {
    case StateSuspected:
        return u"Suspected (available and unavailable)"_s;
    case StateRpcUnavailable:
        return u"RPC server unavailable"_s;
    case StateSmartNotSupported:
        return u"S.M.A.R.T not supported"_s;
    case StateUnavailable:
        return u"Computer unavailable"_s;
    case StateGood:
        return u"Good"_s;
    default:
        return QString();
    }
}

int StateFromReadResult(int result)
{
    switch (result) {
    case 0:
        return StateGood;
    case 1:
        return StateRpcUnavailable;
    case 2:
        return StateSmartNotSupported;
    default:
        return StateSuspected;
    }
}

namespace {

// The state file keeps the last reason of every computer that was read; a
// reader's reason is logged only when it is new for the computer, so a
// computer that fails the same way every cycle writes one entry, not one per
// cycle. Its time is when the computer first failed that way.
void keepReason(const QString &dataFolder, TAddedComputer &entry, const QString &readReason)
{
    entry.Reason = entry.Reason.simplified(); // as the state file keeps it
    if (entry.State == StateUnavailable) {
        // Not a failed read: the stored reason of the last reading stays, and
        // a computer that is merely switched off adds nothing to the file.
        entry.ReasonTime = Now();
        return;
    }
    const TComputerReason last = ReadComputerReason(dataFolder, entry.Name);
    if (entry.Reason == last.Text && !entry.Reason.isEmpty()) {
        entry.ReasonTime = last.Time;
        return;
    }
    entry.ReasonTime = entry.Reason.isEmpty() ? 0 : Now();
    if (!readReason.isEmpty())
        XLogSystem().LogException(u"%1: %2"_s.arg(entry.Name, readReason), LogPlace::ReadComputerDrives);
    if (entry.Reason != last.Text)
        WriteComputerReason(dataFolder, entry.Name, {entry.Reason, entry.ReasonTime});
}

} // namespace

int TComputerComparer::CompareNames(const QString &left, const QString &right) const
{
    return m_collator.Compare(left, right);
}

int TComputerComparer::Compare(const TAddedComputer &left, const TAddedComputer &right) const
{
    return CompareNames(left.Name, right.Name);
}

void TComputerComparer::Sort(TCheckedComputers &list) const
{
    std::stable_sort(list.begin(), list.end(),
                     [this](const auto &a, const auto &b) { return Compare(*a, *b) < 0; });
}

bool TComputerComparer::BinarySearch(const TCheckedComputers &list, const QString &name, qsizetype &index) const
{
    const auto it = std::lower_bound(list.begin(), list.end(), name, [this](const auto &entry, const QString &probe) {
        return CompareNames(entry->Name, probe) < 0;
    });
    index = it - list.begin();
    return it != list.end() && CompareNames((*it)->Name, name) == 0;
}

QString FlaggedDrivesText(const TDriveList &list)
{
    QStringList drives;
    for (int i = 0; i < list.Count(); ++i) {
        const TDriveInformation &drive = list.Items(i);
        if (!drive.IsFlagged())
            continue;
        QString text = drive.Model.trimmed().isEmpty() ? u"drive %1"_s.arg(i + 1) : drive.Model.trimmed();
        if (!drive.SerialNumber.trimmed().isEmpty())
            text += u" (serial %1)"_s.arg(drive.SerialNumber.trimmed());
        QString why;
        for (int slot = 0; slot < drive.UsedSlots() && why.isEmpty(); ++slot) {
            if (drive.AttrState[static_cast<std::size_t>(slot)] == 0)
                continue;
            why = u"attribute %1 %2"_s.arg(drive.AttrId[static_cast<std::size_t>(slot)])
                      .arg(AttributeStateText(drive.AttrState[static_cast<std::size_t>(slot)]));
            if (const QString &reason = drive.AttrReason[static_cast<std::size_t>(slot)]; !reason.isEmpty())
                why += u" ("_s + reason + u')';
        }
        if (why.isEmpty() && drive.PredictsFailure())
            why = drive.DriveReason.isEmpty() ? u"the drive itself predicts its failure"_s : drive.DriveReason;
        drives << (why.isEmpty() ? text : text + u": "_s + why);
    }
    if (drives.isEmpty())
        return QString();
    return (drives.size() == 1 ? u"flagged drive: "_s : u"%1 flagged drives: "_s.arg(drives.size()))
           + drives.join(u"; "_s);
}

QString ReadingReason(int result, const TDriveList &list, const QString &readReason)
{
    QString reason = readReason;
    if (result == kReadFlagged) {
        const QString flagged = FlaggedDrivesText(list);
        reason = readReason.isEmpty() ? flagged : flagged + u"; "_s + readReason;
    }
    if (reason.isEmpty() && result != kReadGood)
        reason = ReadResultText(result);
    return reason;
}

void CheckComputer(const QString &name, TCheckedComputers &list, const TCheckEnvironment &environment)
{
    list.push_back(CheckComputer(name, environment));
}

std::unique_ptr<TAddedComputer> CheckComputer(const QString &name, const TCheckEnvironment &environment)
{
    auto added = std::make_unique<TAddedComputer>(name);
    TAddedComputer &entry = *added;
    QString readReason; // what the reader said, the one kind of reason that is logged
    try {
        const QString host = BareComputerName(name);
        bool pingOk = false;
        TIdIcmpClient ping(environment.Echo);
        ping.Host = host;
        ping.OnReply = [&pingOk](const TReplyStatus &status) {
            pingOk = status.ReplyStatusType == TReplyStatusType::rsEcho;
        };
        ping.Ping();
        if (!pingOk) {
            entry.State = StateUnavailable;
            entry.Reason = u"no echo reply to the ping of %1 within 5 s (switched off, or ICMP is blocked)"_s.arg(host);
        } else {
            const TUserPass own = ReadUserPass(environment.DataFolder, name);
            // The trace shows who connects, never the password; checks run at
            // once, so the entry names its computer.
            XLogSystem().LogFormat(u"User: %s Pass: %s (%s)"_s, {own.UserName, u"********"_s, name}, 0);
            QString user = environment.DomainUser;
            QString password = environment.DomainPassword;
            if (UserPassIsUsable(own)) {
                user = own.UserName;
                password = own.Password;
            }
            if (AsciiUpper(name) == AsciiUpper(environment.LocalComputerName)) {
                user.clear();
                password.clear();
            }
            const int result = environment.ReadDrives(entry.Name, entry.Drives, user, password, &readReason);
            entry.State = StateFromReadResult(result);
            entry.Reason = ReadingReason(result, entry.Drives, readReason);
        }
        XLogSystem().LogFormat(u"TRefreshThread.CheckComputer: %s"_s, {name}, 0);
        entry.Drives.SaveToFile(DataPaths::ReadoutFile(environment.DataFolder, host));
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::CheckComputer);
        entry.State = StateUnavailable;
        entry.Reason = ExceptionMessage(e);
    }
    keepReason(environment.DataFolder, entry, readReason);
    return added;
}

} // namespace valmora
