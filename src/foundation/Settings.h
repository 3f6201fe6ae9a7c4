#pragma once

// The settings the program consults while it runs, read once and kept: a drive
// shown or a cycle started asks here instead of opening the settings store
// again. The copy is read anew after this process wrote a store (the options
// dialog's Save, or any TOptions write) or when the stores' place changed;
// changes made by hand elsewhere count from Reload or the next start.
// Passwords are not kept here (TOptions::ReadUserP reads them when needed).

#include "SearchKind.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace valmora {

struct TSettings
{
    int Interval = 300; // seconds, at most TOptions::MaxInterval
    int ChecksAtOnce = 16;
    TSearchKind SearchKind = TSearchKind::NetworkNeighbourhood;
    QStringList IPRanges;
    QString User;
    int TemperatureScale = 0;
    bool SectorWarnings = true;
    bool MinimizeToTray = true;
    bool RunAtWindowsStart = true;
    bool LogTrace = false;

    // Every value from the stores now (TOptions' readers, with their errors).
    static TSettings Read();
    // The kept copy, read when missing or out of date; safe from any thread.
    static std::shared_ptr<const TSettings> Current();
    // Drops the kept copy: the next Current reads the stores.
    static void Reload();
};

} // namespace valmora
