#pragma once

// The check of one computer: ping, credentials, drive reading, state, save.

#include "drivedata/SmartTypes.h"
#include "platform/Icmp.h"

#include "foundation/ComputerName.h"
#include <QString>

#include <atomic>
#include <functional>
#include <type_traits>
#include <memory>
#include <vector>

namespace valmora {

// Computer states: also the groups of the computer list and the "State" of the state file.
enum TComputerState : int {
    StateSuspected = 1,
    StateRpcUnavailable = 2,
    StateSmartNotSupported = 3,
    StateUnavailable = 4,
    StateGood = 5,
};

// "Suspected (available and unavailable)", "RPC server unavailable", "S.M.A.R.T not
// supported", "Computer unavailable", "Good"; empty for any other number.
QString ComputerStateText(int state);

// The state that a result of ReadComputerDrives gives: 0 → 5, 1 → 2, 2 → 3, 3 → 1.
int StateFromReadResult(int result);

// One checked computer on its way from the refresh thread to the window.
class TAddedComputer
{
public:
    explicit TAddedComputer(QString name)
        : Name(std::move(name))
    {
    }
    QString Name;
    int State = 0;
    TDriveList Drives;
    // Why the computer is not Good, in words (empty when it is, and when a
    // Good reading had nothing to tell); never a password, token or body.
    QString Reason;
    TDateTime ReasonTime = 0; // when the check found it
};

using TCheckedComputers = std::vector<std::unique_ptr<TAddedComputer>>;

// Orders checked computers: names upper-cased in ASCII only, then compared in
// the user's locale. Each thread uses a comparer of its own.
class TComputerComparer
{
public:
    int Compare(const TAddedComputer &left, const TAddedComputer &right) const;
    int CompareNames(const QString &left, const QString &right) const;

    void Sort(TCheckedComputers &list) const;
    // Whether an entry comparing equal to the probe exists; index is the first
    // entry not less than the probe.
    bool BinarySearch(const TCheckedComputers &list, const QString &name, qsizetype &index) const;

private:
    TComputerNameCollator m_collator;
};

// ReadComputerDrives as the check calls it: computer name, list, user, password
// and where the reason goes → 0..3. A reader that gives no reason (four
// arguments) may stand in for one, as substitutes and older callers do.
class TReadDrives
{
public:
    using Function = std::function<int(const QString &, TDriveList &, const QString &, const QString &, QString *)>;

    TReadDrives() = default;
    template <typename F>
        requires std::is_invocable_r_v<int, F &, const QString &, TDriveList &, const QString &, const QString &,
                                       QString *>
    TReadDrives(F read) // NOLINT(google-explicit-constructor): stands for the function it wraps
        : m_read(std::move(read))
    {
    }
    template <typename F>
        requires(std::is_invocable_r_v<int, F &, const QString &, TDriveList &, const QString &, const QString &>
                 && !std::is_invocable_r_v<int, F &, const QString &, TDriveList &, const QString &, const QString &,
                                           QString *>)
    TReadDrives(F read) // NOLINT(google-explicit-constructor)
        : m_read([read = std::move(read)](const QString &computer, TDriveList &list, const QString &user,
                                          const QString &password, QString *) mutable {
            return read(computer, list, user, password);
        })
    {
    }

    int operator()(const QString &computer, TDriveList &list, const QString &user, const QString &password,
                   QString *reason = nullptr) const
    {
        return m_read(computer, list, user, password, reason);
    }
    explicit operator bool() const { return static_cast<bool>(m_read); }

private:
    Function m_read;
};

// What a check needs of the thread that runs it. The checks of a cycle share
// one environment, so everything in it is used from several threads at once:
// the echo and the reader keep no state of one check.
struct TCheckEnvironment
{
    std::shared_ptr<TIcmpEcho> Echo;
    TReadDrives ReadDrives;
    QString DomainUser;
    QString DomainPassword;
    QString DataFolder;        // with a trailing delimiter
    QString LocalComputerName; // the credentials of the local computer are empty
};

// Why a readout is flagged: the flagged drives by model and serial number,
// each with its first flagged attribute; empty when no drive is flagged.
QString FlaggedDrivesText(const TDriveList &list);
// A reading's reason as the user is told it: the reader's own, after the
// flagged drives when there are any; never empty for a result other than 0.
QString ReadingReason(int result, const TDriveList &list, const QString &readReason);

// Appends exactly one TAddedComputer for the name to the list, whatever happens.
// No echo reply: state 4. Otherwise the drives are read with the computer's own
// credentials when usable, else the domain's (none for this computer), and the
// state follows the reader's result. The drives are saved to DataFolder + host +
// ".wci" (an empty list to the "!" side file, so the last good readout stays).
// Any failure is logged with place 2001 and gives state 4.
// The computer's Reason says why it is not Good (the reader's reason, no echo
// reply, the flagged drives, the failure). The reason of a reading is stored
// beside the computer's state in the state file (a Good one clears it; an
// unavailable computer leaves it as it was), and a reader's reason is logged
// (place 2002) only when it differs from the one stored for the computer.
void CheckComputer(const QString &name, TCheckedComputers &list, const TCheckEnvironment &environment);
// The same check, its computer returned.
std::unique_ptr<TAddedComputer> CheckComputer(const QString &name, const TCheckEnvironment &environment);

} // namespace valmora
