#include "ComputerCheck.h"

#include "UserPass.h"

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

TComputerComparer::TComputerComparer()
    : m_collator(QLocale())
{
    m_collator.setCaseSensitivity(Qt::CaseSensitive);
}

int TComputerComparer::CompareNames(const QString &left, const QString &right) const
{
    const int c = m_collator.compare(AsciiUpper(left), AsciiUpper(right));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
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

QString CheckedHostName(const QString &name)
{
    return name.contains(u"\\\\"_s) ? name.mid(2) : name;
}

void CheckComputer(const QString &name, TCheckedComputers &list, const TCheckEnvironment &environment)
{
    list.push_back(CheckComputer(name, environment));
}

std::unique_ptr<TAddedComputer> CheckComputer(const QString &name, const TCheckEnvironment &environment)
{
    auto added = std::make_unique<TAddedComputer>(name);
    TAddedComputer &entry = *added;
    try {
        const QString host = CheckedHostName(name);
        bool pingOk = false;
        TIdIcmpClient ping(environment.Echo);
        ping.Host = host;
        ping.OnReply = [&pingOk](const TReplyStatus &status) {
            pingOk = status.ReplyStatusType == TReplyStatusType::rsEcho;
        };
        ping.Ping();
        if (!pingOk) {
            entry.State = StateUnavailable;
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
            entry.State = StateFromReadResult(environment.ReadDrives(entry.Name, entry.Drives, user, password));
        }
        XLogSystem().LogFormat(u"TRefreshThread.CheckComputer: %s"_s, {name}, 0);
        entry.Drives.SaveToFile(environment.DataFolder + host + u".wci"_s);
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::CheckComputer);
        entry.State = StateUnavailable;
    }
    return added;
}

} // namespace valmora
