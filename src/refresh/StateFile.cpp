#include "StateFile.h"

#include "foundation/DataPaths.h"
#include "foundation/Exception.h"
#include "foundation/IniFile.h"
#include "foundation/LogSystem.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

const QString kStateKey = u"State"_s;
const QString kDiskModels = u"$DISKMODELS$"_s;
const QString kReasonKey = u"Reason"_s;
const QString kReasonTimeKey = u"ReasonTime"_s;

// A write reads, changes and replaces the whole file: two at once (the window's
// writer and a command, or two threads of a tool) would lose one's change.
// Reads need no lock, as every write replaces the file in one step.
std::mutex &writeMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool mustEscape(QChar c, bool atEnd)
{
    const char16_t u = c.unicode();
    return u < 0x20 || u == 0x7f || u == u'%' || u == u'[' || u == u']' || u == u'=' || u == u';' ||
           (atEnd && u == u' ');
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

} // namespace

QString EscapeProfileName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (mustEscape(c, i == 0 || i == name.size() - 1))
            out += u'%' + QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0');
        else
            out += c;
    }
    return out;
}

QString UnescapeProfileName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name.at(i) == u'%' && i + 2 < name.size() && hexValue(name.at(i + 1)) >= 0 &&
            hexValue(name.at(i + 2)) >= 0) {
            out += QChar(static_cast<char16_t>(hexValue(name.at(i + 1)) * 16 + hexValue(name.at(i + 2))));
            i += 2;
        } else {
            out += name.at(i);
        }
    }
    return out;
}

QString StateFileName(const QString &dataFolder)
{
    return DataPaths::StateFile(dataFolder);
}

static int storedState(const TMemIniFile &ini, const QString &computerName)
{
    bool ok = false;
    const int state = ini.ReadString(EscapeProfileName(computerName), kStateKey, QString()).toInt(&ok);
    return ok && state >= 1 && state <= 5 ? state : 5;
}

int ReadComputerState(const QString &dataFolder, const QString &computerName)
{
    return ReadComputerStates(dataFolder, {computerName}).value(0, 5);
}

QList<int> ReadComputerStates(const QString &dataFolder, const QStringList &computerNames)
{
    try {
        const TMemIniFile ini(StateFileName(dataFolder), TextEncoding::Utf8);
        QList<int> states;
        states.reserve(computerNames.size());
        for (const QString &name : computerNames)
            states.append(storedState(ini, name));
        return states;
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::ReadComputerState);
        return QList<int>(computerNames.size(), 5);
    }
}

void WriteComputerState(const QString &dataFolder, const QString &computerName, int state)
{
    WriteComputerStates(dataFolder, {{computerName, state}});
}

void WriteComputerStates(const QString &dataFolder, const QList<std::pair<QString, int>> &states)
{
    if (states.isEmpty())
        return;
    try {
        const std::lock_guard lock(writeMutex());
        TMemIniFile ini(StateFileName(dataFolder), TextEncoding::Utf8);
        for (const auto &[name, state] : states)
            ini.WriteString(EscapeProfileName(name), kStateKey, QString::number(state));
        ini.UpdateFile();
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::WriteComputerState);
    }
}

TComputerReason ReadComputerReason(const QString &dataFolder, const QString &computerName)
{
    try {
        const TMemIniFile ini(StateFileName(dataFolder), TextEncoding::Utf8);
        const QString section = EscapeProfileName(computerName);
        TComputerReason reason;
        reason.Text = ini.ReadString(section, kReasonKey, QString());
        if (!reason.Text.isEmpty())
            reason.Time = DateTimeFromQt(
                QDateTime::fromString(ini.ReadString(section, kReasonTimeKey, QString()), Qt::ISODateWithMs));
        return reason;
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::ReadComputerState);
        return {};
    }
}

void WriteComputerReason(const QString &dataFolder, const QString &computerName, const TComputerReason &reason)
{
    // One line per value: a fault's detail may span several.
    const QString text = reason.Text.simplified();
    try {
        const std::lock_guard lock(writeMutex());
        TMemIniFile ini(StateFileName(dataFolder), TextEncoding::Utf8);
        const QString section = EscapeProfileName(computerName);
        if (text.isEmpty()) {
            ini.DeleteKey(section, kReasonKey);
            ini.DeleteKey(section, kReasonTimeKey);
        } else {
            ini.WriteString(section, kReasonKey, text);
            ini.WriteString(section, kReasonTimeKey, DateTimeToQt(reason.Time).toString(Qt::ISODateWithMs));
        }
        ini.UpdateFile();
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::WriteComputerState);
    }
}

bool ReadDiskModelFlag(const QString &dataFolder, const QString &model, bool whenUnset)
{
    try {
        const TMemIniFile ini(StateFileName(dataFolder), TextEncoding::Utf8);
        bool ok = false;
        const int value = ini.ReadString(kDiskModels, EscapeProfileName(model), QString()).toInt(&ok);
        return ok ? value != 0 : whenUnset;
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::ReadDriveModelFlag);
        return false;
    }
}

void WriteDiskModelFlag(const QString &dataFolder, const QString &model, bool value)
{
    try {
        const std::lock_guard lock(writeMutex());
        TMemIniFile ini(StateFileName(dataFolder), TextEncoding::Utf8);
        ini.WriteString(kDiskModels, EscapeProfileName(model), value ? u"1"_s : u"0"_s);
        ini.UpdateFile();
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::WriteDriveModelFlag);
    }
}

TStateFileWriter::~TStateFileWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TStateFileWriter::Post(std::function<void()> write)
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(write));
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
    }
    m_changed.notify_all();
}

void TStateFileWriter::Drain()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

void TStateFileWriter::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty())
            return; // stopped, nothing left
        std::function<void()> write = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        write(); // the writes log their own failures
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}

} // namespace valmora
