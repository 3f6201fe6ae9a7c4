#include "RefreshThread.h"

#include "CheckPool.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"

#include <algorithm>
#include <chrono>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

TRefreshThread::TRefreshThread(TRefreshThreadParts parts)
    : m_parts(std::move(parts))
    , m_echo(std::move(m_parts.Echo))
    , m_clock(m_parts.Clock ? m_parts.Clock : platform::SystemWaitClock())
{
    m_intervalMs = static_cast<unsigned>(std::max(TOptions::ReadInterval(), 0)) * 1000U;
    m_checksAtOnce = TOptions::ReadChecksAtOnce();
    const TComputerEvent deleted = [this](TNNBase &, const QString &name, bool &) { m_removed.append(name); };
    for (TNNBase *source : std::initializer_list<TNNBase *>{m_parts.ThisComputerSource.get(), m_parts.NetworkSource.get(),
                                                            m_parts.IPSource.get()})
        if (source)
            source->OnComputerDeleted = deleted;
    SetSearchKind(1);
}

TRefreshThread::~TRefreshThread()
{
    Stop();
}

void TRefreshThread::SetSearchKind(int kind)
{
    // Only a hand-edited setting holds another value; the window falls back to
    // the network neighbourhood then, and so does the thread.
    m_searchKind = kind == 0 || kind == 2 ? kind : 1;
    switch (m_searchKind) {
    case 0:
        m_source = m_parts.ThisComputerSource.get();
        break;
    case 2:
        m_source = m_parts.IPSource.get();
        break;
    default:
        m_source = m_parts.NetworkSource.get();
        break;
    }
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
    auto batch = std::make_shared<TCycleBatch>();
    m_removed.clear();
    bool refreshed = false;
    try {
        refreshed = m_source && m_source->Refresh();
    } catch (const std::exception &e) {
        // A range of the settings that cannot be read: this cycle checks
        // nothing, the next one tries again; the thread must not end over it.
        XLogSystem().LogException(e, LogPlace::ReverseLookup);
    }
    if (refreshed) {
        XLogSystem().LogFormat(u"NB.Refresh %d"_s, {std::int64_t{m_source->ComputerCount()}}, 0);
        if (m_source == m_parts.NetworkSource.get())
            m_parts.NetworkSource->AddKnownComputers(DataFolder);
        if (!Terminated()) {
            const TCheckEnvironment environment{m_echo, m_parts.ReadDrives, DomainUser, DomainPassword, DataFolder,
                                                m_parts.LocalComputerName};
            QStringList names;
            for (int i = 0; i < m_source->ComputerCount(); ++i)
                names.append(m_source->ComputerName(i));
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
    batch->RemovedComputerNames = std::exchange(m_removed, {});
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
