#pragma once

#include <QString>

namespace valmora {

// Well-known folders as paths with a trailing delimiter.
//
// On Linux the common application-data folder (number 35) is /var/lib, or the
// folder named by VALMORA_COMMON_APPDATA. Sub-folder paths may use "\" or "/".
class TWindowsFolders
{
public:
    static constexpr int CommonAppData = 35;

    // Empty for a folder number the platform does not know.
    static QString SpecialFolder(int folderNumber);
    // Creates the chain of folders; returns the path even when that fails, and
    // empty when the platform has no such folder.
    static QString SpecialSubFolder(int folderNumber, const QString &subFolder);
    static QString CommonAppDataFolder(const QString &subFolder);
    // The folder of the running program's own file.
    static QString ProgramFolder();
    // The full path of the running program's own file.
    static QString ProgramFile();
    // Where the user's settings live: $XDG_CONFIG_HOME, default ~/.config.
    static QString UserConfigFolder();
    // Where machine-wide settings live: $VALMORA_MACHINE_CONFIG, default /etc.
    static QString MachineConfigFolder();
};

// Adds a trailing "/" unless the path is empty or has one.
QString IncludeTrailingDelimiter(const QString &path);
// Turns "Quillmoor\Valmora" into "Quillmoor/Valmora".
QString ToLocalSubPath(const QString &subFolder);

} // namespace valmora
