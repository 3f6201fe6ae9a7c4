#include "CheckPool.h"

#include "discovery/ComputerNameCheck.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"

#include <QSet>

#include <algorithm>
#include <mutex>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

QStringList withoutRepeatedHosts(const QStringList &names)
{
    QStringList unique;
    QSet<QString> hosts;
    for (const QString &name : names) {
        const QString host = AsciiUpper(BareComputerName(name));
        if (!hosts.contains(host)) {
            hosts.insert(host);
            unique.append(name);
        }
    }
    return unique;
}

class Run
{
public:
    Run(QStringList names, const TCheckEnvironment &environment, const TCheckPoolEvents &events)
        : m_names(std::move(names))
        , m_environment(environment)
        , m_events(events)
        , m_results(static_cast<std::size_t>(m_names.size()))
    {
    }

    // One checking thread: takes the next name until none is left or a stop came.
    void work()
    {
        for (;;) {
            qsizetype index = 0;
            {
                std::lock_guard lock(m_mutex);
                if (m_stopped || m_next >= m_names.size())
                    return;
                if (m_events.StopRequested && m_events.StopRequested()) {
                    m_stopped = true;
                    return;
                }
                index = m_next++;
                const QString &name = m_names.at(index);
                m_inFlight.append(name);
                if (m_events.OnStarted)
                    m_events.OnStarted(name);
                show(name);
            }
            auto checked = CheckComputer(m_names.at(index), m_environment);
            std::lock_guard lock(m_mutex);
            const QString &name = m_names.at(index);
            m_inFlight.removeOne(name);
            if (m_shown == name && !m_inFlight.isEmpty())
                show(m_inFlight.last());
            if (m_events.OnChecked)
                m_events.OnChecked(*checked);
            m_results[static_cast<std::size_t>(index)] = std::move(checked);
        }
    }

    TCheckPoolResult take()
    {
        TCheckPoolResult result;
        result.Stopped = m_stopped;
        for (auto &entry : m_results)
            if (entry)
                result.CheckedComputers.push_back(std::move(entry));
        return result;
    }

private:
    void show(const QString &name)
    {
        m_shown = name;
        if (m_events.OnChecking)
            m_events.OnChecking(name);
    }

    const QStringList m_names;
    const TCheckEnvironment &m_environment;
    const TCheckPoolEvents &m_events;
    std::mutex m_mutex;
    qsizetype m_next = 0;
    bool m_stopped = false;
    QStringList m_inFlight; // in the order they started
    QString m_shown;
    std::vector<std::unique_ptr<TAddedComputer>> m_results;
};

} // namespace

TCheckPoolResult CheckComputers(const QStringList &names, int atOnce, const TCheckEnvironment &environment,
                                const TCheckPoolEvents &events)
{
    const QStringList unique = withoutRepeatedHosts(names);
    Run run(unique, environment, events);
    const auto threads = std::min<qsizetype>(std::clamp(atOnce, 1, TOptions::MaxChecksAtOnce), unique.size());
    {
        std::vector<std::jthread> helpers;
        for (qsizetype i = 1; i < threads; ++i) {
            try {
                helpers.emplace_back([&run] { run.work(); });
            } catch (const std::system_error &e) {
                // Fewer threads than asked for still check every computer.
                XLogSystem().LogException(e, LogPlace::CheckComputer);
                break;
            }
        }
        run.work();
    }
    return run.take();
}

} // namespace valmora
