#include "DriveBaseline.h"

#include "foundation/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

QString TDriveBaseline::PathIn(const QString &dataFolder)
{
    return dataFolder + u"baseline.json"_s;
}

TDriveBaseline::TDriveBaseline(QString path)
    : m_path(std::move(path))
{
}

TDriveBaseline::~TDriveBaseline()
{
    Flush();
}

void TDriveBaseline::Flush()
{
    const std::lock_guard lock(m_mutex);
    if (m_dirty)
        save();
}

QString TDriveBaseline::LastError() const
{
    const std::lock_guard lock(m_mutex);
    return m_lastError;
}

void TDriveBaseline::refresh()
{
    // Unwritten counts of this process stand until they are written.
    if (m_dirty)
        return;
    const QFileInfo info(m_path);
    if (!info.exists()) {
        m_loadedModified = {};
        m_loadedSize = -1;
        return; // nothing stored yet: what this process holds stands
    }
    if (info.lastModified() == m_loadedModified && info.size() == m_loadedSize)
        return;
    QString error;
    const std::optional<QByteArray> bytes = ReadWholeFile(m_path, &error);
    if (!bytes) {
        m_lastError = u"cannot read \"%1\": %2"_s.arg(QDir::toNativeSeparators(m_path), error);
        return;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &parseError);
    if (!doc.isObject()) {
        // Kept aside rather than overwritten, so nothing the user acknowledged is lost unseen.
        const QString aside = m_path + u".damaged"_s;
        QFile::remove(aside);
        QFile::rename(m_path, aside);
        m_lastError = u"\"%1\" is damaged (%2); kept as \"%3\", counts start anew"_s.arg(
            QDir::toNativeSeparators(m_path), parseError.errorString(), QDir::toNativeSeparators(aside));
        m_drives.clear();
        m_loadedModified = {};
        m_loadedSize = -1;
        return;
    }
    m_drives.clear();
    for (const QJsonValue &d : doc.object().value(u"Drives"_s).toArray()) {
        const QJsonObject drive = d.toObject();
        TBaselineCounts counts;
        const QJsonObject stored = drive.value(u"Counts"_s).toObject();
        for (auto it = stored.begin(); it != stored.end(); ++it) {
            bool ok = false;
            const int id = it.key().toInt(&ok);
            const QJsonObject c = it.value().toObject();
            // Attribute numbers, and the health counts' numbers above them.
            if (!ok || id < 1 || id > kBaselineMaxId)
                continue;
            counts[id] = TBaselineCount{static_cast<std::uint64_t>(c.value(u"Count"_s).toInteger()),
                                        QDate::fromString(c.value(u"Since"_s).toString(), Qt::ISODate),
                                        c.value(u"Acknowledged"_s).toBool(),
                                        c.contains(u"Value"_s)
                                            ? std::optional<std::int32_t>(c.value(u"Value"_s).toInt())
                                            : std::nullopt};
        }
        m_drives[{drive.value(u"Model"_s).toString(), drive.value(u"SerialNumber"_s).toString()}] = counts;
    }
    m_loadedModified = info.lastModified();
    m_loadedSize = info.size();
}

void TDriveBaseline::save()
{
    QJsonArray drives;
    for (const auto &[key, counts] : m_drives) {
        QJsonObject stored;
        for (const auto &[id, c] : counts) {
            QJsonObject entry{{u"Count"_s, static_cast<qint64>(c.Count)},
                              {u"Since"_s, c.Since.toString(Qt::ISODate)},
                              {u"Acknowledged"_s, c.Acknowledged}};
            if (c.Value)
                entry.insert(u"Value"_s, *c.Value);
            stored.insert(QString::number(id), entry);
        }
        drives.append(QJsonObject{{u"Model"_s, key.first}, {u"SerialNumber"_s, key.second}, {u"Counts"_s, stored}});
    }
    QString error;
    m_lastSave = std::chrono::steady_clock::now();
    m_saved = true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (!WriteFileAtomically(m_path, QJsonDocument(QJsonObject{{u"Drives"_s, drives}}).toJson(), &error)) {
        m_lastError = u"cannot write \"%1\": %2"_s.arg(QDir::toNativeSeparators(m_path), error);
        return;
    }
    m_dirty = false;
    const QFileInfo info(m_path);
    m_loadedModified = info.lastModified();
    m_loadedSize = info.size();
}

TBaselineCounts TDriveBaseline::Observe(const QString &model, const QString &serial,
                                        const std::map<int, std::uint64_t> &counts, QDate today)
{
    const std::lock_guard lock(m_mutex);
    refresh();
    TBaselineCounts &drive = m_drives[{model, serial}];
    bool changed = false;
    for (const auto &[id, count] : counts) {
        auto it = drive.find(id);
        if (it == drive.end()) {
            drive[id] = TBaselineCount{count, today, false};
            changed = true;
        } else if (count < it->second.Count) {
            it->second.Count = count;
            it->second.Since = today;
            changed = true;
        }
    }
    const TBaselineCounts result = drive;
    m_dirty = m_dirty || changed;
    if (m_dirty && (!m_saved || std::chrono::steady_clock::now() - m_lastSave >= std::chrono::seconds(1)))
        save();
    return result;
}

TBaselineCounts TDriveBaseline::Peek(const QString &model, const QString &serial)
{
    const std::lock_guard lock(m_mutex);
    refresh();
    const auto it = m_drives.find({model, serial});
    return it == m_drives.end() ? TBaselineCounts{} : it->second;
}

void TDriveBaseline::Acknowledge(const QString &model, const QString &serial,
                                 const std::map<int, std::uint64_t> &counts, const std::map<int, std::int32_t> &values,
                                 QDate today)
{
    const std::lock_guard lock(m_mutex);
    refresh();
    TBaselineCounts &drive = m_drives[{model, serial}];
    for (const auto &[id, count] : counts) {
        TBaselineCount &c = drive[id];
        c.Count = count;
        c.Since = today;
        c.Acknowledged = true;
    }
    for (const auto &[id, value] : values) {
        TBaselineCount &c = drive[id];
        if (!counts.contains(id) && c.Since.isNull())
            c.Since = today;
        c.Acknowledged = true;
        c.Value = value;
    }
    save();
}

} // namespace valmora
