#pragma once

// How every program of ours sets up the process-wide log at start-up, so the
// desktop program, the CLI and a headless monitor read the trace switch alike.

#include <QString>

namespace valmora {

class TXLogSystem;

// Whether ordinary trace entries reach the log. Exception entries always do;
// the trace stays off unless asked for.
struct TTraceSwitch
{
    bool enabled = false;
    // Set when the environment variable holds a value that means neither on
    // nor off; the setting then decides.
    QString problem;
};

// VALMORA_LOG_TRACE decides when set and not empty (1, true, yes, on / 0,
// false, no, off; any letter case);
// otherwise the user's "LogTrace" setting; off by default.
TTraceSwitch ReadTraceSwitch();

// Turns the trace on or off as ReadTraceSwitch says (a bad variable is
// reported on stderr) and points the log at Quillmoor/Valmora/Log in the
// common application-data folder, created if missing.
void StartLog(TXLogSystem &log);

} // namespace valmora
