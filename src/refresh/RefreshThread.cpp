#include "RefreshThread.h"

#include "CheckPool.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "foundation/Settings.h"

#include <algorithm>
#include <chrono>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

TRefreshThread::TRefreshThread(TRefreshThreadParts parts)
    : m_parts(std::move(parts))
    , m_echo(std::move(m_parts.Echo))
    , m_clock(m_parts.Clock ? m_parts.Clock : platform::SystemWaitClock())
{
    if (!m_parts.Sources) {
        if (m_parts.ThisComputerSource || m_parts.NetworkSource || m_parts.IPSource)
            m_parts.Sources = std::make_shared<TComputerSources>(
                std::move(m_parts.ThisComputerSource), std::move(m_parts.NetworkSource), std::move(m_parts.IPSource));
        else
            m_parts.Sources = TComputerSources::System();
    }
    const auto settings = TSettings::Current();
    m_intervalMs = static_cast<unsigned>(settings->Interval) * 1000U;
    m_checksAtOnce = settings->ChecksAtOnce;
    const TComputerEvent deleted = [this](TNNBase &, const QString &name, bool &) { m_removed.append(name); };
    const TComputerSources &sources = *m_parts.Sources;
    {
        const auto lock = sources.Lock();
        for (TNNBase *source : {sources.Source(TSearchKind::ThisComputer), sources.Source(TSearchKind::IPRanges),
                                sources.Source(TSearchKind::NetworkNeighbourhood)})
            if (source)
                source->OnComputerDeleted = deleted;
    }
    SetSearchKind(TSearchKind::NetworkNeighbourhood);
}

TRefreshThread::~TRefreshThread()
{
    Stop();
}

void TRefreshThread::SetSearchKind(TSearchKind kind)
{
    m_searchKind = kind;
    m_source = m_parts.Sources->Source(kind);
}

void TRefreshThread::SetChecksAtOnce(int checks)
{
    m_checksAtOnce = std::clamp(checks, 1, TOptions::MaxChecksAtOnce);
}

void TRefreshThread::Resume()
{
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this] { execute(); });
}

void TRefreshThread::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_terminated = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool TRefreshThread::Terminated() const
{
    std::lock_guard lock(m_mutex);
    return m_terminated;
}

void TRefreshThread::CheckNow()
{
    {
        std::lock_guard lock(m_mutex);
        m_checkNow = true;
    }
    m_wake.notify_all();
}

bool TRefreshThread::wait(unsigned ms)
{
    std::unique_lock lock(m_mutex);
    const auto until = m_clock->Now() + std::chrono::milliseconds(ms);
    while (!m_terminated && !m_checkNow && m_clock->Now() < until)
        m_clock->WaitUntil(m_wake, lock, until);
    return !m_terminated;
}

void TRefreshThread::status(const QString &text)
{
    if (OnStatusText)
        OnStatusText(text);
}

std::shared_ptr<TCycleBatch> TRefreshThread::cycle()
{
    const auto started = std::chrono::steady_clock::now();
    auto batch = std::make_shared<TCycleBatch>();
    bool refreshed = false;
    QStringList names;
    {
        const auto lock = m_parts.Sources->Lock();
        try {
            refreshed = m_source && m_source->Refresh();
        } catch (const std::exception &e) {
            // A range of the settings that cannot be read: this cycle checks
            // nothing, the next one tries again; the thread must not end over it.
            XLogSystem().LogException(e, LogPlace::ReverseLookup);
        }
        if (refreshed) {
            XLogSystem().LogFormat(u"NB.Refresh %d"_s, {std::int64_t{m_source->ComputerCount()}}, 0);
            if (TNetworkNeigborhoodComputes *network = m_parts.Sources->Network(); network && m_source == network)
                network->AddKnownComputers(DataFolder);
            for (int i = 0; i < m_source->ComputerCount(); ++i)
                names.append(m_source->ComputerName(i));
        }
    }
    if (OnSourceRefreshed)
        OnSourceRefreshed(names);
    if (refreshed) {
        if (!Terminated()) {
            const TCheckEnvironment environment{m_echo, m_parts.ReadDrives, DomainUser, DomainPassword, DataFolder,
                                                m_parts.LocalComputerName};
            TCheckPoolEvents events;
            events.StopRequested = [this] { return Terminated(); };
            events.OnStarted = [](const QString &name) { XLogSystem().LogFormat(u"Komputer: %s"_s, {name}, 0); };
            events.OnChecking = [this](const QString &name) { status(u"Currently check: %1"_s.arg(name)); };
            batch->CheckedComputers = CheckComputers(names, m_checksAtOnce, environment, events).CheckedComputers;
        }
    }
    if (Terminated())
        return nullptr;
    status(QString());
    TComputerComparer().Sort(batch->CheckedComputers);
    {
        const auto lock = m_parts.Sources->Lock();
        batch->RemovedComputerNames = std::exchange(m_removed, {});
    }
    batch->Duration = std::chrono::steady_clock::now() - started;
    return batch;
}

void TRefreshThread::execute()
{
    XLogSystem().LogText(u"Execute start"_s, 0);
    while (!Terminated()) {
        if (m_refreshNow)
            m_refreshNow = false;
        else if (!wait(m_intervalMs >> 1))
            break;
        {
            std::lock_guard lock(m_mutex);
            m_checkNow = false;
        }
        if (auto batch = cycle(); batch && OnCycleDone)
            OnCycleDone(std::move(batch));
        if (!wait(m_intervalMs))
            break;
        XLogSystem().LogText(u"Następne sprawdzanie komputerów"_s, 0);
    }
}

std::shared_ptr<TCycleBatch> TRefreshThread::RunOneCycle()
{
    return cycle();
}

} // namespace valmora
