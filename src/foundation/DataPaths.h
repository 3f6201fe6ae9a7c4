#pragma once

// Where the program keeps its files: the data folder under the common
// application-data folder, and the files in it. Every layer asks here.

#include <QString>

namespace valmora {

// The vendor and product folder under the common application-data folder.
inline constexpr char16_t kDataSubFolder[] = u"Quillmoor\\Valmora";
// The program's name in captions, the tray tooltip and message boxes.
inline constexpr char16_t kProgramCaption[] = u"VALMORA 2015";

namespace DataPaths {

// The data folder (created when missing), ending in a separator.
QString DataFolder();
// The log folder, DataFolder's "Log" (created when missing), ending in a separator.
QString LogFolder();
// A computer's readout: <dataFolder><bare name>.wci.
QString ReadoutFile(const QString &dataFolder, const QString &computer);
// Where an empty readout goes instead, so that the last good one stays.
QString EmptyReadoutFile(const QString &readoutFile);
// The window's and the thread's state file: <dataFolder>vm/valmora.vm (its
// folder is created when missing).
QString StateFile(const QString &dataFolder);
// The drives' first-seen counts.
QString BaselineFile(const QString &dataFolder);
// The per-computer credentials.
QString UserPassFile(const QString &dataFolder);

} // namespace DataPaths
} // namespace valmora
