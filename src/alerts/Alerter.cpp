#include "Alerter.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "foundation/LogSystem.h"
#include "refresh/RefreshThread.h"

#include <algorithm>
#include <chrono>

using namespace Qt::Literals::StringLiterals;

namespace valmora::alerts {

namespace {

// Another program may hold the store while it sends; its sends end within
// their time-outs.
constexpr int kLockTimeoutMs = 120000;

void logFailure(const QString &text, int place)
{
    XLogSystem().LogException(text, place);
}

} // namespace

int RetryDelaySeconds(int attempts)
{
    const int n = std::clamp(attempts, 1, 8);
    return std::min(30 << (n - 1), 3600);
}

TAlerter::TAlerter(const QString &dataFolder, std::vector<std::unique_ptr<TAlertChannel>> channels,
                   TDecisionRules rules, TClock now)
    : m_store(dataFolder)
    , m_channels(std::move(channels))
    , m_rules(rules)
    , m_now(std::move(now))
{
    m_thread = std::thread([this] { run(); });
}

std::unique_ptr<TAlerter> TAlerter::FromSettings(const QString &dataFolder, std::function<void(const TAlert &)> desktop)
{
    const TAlertSettings settings = TAlertSettings::Read();
    for (const QString &problem : settings.Problems())
        logFailure(u"Alerts: "_s + problem, AlertLogPlace::SendFailed);
    TDecisionRules rules;
    rules.NotReadHours = settings.NotReadHours;
    return std::make_unique<TAlerter>(dataFolder, CreateChannels(settings, std::move(desktop)), rules);
}

TAlerter::~TAlerter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

QDateTime TAlerter::now() const
{
    return m_now ? m_now() : QDateTime::currentDateTime();
}

QStringList TAlerter::ChannelNames() const
{
    QStringList names;
    for (const auto &c : m_channels)
        names << c->Name();
    return names;
}

void TAlerter::HandleCycle(const TCycleBatch &batch)
{
    std::vector<TCheckedSnapshot> checked;
    checked.reserve(batch.CheckedComputers.size());
    for (const auto &computer : batch.CheckedComputers)
        checked.push_back(SnapshotOf(*computer));
    HandleChecked(checked, batch.RemovedComputerNames);
}

void TAlerter::HandleChecked(const std::vector<TCheckedSnapshot> &checked, const QStringList &removed)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back({checked, removed});
    }
    m_wake.notify_all();
}

bool TAlerter::WaitIdle(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_jobs.empty() && !m_busy; });
}

void TAlerter::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (m_jobs.empty()) {
            m_idle.notify_all();
            const auto due = [this] { return m_stop || !m_jobs.empty(); };
            if (m_nextDue.isValid()) {
                const qint64 ms = std::clamp<qint64>(now().msecsTo(m_nextDue), 0, 60000);
                if (!m_wake.wait_for(lock, std::chrono::milliseconds(ms), due) && ms > 0 && now() < m_nextDue)
                    continue; // a shorter wait than planned (the clock moved): look again
            } else {
                m_wake.wait(lock, due);
            }
            if (m_stop)
                break;
        }
        std::vector<Job> jobs(std::make_move_iterator(m_jobs.begin()), std::make_move_iterator(m_jobs.end()));
        m_jobs.clear();
        if (jobs.empty() && (!m_nextDue.isValid() || now() < m_nextDue))
            continue;
        m_busy = true;
        lock.unlock();
        process(std::move(jobs));
        lock.lock();
        m_busy = false;
    }
    m_idle.notify_all();
}

