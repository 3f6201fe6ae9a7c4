#pragma once

// Reads every physical drive of one computer through its management
// instrumentation into a drive list, in five stages: serial numbers and drives
// from root\CIMV2, S.M.A.R.T. data, thresholds and the drives' own failure
// prediction from root\WMI (the last one optional).

#include "drivedata/SmartTypes.h"
#include "drives/Wmi.h"
#include "drives/WmiProviders.h"

#include <QString>

namespace valmora {

// Result codes of ReadComputerDrives.
inline constexpr int kReadGood = 0;         // read; no drive flagged
inline constexpr int kReadNoCimv2 = 1;      // root\CIMV2 could not be read
inline constexpr int kReadNoSmart = 2;      // no S.M.A.R.T. data could be read
inline constexpr int kReadFlagged = 3;      // read; at least one drive flagged

// The most drives one computer's list holds: a longer inventory is cut there
// (and the reason says so), so that an absurd answer cannot exhaust memory.
inline constexpr int kMaxDrivesPerComputer = 1024;

// What a result code means, in one line.
QString ReadResultText(int result);

// Empties list, sets its ComputerName to computer as given and fills it; the
// connections go to computer without a leading "\\". Raises nothing: every
// failure ends in the result code. reason, when given, receives why a stage
// stopped and whether the list of drives was cut; empty when neither.
int ReadComputerDrives(drives::TWmiProvider &provider, const QString &computer, TDriveList &list, const QString &user,
                       const QString &password, QString *reason = nullptr);
// The same through the provider that answers for this computer (see
// ChooseWmiProvider: the recordings of the folder when one is given).
int ReadComputerDrives(const QString &computer, TDriveList &list, const QString &user, const QString &password,
                       QString *reason = nullptr,
                       const QString &recordingsFolder = drives::RecordingsFolderFromEnvironment());

// The computer name without a leading "\\".
QString ServerName(const QString &computer);

} // namespace valmora
