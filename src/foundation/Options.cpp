#include "Options.h"

#include "Environment.h"
#include "Exception.h"
#include "PasswordVault.h"
#include "RegistryHelper.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

const QString TOptions::KeyPath = u"Software\\Quillmoor\\VALMORA"_s;
const QString TOptions::IPRangesPath = u"Software\\Quillmoor\\VALMORA\\IPRanges"_s;

namespace {

constexpr TRootKey HKCU = TRootKey::CurrentUser;
constexpr TRootKey HKLM = TRootKey::LocalMachine;

// Quotes an Exec argument of a desktop entry where it needs it.
QString execArgument(const QString &path)
{
    static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
    if (std::none_of(path.cbegin(), path.cend(), [](QChar c) { return reserved.contains(c); }))
        return QString(path).replace(u"%"_s, u"%%"_s);
    QString quoted = u"\""_s;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u"\\\\"_s; // one backslash for the desktop-entry string, one for Exec
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return quoted + u'"';
}

} // namespace

int TOptions::ReadInterval()
{
    return std::min(TRegistryHelper::ReadInteger(KeyPath, u"Interval"_s, HKCU, 300), MaxInterval);
}

int TOptions::ReadChecksAtOnce()
{
    return std::clamp(TRegistryHelper::ReadInteger(KeyPath, u"ChecksAtOnce"_s, HKCU, DefaultChecksAtOnce), 1,
                      MaxChecksAtOnce);
}

void TOptions::WriteChecksAtOnce(int value)
{
    TRegistryHelper::WriteInteger(KeyPath, u"ChecksAtOnce"_s, HKCU, std::clamp(value, 1, MaxChecksAtOnce));
}

QString TOptions::ReadUser()
{
    return TRegistryHelper::ReadString(KeyPath, u"User"_s, HKCU, QString());
}

void TOptions::WriteUser(const QString &value)
{
    TRegistryHelper::WriteString(KeyPath, u"User"_s, HKCU, value);
}

QString TOptions::ReadUserP()
{
    if (const auto vault = InstalledPasswordVault())
        if (auto password = vault->Read(u"UserP"_s))
            return *password;
    return TRegistryHelper::ReadString(KeyPath, u"UserP"_s, HKCU, QString());
}

void TOptions::WriteUserP(const QString &value)
{
    if (const auto vault = InstalledPasswordVault(); vault && vault->Write(u"UserP"_s, value)) {
        // The vault holds it now; no copy stays in the file.
        TRegistryHelper::DeleteValue(KeyPath, u"UserP"_s, HKCU);
        return;
    }
    TRegistryHelper::WriteString(KeyPath, u"UserP"_s, HKCU, value);
}

bool TOptions::ReadFirstRun()
{
    return TRegistryHelper::ReadBool(KeyPath, u"FirstRun"_s, HKLM, true);
}

void TOptions::WriteFirstRun(bool value)
{
    TRegistryHelper::WriteBool(KeyPath, u"FirstRun"_s, HKLM, value);
}

bool TOptions::ReadMinimizeToTray()
{
    return TRegistryHelper::ReadBool(KeyPath, u"Minimize to tray"_s, HKCU, true);
}

void TOptions::WriteMinimizeToTray(bool value)
{
    TRegistryHelper::WriteBool(KeyPath, u"Minimize to tray"_s, HKCU, value);
}

bool TOptions::ReadRunAtWindowsStart()
{
    return TRegistryHelper::ReadBool(KeyPath, u"Run at windows start"_s, HKCU, true);
}

void TOptions::WriteRunAtWindowsStart(bool value)
{
    TRegistryHelper::WriteBool(KeyPath, u"Run at windows start"_s, HKCU, value);
    if (value) {
        const QString program = TWindowsFolders::ProgramFile();
        StartEntry::Write(StartEntry::UserFile(), program);
        StartEntry::Write(StartEntry::MachineFile(), program);
    } else {
        StartEntry::Delete(StartEntry::UserFile());
        StartEntry::Delete(StartEntry::MachineFile());
    }
}

int TOptions::ReadSearchKind()
{
    const int kind = TRegistryHelper::ReadInteger(KeyPath, u"SearchKind"_s, HKCU, 1) & 0xFF;
    return kind == 0 || kind == 2 ? kind : 1;
}

void TOptions::WriteSearchKind(std::uint8_t value)
{
    TRegistryHelper::WriteInteger(KeyPath, u"SearchKind"_s, HKCU, value);
}

int TOptions::ReadTemperatureScale()
{
    return TRegistryHelper::ReadInteger(KeyPath, u"TemperatureScale"_s, HKCU, 0);
}

void TOptions::WriteTemperatureScale(std::uint8_t value)
{
    TRegistryHelper::WriteInteger(KeyPath, u"TemperatureScale"_s, HKCU, value);
}

bool TOptions::ReadSectorWarnings()
{
    return TRegistryHelper::ReadBool(KeyPath, u"SectorWarnings"_s, HKCU, true);
}

void TOptions::WriteSectorWarnings(bool value)
{
    TRegistryHelper::WriteBool(KeyPath, u"SectorWarnings"_s, HKCU, value);
}

bool TOptions::ReadLogTrace()
{
    return TRegistryHelper::ReadBool(KeyPath, u"LogTrace"_s, HKCU, false);
}

void TOptions::WriteLogTrace(bool value)
{
    TRegistryHelper::WriteBool(KeyPath, u"LogTrace"_s, HKCU, value);
}

QStringList TOptions::ReadIPRanges()
{
    const int count = TRegistryHelper::ReadInteger(IPRangesPath, u"RangeCount"_s, HKCU, 0);
    QStringList ranges;
    for (int i = 0; i < count; ++i)
        ranges.append(TRegistryHelper::ReadString(IPRangesPath, u"Range"_s + QString::number(i), HKCU, QString()));
    return ranges;
}

void TOptions::WriteIPRanges(const QStringList &ranges)
{
    TRegistryHelper::WriteInteger(IPRangesPath, u"RangeCount"_s, HKCU, static_cast<int>(ranges.size()));
    for (qsizetype i = 0; i < ranges.size(); ++i)
        TRegistryHelper::WriteString(IPRangesPath, u"Range"_s + QString::number(i), HKCU, ranges.at(i));
}

namespace StartEntry {

QString UserFile()
{
    return TWindowsFolders::UserConfigFolder() + u"autostart/valmora.desktop"_s;
}

QString MachineFile()
{
    return TWindowsFolders::MachineConfigFolder() + u"xdg/autostart/valmora.desktop"_s;
}

QString DesktopEntry(const QString &programFile)
{
    return u"[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Valmora\n"
           "Comment=Hard-drive health monitor\n"
           "Exec="_s
        + execArgument(programFile) + u"\nTerminal=false\nX-GNOME-Autostart-enabled=true\n"_s;
}

void Write(const QString &fileName, const QString &programFile)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    if (!WriteFileAtomically(fileName, DesktopEntry(programFile).toUtf8()))
        throw ERegistryException(u"Failed to set data for 'Valmora'"_s);
}

void Delete(const QString &fileName)
{
    if (QFile::exists(fileName))
        QFile::remove(fileName);
}

} // namespace StartEntry

} // namespace valmora
