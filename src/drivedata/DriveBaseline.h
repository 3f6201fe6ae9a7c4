#pragma once

// The counts of a drive's bad-sector attributes (5, 196, 197, 198) as first
// seen, per drive (model and serial number), so that growth can be told from a
// count the drive came with. Kept in one file of the data folder, replaced
// whole; shared by the threads of a process under a lock and re-read when
// another process changed it. Counts seen for the first time are written at
// most once a second (a window that judges a thousand stored readouts at start
// writes the file once, not a thousand times) and at the latest when the object
// goes; acknowledgements are written at once.

#include <QDate>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace valmora {

struct TBaselineCount
{
    std::uint64_t Count = 0;
    QDate Since;               // when the count was first seen, lowered or acknowledged
    bool Acknowledged = false; // the user accepted this count (or value)
    // The normalised value the user accepted a warning at; it warns again below it.
    std::optional<std::int32_t> Value = std::nullopt;

    bool operator==(const TBaselineCount &) const = default;
};

// The highest number a baseline is kept by: attribute numbers are 1 to 255,
// the counts of the health figures (NvmeHealth.h) lie above 1000.
inline constexpr int kBaselineMaxId = 1999;

// Attribute number to its baseline.
using TBaselineCounts = std::map<int, TBaselineCount>;

class TDriveBaseline
{
public:
    // The file of the data folder: "baseline.json".
    static QString PathIn(const QString &dataFolder);
    explicit TDriveBaseline(QString path);
    ~TDriveBaseline();
    TDriveBaseline(const TDriveBaseline &) = delete;
    TDriveBaseline &operator=(const TDriveBaseline &) = delete;

    // The baselines of the drive after this readout: a count seen for the first
    // time is recorded, and a count below its baseline lowers it (the drive
    // remapped or cleared sectors), so growth is always measured from the
    // lowest count since the baseline was set.
    TBaselineCounts Observe(const QString &model, const QString &serial, const std::map<int, std::uint64_t> &counts,
                            QDate today);
    // The baselines of the drive as they stand, changing nothing.
    TBaselineCounts Peek(const QString &model, const QString &serial);
    // Moves the baselines of the given counts to them, and accepts the given
    // normalised values, acknowledged.
    void Acknowledge(const QString &model, const QString &serial, const std::map<int, std::uint64_t> &counts,
                     const std::map<int, std::int32_t> &values, QDate today);
    // Writes what is not written yet.
    void Flush();
    // The last failure to read or write the file since this object was made
    // (a later good write does not clear it); empty when there was none.
    QString LastError() const;
    const QString &Path() const { return m_path; }

private:
    using TKey = std::pair<QString, QString>; // model, serial
    void refresh();
    void save();

    const QString m_path;
    mutable std::mutex m_mutex;
    std::map<TKey, TBaselineCounts> m_drives;
    QDateTime m_loadedModified;
    qint64 m_loadedSize = -1;
    QString m_lastError;
    bool m_dirty = false;
    std::chrono::steady_clock::time_point m_lastSave{};
    bool m_saved = false;
};

} // namespace valmora
