#include "LogSystem.h"

#include "DateTime.h"
#include "Environment.h"
#include "Exception.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

const QString kLineFormat = u"%s: Place: %d. %s"_s;

} // namespace

TXLogSystem::TXLogSystem()
    : m_pattern(u":D :T.log"_s)
    , m_folder(TWindowsFolders::CommonAppDataFolder(QString()))
{
    std::lock_guard lock(m_mutex);
    updateFileNameLocked();
}

TXLogSystem::~TXLogSystem()
{
    std::lock_guard lock(m_mutex);
    // The last write of the run: the same lines, without a byte-order mark.
    if (!m_lines.isEmpty() && !m_fileName.isEmpty())
        saveLocked(false);
}

bool TXLogSystem::Enabled() const
{
    std::lock_guard lock(m_mutex);
    return m_enabled;
}

void TXLogSystem::SetEnabled(bool enabled)
{
    std::lock_guard lock(m_mutex);
    m_enabled = enabled;
}

QString TXLogSystem::FileNamePattern() const
{
    std::lock_guard lock(m_mutex);
    return m_pattern;
}

void TXLogSystem::SetFileNamePattern(const QString &pattern)
{
    std::lock_guard lock(m_mutex);
    m_pattern = pattern;
    updateFileNameLocked();
}

QString TXLogSystem::LogFolder() const
{
    std::lock_guard lock(m_mutex);
    return m_folder;
}

QString TXLogSystem::LogFileName() const
{
    std::lock_guard lock(m_mutex);
    return m_fileName;
}

QStringList TXLogSystem::Lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

QString TXLogSystem::LastWriteError() const
{
    std::lock_guard lock(m_mutex);
    return m_lastWriteError;
}

QString TXLogSystem::LogText(const QString &text, int place)
{
    return LogFormat(text, std::span<const FormatArg>(), place);
}

QString TXLogSystem::LogFormat(const QString &format, std::span<const FormatArg> args, int place)
{
    if (!Enabled())
        return QString();
    return WriteEntry(format, args, place);
}

QString TXLogSystem::LogFormat(const QString &format, std::initializer_list<FormatArg> args, int place)
{
    return LogFormat(format, std::span<const FormatArg>(args.begin(), args.size()), place);
}

void TXLogSystem::LogException(const std::exception &e, int place)
{
    LogException(ExceptionMessage(e), place);
}

void TXLogSystem::LogException(const QString &message, int place)
{
    const FormatArg args[] = {Stamp(), std::int64_t{place}, message};
    const QString inner = Format(kLineFormat, args);
    // The stored line keeps both frames; the echo shows the inner one alone.
    const FormatArg outer[] = {inner};
    append(u"%s"_s, outer, 0, inner);
}

QString TXLogSystem::WriteEntry(const QString &format, std::span<const FormatArg> args, int place)
{
    return append(format, args, place, QString());
}

QString TXLogSystem::append(const QString &format, std::span<const FormatArg> args, int place,
                            const QString &echoLine)
{
    const FormatResult message = TryFormat(format, args);
    QString line;
    if (message.ok()) {
        const FormatArg lineArgs[] = {Stamp(), std::int64_t{place}, message.text};
        line = Format(kLineFormat, lineArgs);
    } else {
        line = u"Wewnętrzny błąd biblioteki:"_s + *message.error + u"Dla ciągu:"_s + format;
    }
    Echo echo;
    {
        std::lock_guard lock(m_mutex);
        m_lines.append(line);
        saveLocked(true);
        echo = m_echo;
    }
    // Outside the lock, so an echo that logs cannot deadlock.
    if (echo)
        echo(echoLine.isEmpty() ? line : echoLine);
    return line;
}

void TXLogSystem::SetEcho(Echo echo)
{
    std::lock_guard lock(m_mutex);
    m_echo = std::move(echo);
}

void TXLogSystem::SetLogFolder(const QString &folder)
{
    std::lock_guard lock(m_mutex);
    m_folder = folder;
    updateFileNameLocked();
}

void TXLogSystem::UpdateFileName()
{
    std::lock_guard lock(m_mutex);
    updateFileNameLocked();
}

void TXLogSystem::updateFileNameLocked()
{
    if (m_folder.isEmpty() || m_pattern.isEmpty())
        return;
    m_fileName = BuildFileName(m_folder, m_pattern);
    if (!QFile::exists(m_fileName))
        return;
    if (auto bytes = ReadWholeFile(m_fileName))
        m_lines = SplitLines(DecodeText(*bytes));
}

void TXLogSystem::saveLocked(bool withBom)
{
    if (m_fileName.isEmpty())
        return;
    QString text;
    for (const QString &line : std::as_const(m_lines))
        text += line + u"\r\n"_s;
    QString error;
    if (WriteFileAtomically(m_fileName, EncodeText(text, withBom ? TextEncoding::Utf8WithBom : TextEncoding::Utf8),
                            &error)) {
        m_lastWriteError.clear();
        return;
    }
    // The lines stay in memory and reach the file with the next good write; say so
    // once per kind of failure rather than at every entry.
    if (error != m_lastWriteError)
        std::fprintf(stderr, "valmora: log not written: %s\n", qUtf8Printable(error));
    m_lastWriteError = error;
}

QString TXLogSystem::BuildFileName(const QString &folder, const QString &pattern)
{
    return BuildFileName(folder, pattern, QDateTime::currentDateTime());
}

QString TXLogSystem::BuildFileName(const QString &folder, const QString &pattern, const QDateTime &now)
{
    if (pattern.isEmpty())
        throw Exception(u"Brak nazwy pliku log!"_s);
    if (folder.isEmpty())
        throw Exception(u"Nie podano katalogu plików log!"_s);
    const QDate d = now.date();
    const QTime t = now.time();
    QString name = pattern;
    name.replace(u":D"_s, ShortDateText(now));
    name.replace(u":T"_s, LongTimeText(now));
    name.replace(u":y"_s, QString::number(d.year()));
    name.replace(u":mm"_s, QString::number(t.minute()));
    name.replace(u":m"_s, QString::number(d.month()));
    name.replace(u":d"_s, QString::number(d.day()));
    name.replace(u":h"_s, QString::number(t.hour()));
    name.replace(u":s"_s, QString::number(t.second()));
    name.remove(u':');
    // A date format with "/" (or "\") would turn the name into folders that do not
    // exist, and no entry would ever be written; such separators become "-".
    name.replace(u'/', u'-');
    name.replace(u'\\', u'-');
    QString path = folder;
    if (!path.endsWith(u'/'))
        path += u'/';
    return path + name;
}

QString TXLogSystem::Stamp()
{
    const QDateTime now = QDateTime::currentDateTime();
    return ShortDateText(now) + u' ' + LongTimeText(now);
}

TXLogSystem &XLogSystem()
{
    static TXLogSystem log;
    return log;
}

} // namespace valmora
