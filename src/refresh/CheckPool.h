#pragma once

// The checks of one list of computers, up to a number of them at once.

#include "ComputerCheck.h"

#include <QStringList>

#include <functional>

namespace valmora {

// What the caller hears of a run. The calls never overlap: they come one at a
// time, from whichever thread runs the check they concern.
struct TCheckPoolEvents
{
    // Asked before each check starts; once it says true nothing more starts.
    std::function<bool()> StopRequested;
    // A check starts.
    std::function<void(const QString &name)> OnStarted;
    // The computer the status should name now: the one that just started, or,
    // when the named one ended while others still run, one of those.
    std::function<void(const QString &name)> OnChecking;
    // A check ended.
    std::function<void(const TAddedComputer &computer)> OnChecked;
};

struct TCheckPoolResult
{
    // In the order of the names given; without the checks a stop kept from starting.
    TCheckedComputers CheckedComputers;
    bool Stopped = false;
};

// Runs CheckComputer for every name, up to atOnce (clamped to 1..256) at a time.
// A name whose host (BareComputerName, ASCII letters in any case) came earlier
// in the list is not checked again, so no two checks write the same file. With
// atOnce 1 every check runs in the calling thread, one after another; otherwise
// the calling thread is one of the checking threads. Returns when every check
// that started has ended.
TCheckPoolResult CheckComputers(const QStringList &names, int atOnce, const TCheckEnvironment &environment,
                                const TCheckPoolEvents &events = {});

} // namespace valmora
