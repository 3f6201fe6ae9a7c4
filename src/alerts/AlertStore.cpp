#include "AlertStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>

using namespace Qt::Literals::StringLiterals;

namespace valmora::alerts {

namespace {

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime timeFrom(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

QJsonObject readObject(const QString &fileName)
{
    QFile file(fileName);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw EAlertStoreError(qPrintable(u"Cannot read %1: %2"_s.arg(fileName, file.errorString())));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw EAlertStoreError(qPrintable(u"%1 is damaged: %2 at offset %3"_s.arg(fileName, error.errorString())
                                              .arg(error.offset)));
    return document.object();
}

void writeObject(const QString &fileName, const QJsonObject &object)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(object).toJson()) < 0 || !file.commit())
        throw EAlertStoreError(qPrintable(u"Cannot write %1: %2"_s.arg(fileName, file.errorString())));
}

} // namespace

TAlertStore::TAlertStore(const QString &dataFolder)
    : m_folder(QDir(dataFolder).filePath(u"alerts"_s))
{
}

TAlertStore::~TAlertStore() = default;

QString TAlertStore::StateFile() const
{
    return m_folder + u"/alerted.json"_s;
}

QString TAlertStore::OutboxFile() const
{
    return m_folder + u"/outbox.json"_s;
}

bool TAlertStore::Lock(int timeoutMs)
{
    QDir().mkpath(m_folder);
    m_lock = std::make_unique<QLockFile>(m_folder + u"/.lock"_s);
    // Never stale by age: a send may take its time-outs; a lock whose program
    // died is taken over all the same.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(timeoutMs))
        return true;
    m_lock.reset();
    return false;
}

void TAlertStore::Unlock()
{
    m_lock.reset();
}

TAlertedState TAlertStore::LoadState() const
{
    TAlertedState state;
    const QJsonObject root = readObject(StateFile());
    const QJsonObject computers = root.value(u"Computers"_s).toObject();
    for (auto it = computers.begin(); it != computers.end(); ++it) {
        const QJsonObject c = it.value().toObject();
        TAlertedComputer computer;
        computer.Name = c.value(u"Name"_s).toString(it.key());
        computer.LastRead = timeFrom(c.value(u"LastRead"_s));
        computer.FirstSeen = timeFrom(c.value(u"FirstSeen"_s));
        computer.NotReadAlerted = c.value(u"NotReadAlerted"_s).toBool();
        const QJsonObject drives = c.value(u"Drives"_s).toObject();
        for (auto d = drives.begin(); d != drives.end(); ++d) {
            const QJsonObject o = d.value().toObject();
            TAlertedDrive drive{o.value(u"Model"_s).toString(), o.value(u"Serial"_s).toString(),
                                o.value(u"Name"_s).toString(), {}};
            for (const QJsonValue &f : o.value(u"Flags"_s).toArray())
                drive.Flags << f.toString();
            drive.Flags.sort();
            computer.Drives.emplace(d.key(), std::move(drive));
        }
        state.emplace(ComputerKey(computer.Name), std::move(computer));
    }
    return state;
}

void TAlertStore::SaveState(const TAlertedState &state) const
{
    QJsonObject computers;
    for (const auto &[key, c] : state) {
        QJsonObject drives;
        for (const auto &[driveKey, d] : c.Drives)
            drives.insert(driveKey, QJsonObject{{u"Model"_s, d.Model},
                                                {u"Serial"_s, d.Serial},
                                                {u"Name"_s, d.Name},
                                                {u"Flags"_s, QJsonArray::fromStringList(d.Flags)}});
        computers.insert(key, QJsonObject{{u"Name"_s, c.Name},
                                          {u"LastRead"_s, timeText(c.LastRead)},
                                          {u"FirstSeen"_s, timeText(c.FirstSeen)},
                                          {u"NotReadAlerted"_s, c.NotReadAlerted},
                                          {u"Drives"_s, drives}});
    }
    writeObject(StateFile(), QJsonObject{{u"Computers"_s, computers}});
}

TOutbox TAlertStore::LoadOutbox() const
{
    TOutbox outbox;
    const QJsonObject root = readObject(OutboxFile());
    for (const QJsonValue &v : root.value(u"Pending"_s).toArray()) {
        const QJsonObject o = v.toObject();
        auto alert = TAlert::FromJson(o.value(u"Alert"_s).toObject());
        if (!alert)
            continue;
        TOutboxEntry entry{std::move(*alert), timeFrom(o.value(u"Created"_s)), {}};
        const QJsonObject channels = o.value(u"Channels"_s).toObject();
        for (auto c = channels.begin(); c != channels.end(); ++c) {
            const QJsonObject ch = c.value().toObject();
            entry.Pending[c.key()] = {ch.value(u"Attempts"_s).toInt(), timeFrom(ch.value(u"NextAttempt"_s)),
                                      ch.value(u"LastError"_s).toString()};
        }
        if (!entry.Created.isValid())
            entry.Created = entry.Alert.Time;
        outbox.push_back(std::move(entry));
    }
    return outbox;
}

void TAlertStore::SaveOutbox(const TOutbox &outbox) const
{
    QJsonArray pending;
    for (const TOutboxEntry &entry : outbox) {
        QJsonObject channels;
        for (const auto &[name, c] : entry.Pending)
            channels.insert(name, QJsonObject{{u"Attempts"_s, c.Attempts},
                                              {u"NextAttempt"_s, timeText(c.NextAttempt)},
                                              {u"LastError"_s, c.LastError}});
        pending.append(QJsonObject{
            {u"Alert"_s, entry.Alert.ToJson()}, {u"Created"_s, timeText(entry.Created)}, {u"Channels"_s, channels}});
    }
    writeObject(OutboxFile(), QJsonObject{{u"Pending"_s, pending}});
}

} // namespace valmora::alerts
