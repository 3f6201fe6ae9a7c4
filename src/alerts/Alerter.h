#pragma once

// The one entry point of alerts for every program that runs cycles: hand it
// each cycle's checked computers, and it decides on its own thread what they
// raise, keeps the alerts in the outbox of the data folder and sends them
// through every channel, retrying a channel that fails with back-off until it
// takes the alert or a day has passed. Nothing here blocks the caller.

#include "AlertChannels.h"
#include "AlertDecision.h"
#include "AlertSettings.h"
#include "AlertStore.h"

#include <QDateTime>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace valmora {
struct TCycleBatch;
}

namespace valmora::alerts {

// Place codes of the log entries alerts write.
namespace AlertLogPlace {
inline constexpr int Sent = 3001;
inline constexpr int SendFailed = 3002;
inline constexpr int Dropped = 3003;
inline constexpr int Store = 3004;
} // namespace AlertLogPlace

// How long a channel waits after its n-th failed attempt: 30 s, doubling, at
// most an hour. A new cycle tries every pending alert again at once.
int RetryDelaySeconds(int attempts);
// How long an alert is kept for a channel that does not take it.
inline constexpr qint64 kOutboxLifetimeSeconds = 24 * 3600;

class TAlerter
{
public:
    using TClock = std::function<QDateTime()>;

    TAlerter(const QString &dataFolder, std::vector<std::unique_ptr<TAlertChannel>> channels,
             TDecisionRules rules = {}, TClock now = {});
    // From the settings: their channels, and the desktop notice when given.
    static std::unique_ptr<TAlerter> FromSettings(const QString &dataFolder,
                                                  std::function<void(const TAlert &)> desktop = {});
    // Finishes the send in progress (within its time-outs) and ends the thread;
    // what was not sent stays in the outbox for the next start.
    ~TAlerter();
    TAlerter(const TAlerter &) = delete;
    TAlerter &operator=(const TAlerter &) = delete;

    // Any thread, at once: what the cycle's computers raise is worked out and
    // sent on the alerter's thread. Computers that left the source are forgotten.
    void HandleCycle(const TCycleBatch &batch);
    void HandleChecked(const std::vector<TCheckedSnapshot> &checked, const QStringList &removed = {});

    // Waits until everything handed over has been decided and one attempt per
    // pending alert made; false when that took longer than the time.
    bool WaitIdle(int timeoutMs);

    // The names of the channels in use, in order.
    QStringList ChannelNames() const;
    bool HasChannels() const { return !m_channels.empty(); }

    struct TTestResult
    {
        QString Channel;
        bool Ok = false;
        QString Error;
    };
    // Sends a test alert about this computer through each channel, in the
    // calling thread, and tells how each went; nothing is kept or retried.
    static std::vector<TTestResult> SendTest(const std::vector<std::unique_ptr<TAlertChannel>> &channels,
                                             const QString &computer);

private:
    struct Job
    {
        std::vector<TCheckedSnapshot> Checked;
        QStringList Removed;
    };
    void run();
    void process(std::vector<Job> jobs);
    // Sends what is due (everything when all is set); returns the next due time.
    QDateTime deliver(TOutbox &outbox, bool all);
    QDateTime now() const;

    TAlertStore m_store;
    std::vector<std::unique_ptr<TAlertChannel>> m_channels;
    TDecisionRules m_rules;
    TClock m_now;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_stop = false;
    QDateTime m_nextDue; // thread's own
    std::thread m_thread;
};

} // namespace valmora::alerts