void TAlerter::process(std::vector<Job> jobs)
{
    TAlertStoreLock storeLock(m_store, kLockTimeoutMs);
    if (!storeLock.Locked()) {
        logFailure(u"Alerts: %1 stays locked by another program; the alerts of this cycle wait"_s.arg(m_store.Folder()),
                   AlertLogPlace::Store);
        std::lock_guard lock(m_mutex);
        for (Job &job : jobs)
            m_jobs.push_front(std::move(job));
        m_nextDue = now().addSecs(30);
        return;
    }
    TOutbox outbox;
    try {
        outbox = m_store.LoadOutbox();
    } catch (const std::exception &e) {
        logFailure(u"Alerts: "_s + QString::fromUtf8(e.what()) + u"; its alerts are lost"_s, AlertLogPlace::Store);
    }
    if (!jobs.empty()) {
        TAlertedState state;
        try {
            state = m_store.LoadState();
        } catch (const std::exception &e) {
            // Better told again than never told.
            logFailure(u"Alerts: "_s + QString::fromUtf8(e.what()) + u"; alerting starts afresh"_s,
                       AlertLogPlace::Store);
        }
        const QDateTime time = now();
        for (const Job &job : jobs) {
            ForgetComputers(state, job.Removed);
            for (const TCheckedSnapshot &checked : job.Checked)
                for (TAlert &alert : DecideAlerts(state, checked, time, m_rules)) {
                    XLogSystem().LogText(u"Alert: "_s + alert.Subject(), 0);
                    if (m_channels.empty())
                        continue;
                    TOutboxEntry entry{std::move(alert), time, {}};
                    for (const auto &channel : m_channels)
                        entry.Pending[channel->Name()] = {};
                    outbox.push_back(std::move(entry));
                }
        }
        try {
            // The outbox first: a state saved without its alerts would lose them.
            m_store.SaveOutbox(outbox);
            m_store.SaveState(state);
        } catch (const std::exception &e) {
            logFailure(u"Alerts: "_s + QString::fromUtf8(e.what()), AlertLogPlace::Store);
        }
    }
    const QDateTime next = deliver(outbox, !jobs.empty());
    try {
        m_store.SaveOutbox(outbox);
    } catch (const std::exception &e) {
        logFailure(u"Alerts: "_s + QString::fromUtf8(e.what()), AlertLogPlace::Store);
    }
    std::lock_guard lock(m_mutex);
    m_nextDue = next;
}

QDateTime TAlerter::deliver(TOutbox &outbox, bool all)
{
    const QDateTime time = now();
    QDateTime next;
    for (auto entry = outbox.begin(); entry != outbox.end();) {
        if (entry->Created.secsTo(time) > kOutboxLifetimeSeconds) {
            QStringList channels;
            for (const auto &[name, pending] : entry->Pending)
                channels << u"%1 (%2)"_s.arg(name, pending.LastError.isEmpty() ? u"not tried"_s : pending.LastError);
            logFailure(u"Alert dropped after a day unsent: %1; by %2"_s.arg(entry->Alert.Subject(), channels.join(u", "_s)),
                       AlertLogPlace::Dropped);
            entry = outbox.erase(entry);
            continue;
        }
        for (auto it = entry->Pending.begin(); it != entry->Pending.end();) {
            const auto channel = std::find_if(m_channels.begin(), m_channels.end(),
                                              [&](const auto &c) { return c->Name() == it->first; });
            // A channel this program does not have (the desktop notice of the
            // window, for the command line) is left to the program that has it.
            if (channel == m_channels.end()) {
                ++it;
                continue;
            }
            auto &pending = it->second;
            if (!all && pending.NextAttempt.isValid() && pending.NextAttempt > time) {
                if (!next.isValid() || pending.NextAttempt < next)
                    next = pending.NextAttempt;
                ++it;
                continue;
            }
            ++pending.Attempts;
            XLogSystem().LogText(u"Alert by %1, attempt %2: %3"_s.arg(it->first).arg(pending.Attempts)
                                     .arg(entry->Alert.Subject()), 0);
            QString error;
            if ((*channel)->Send(entry->Alert, error)) {
                logFailure(u"Alert sent by %1: %2"_s.arg(it->first, entry->Alert.Subject()), AlertLogPlace::Sent);
                it = entry->Pending.erase(it);
                continue;
            }
            pending.LastError = error;
            pending.NextAttempt = now().addSecs(RetryDelaySeconds(pending.Attempts));
            logFailure(u"Alert by %1 failed (attempt %2, next in %3 s): %4: %5"_s.arg(it->first)
                           .arg(pending.Attempts).arg(RetryDelaySeconds(pending.Attempts))
                           .arg(entry->Alert.Subject(), error),
                       AlertLogPlace::SendFailed);
            if (!next.isValid() || pending.NextAttempt < next)
                next = pending.NextAttempt;
            ++it;
        }
        if (entry->Pending.empty())
            entry = outbox.erase(entry);
        else
            ++entry;
    }
    return next;
}

std::vector<TAlerter::TTestResult> TAlerter::SendTest(const std::vector<std::unique_ptr<TAlertChannel>> &channels,
                                                      const QString &computer)
{
    std::vector<TTestResult> results;
    TAlert alert = MakeAlert(TAlertEvent::Test, computer.isEmpty() ? LocalComputerName() : computer,
                             QDateTime::currentDateTime());
    alert.Reason = u"This is a test alert: the channel works."_s;
    for (const auto &channel : channels) {
        TTestResult result{channel->Name(), false, QString()};
        result.Ok = channel->Send(alert, result.Error);
        if (result.Ok)
            XLogSystem().LogText(u"Test alert sent by "_s + channel->Name(), 0);
        else
            logFailure(u"Test alert by %1 failed: %2"_s.arg(channel->Name(), result.Error), AlertLogPlace::SendFailed);
        results.push_back(std::move(result));
    }
    return results;
}

} // namespace valmora::alerts
