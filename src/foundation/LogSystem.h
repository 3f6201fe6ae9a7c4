#pragma once

#include "Format.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <mutex>

namespace valmora {

// Place codes of the exception entries: each names the spot that caught it.
namespace LogPlace {
inline constexpr int ReverseLookup = 0;
inline constexpr int WriteCredentials = 1001;
inline constexpr int ReadComputerState = 1002;
inline constexpr int ReadDriveModelFlag = 1003;
inline constexpr int RestoreWindowPlacement = 1004;
inline constexpr int SaveWindowPlacement = 1005;
inline constexpr int WriteComputerState = 1006;
inline constexpr int WriteDriveModelFlag = 1007;
// A computer's information file exists but cannot be read (the window then
// goes on without its drives).
inline constexpr int ReadInformationFile = 1008;
inline constexpr int CheckComputer = 2001;
// A computer could not be read (or only in part), told once per new reason.
inline constexpr int ReadComputerDrives = 2002;
inline constexpr int ReadCredentials = 2003;
// This computer's provider could not read a drive's S.M.A.R.T. sectors.
inline constexpr int ReadLocalDrive = 2004;
} // namespace LogPlace

// The process-wide log: the lines of the current log file are held in memory and
// the whole file is rewritten after each entry. Ordinary entries pass through
// Enabled; exception entries are always written. Entries come from the window's
// and the refresh thread, so appending and rewriting happen under one lock.
class TXLogSystem
{
public:
    TXLogSystem();
    ~TXLogSystem();
    TXLogSystem(const TXLogSystem &) = delete;
    TXLogSystem &operator=(const TXLogSystem &) = delete;

    bool Enabled() const;
    void SetEnabled(bool enabled);
    QString FileNamePattern() const;
    void SetFileNamePattern(const QString &pattern); // then UpdateFileName
    QString LogFolder() const;
    QString LogFileName() const;
    QStringList Lines() const;

    // The line written, or empty when Enabled is off.
    QString LogText(const QString &text, int place);
    QString LogFormat(const QString &format, std::span<const FormatArg> args, int place);
    QString LogFormat(const QString &format, std::initializer_list<FormatArg> args, int place);
    // Always written: "%s: Place: %d. %s" of (stamp, 0, the same format of (stamp, place, message)).
    void LogException(const std::exception &e, int place);
    void LogException(const QString &message, int place);
    QString WriteEntry(const QString &format, std::span<const FormatArg> args, int place);

    void SetLogFolder(const QString &folder);
    void UpdateFileName();
    // Raises Exception "Brak nazwy pliku log!" / "Nie podano katalogu plików log!".
    static QString BuildFileName(const QString &folder, const QString &pattern);
    // The same for a given moment, so one reading of the clock names the file.
    static QString BuildFileName(const QString &folder, const QString &pattern, const QDateTime &now);
    // The stamp of an entry: short date, one blank, long time.
    static QString Stamp();

    // The most recent failure to write the file, empty after a good write.
    QString LastWriteError() const;

    // Receives every entry as it is written, with one stamp and the real place
    // code (an exception entry without its outer "Place: 0." frame), for a
    // program that shows its entries on a terminal as well.
    using Echo = std::function<void(const QString &line)>;
    void SetEcho(Echo echo);

private:
    void updateFileNameLocked();
    void saveLocked(bool withBom);
    QString append(const QString &format, std::span<const FormatArg> args, int place, const QString &echoLine);

    mutable std::mutex m_mutex;
    QStringList m_lines;
    bool m_enabled = false;
    QString m_pattern;
    QString m_folder;
    QString m_fileName;
    QString m_lastWriteError;
    Echo m_echo;
};

// The one log of the process, created on first use.
TXLogSystem &XLogSystem();

} // namespace valmora
