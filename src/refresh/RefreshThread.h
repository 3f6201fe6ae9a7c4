#pragma once

// The background worker: an endless cycle of re-enumerating the chosen source,
// checking its computers (several at once) and handing the finished batch over.

#include "ComputerCheck.h"
#include "ComputerSources.h"

#include "discovery/NNBase.h"
#include "platform/WaitClock.h"

#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace valmora {

class TNetworkNeigborhoodComputes;
class TIPNetworkNeigborhoodComputes;
class TThisComputer;

// What one complete cycle produced, handed over whole at its end: the checked
// computers sorted by TComputerComparer, and the names that left the source.
struct TCycleBatch
{
    TCheckedComputers CheckedComputers;
    QStringList RemovedComputerNames;
    // How long the cycle took, from the source's refresh to its end.
    std::chrono::steady_clock::duration Duration{};
};

// The thread's parts that touch the world, replaceable in tests.
struct TRefreshThreadParts
{
    // The sources the thread shares with its owner (the window's list). When
    // none are given, the three below become the thread's own set, or, when
    // they are missing too, the system's.
    std::shared_ptr<TComputerSources> Sources;
    std::unique_ptr<TThisComputer> ThisComputerSource;
    std::unique_ptr<TNetworkNeigborhoodComputes> NetworkSource;
    std::unique_ptr<TIPNetworkNeigborhoodComputes> IPSource;
    // Shared by the checks of a cycle, so called from several threads at once;
    // so is ReadDrives.
    std::unique_ptr<TIcmpEcho> Echo;
    TReadDrives ReadDrives;
    QString LocalComputerName;
    // The clock of the waits between cycles; none: the system's.
    std::shared_ptr<platform::TWaitClock> Clock;

    // The system's: ICMP and drive reader (the sources come with the thread).
    static TRefreshThreadParts System();
};

class TRefreshThread
{
public:
    // Reads the interval from the settings ("Interval", at most 1800 s; a
    // negative value counts as 0) and "ChecksAtOnce". The thread starts with Resume.
    explicit TRefreshThread(TRefreshThreadParts parts = TRefreshThreadParts::System());
    // Stops the thread in order (see Stop) and releases what it owns.
    ~TRefreshThread();
    TRefreshThread(const TRefreshThread &) = delete;
    TRefreshThread &operator=(const TRefreshThread &) = delete;

    // Set before Resume.
    QString DomainUser;
    QString DomainPassword;
    QString DataFolder;
    // Called in the refresh thread: the receiver must hand them on to its own
    // thread (a queued call); the thread keeps nothing of what it hands over.
    std::function<void(const QString &statusText)> OnStatusText;
    std::function<void(std::shared_ptr<TCycleBatch> batch)> OnCycleDone;
    // After each refresh of the source, before its checks: the source's names
    // (none when the refresh failed), so that new computers can be shown at once.
    std::function<void(const QStringList &names)> OnSourceRefreshed;

    // The stored number: 0 this computer, 2 IP ranges, any other value the
    // network neighbourhood (SearchKindFromNumber).
    void SetSearchKind(int kind) { SetSearchKind(SearchKindFromNumber(kind)); }
    void SetSearchKind(TSearchKind kind);
    int SearchKind() const { return SearchKindNumber(m_searchKind); }
    TNNBase *Source() { return m_source; }
    const std::shared_ptr<TComputerSources> &Sources() const { return m_parts.Sources; }
    unsigned IntervalMs() const { return m_intervalMs; }
    void SetIntervalMs(unsigned intervalMs) { m_intervalMs = intervalMs; }
    // How many computers a cycle checks at once (1..256); may change while the
    // thread runs (the options dialog), and counts from the next cycle on.
    int ChecksAtOnce() const { return m_checksAtOnce; }
    void SetChecksAtOnce(int checks);

    // Starts the cycle; the first one runs at once.
    void Resume();
    // Ends a wait at once; the checks in progress finish within their time-outs,
    // no other starts, and no end of cycle is posted for an unfinished cycle.
    // Returns when the thread ended.
    void Stop();
    bool Terminated() const;
    // Ends the wait before the next cycle at once; a request during a cycle
    // starts the following one as soon as it ends.
    void CheckNow();

    // Runs exactly one cycle in the calling thread (no waits) and returns its batch.
    std::shared_ptr<TCycleBatch> RunOneCycle();

private:
    void execute();
    // Waits up to ms; false when a stop ended the wait.
    bool wait(unsigned ms);
    // One cycle's refresh and checks; nullptr when stopped before its end.
    std::shared_ptr<TCycleBatch> cycle();
    void status(const QString &text);

    TRefreshThreadParts m_parts;
    std::shared_ptr<TIcmpEcho> m_echo;
    std::shared_ptr<platform::TWaitClock> m_clock;
    TNNBase *m_source = nullptr;
    TSearchKind m_searchKind = TSearchKind::NetworkNeighbourhood;
    unsigned m_intervalMs = 300000;
    std::atomic<int> m_checksAtOnce{16};
    bool m_refreshNow = true;
    // Names that left the source since the last batch, whoever refreshed it;
    // guarded by the sources' lock.
    QStringList m_removed;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_terminated = false;
    bool m_checkNow = false;
    std::thread m_thread;
};

} // namespace valmora
