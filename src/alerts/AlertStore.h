#pragma once

// What alerts keep in the data folder, in its sub-folder "alerts": the last
// alerted state of every computer (alerted.json), so a restart does not alert
// again, and the outbox (outbox.json) of alerts some channel has not taken
// yet. Both are replaced whole and atomically, under a lock file shared by
// every program that raises alerts from the same folder.

#include "AlertDecision.h"

#include <QDateTime>
#include <QString>

#include <map>
#include <memory>
#include <vector>

class QLockFile;

namespace valmora::alerts {

// One alert on its way, and the channels that still have to take it.
struct TOutboxEntry
{
    TAlert Alert;
    QDateTime Created;
    struct Channel
    {
        int Attempts = 0;
        QDateTime NextAttempt; // invalid: at once
        QString LastError;
    };
    std::map<QString, Channel> Pending; // by channel name
};
using TOutbox = std::vector<TOutboxEntry>;

// Raised with the file's name and what went wrong.
class EAlertStoreError final : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TAlertStore
{
public:
    // dataFolder with or without a trailing delimiter.
    explicit TAlertStore(const QString &dataFolder);
    ~TAlertStore();
    TAlertStore(const TAlertStore &) = delete;
    TAlertStore &operator=(const TAlertStore &) = delete;

    QString Folder() const { return m_folder; }
    QString StateFile() const;
    QString OutboxFile() const;

    // Takes the folder's lock for a read-modify-write, waiting up to the time;
    // false when another program held it all that time.
    bool Lock(int timeoutMs);
    void Unlock();

    // A missing file is empty; a damaged one raises (it is left for a person
    // to look at, and the next save replaces it).
    TAlertedState LoadState() const;
    void SaveState(const TAlertedState &state) const;
    TOutbox LoadOutbox() const;
    void SaveOutbox(const TOutbox &outbox) const;

private:
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
};

// Holds the store's lock for a scope.
class TAlertStoreLock
{
public:
    TAlertStoreLock(TAlertStore &store, int timeoutMs)
        : m_store(store)
        , m_locked(store.Lock(timeoutMs))
    {
    }
    ~TAlertStoreLock()
    {
        if (m_locked)
            m_store.Unlock();
    }
    TAlertStoreLock(const TAlertStoreLock &) = delete;
    TAlertStoreLock &operator=(const TAlertStoreLock &) = delete;
    bool Locked() const { return m_locked; }

private:
    TAlertStore &m_store;
    bool m_locked;
};

} // namespace valmora::alerts
