#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace valmora {

// Every persistent setting, one value per call, nothing cached: each read sees
// the store as it is now. All values lie under KeyPath of the current user,
// "FirstRun" under the local machine's.
class TOptions
{
public:
    static const QString KeyPath;       // "Software\Quillmoor\VALMORA"
    static const QString IPRangesPath;  // KeyPath + "\IPRanges"
    static constexpr int MaxInterval = 1800;
    static constexpr int DefaultChecksAtOnce = 16;
    static constexpr int MaxChecksAtOnce = 256;

    static int ReadInterval(); // seconds, at most 1800
    // How many computers a cycle checks at once: 1..256, a stored value outside
    // the range is clamped into it; 1 checks one after another.
    static int ReadChecksAtOnce();
    static void WriteChecksAtOnce(int value);
    static QString ReadUser();
    static void WriteUser(const QString &value);
    // The domain password: from the installed password vault when it holds
    // one, else from the (owner-only) settings file. A write goes to the vault
    // when it takes it, and then leaves none in the file.
    static QString ReadUserP();
    static void WriteUserP(const QString &value);
    static bool ReadFirstRun();
    static void WriteFirstRun(bool value);
    static bool ReadMinimizeToTray();
    static void WriteMinimizeToTray(bool value);
    static bool ReadRunAtWindowsStart();
    // Also writes or deletes the start entries of the user and of the machine.
    static void WriteRunAtWindowsStart(bool value);
    // 0 this computer, 1 network neighbourhood, 2 IP ranges; the low byte counts
    // and every value other than 0 and 2 means 1.
    static int ReadSearchKind();
    static void WriteSearchKind(std::uint8_t value);
    static int ReadTemperatureScale();
    static void WriteTemperatureScale(std::uint8_t value);
    // "SectorWarnings": the verdict rules on bad-sector counts and their growth.
    static bool ReadSectorWarnings();
    static void WriteSectorWarnings(bool value);
    // Whether ordinary trace entries are logged as well (off: exceptions only).
    static bool ReadLogTrace();
    static void WriteLogTrace(bool value);
    static QStringList ReadIPRanges();
    // Values of an earlier, longer list stay; "RangeCount" says how many count.
    static void WriteIPRanges(const QStringList &ranges);
};

// The start entries: XDG autostart desktop entries named valmora.desktop, per
// user under $XDG_CONFIG_HOME/autostart and per machine under
// $VALMORA_MACHINE_CONFIG/xdg/autostart (default /etc/xdg/autostart).
namespace StartEntry {
QString UserFile();
QString MachineFile();
// The desktop entry that starts the given program file.
QString DesktopEntry(const QString &programFile);
// Raise ERegistryException "Failed to set data for 'Valmora'" when it cannot be written.
void Write(const QString &fileName, const QString &programFile);
// A missing entry is no error.
void Delete(const QString &fileName);
} // namespace StartEntry

} // namespace valmora
