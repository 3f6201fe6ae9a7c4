#pragma once

// The engine as a service: the refresh thread runs with the settings, every
// finished cycle is consumed in the monitor's own thread (state file, metrics),
// and the settings can be read again while it runs.

#include "MetricsStore.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "refresh/RefreshThread.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace valmora {

namespace alerts {
class TAlerter;
}

class TMonitor final : public QObject
{
    Q_OBJECT
public:
    using TPartsFactory = std::function<TRefreshThreadParts()>;

    // dataFolder with a trailing delimiter; parts are made anew at every start.
    explicit TMonitor(QString dataFolder, TPartsFactory createParts = &TRefreshThreadParts::System);
    ~TMonitor() override;

    // Reads the settings and starts the refresh thread; its first cycle runs at once.
    void Start();
    // Ends the thread in order: the checks in flight finish within their
    // time-outs, the unfinished cycle is not consumed. Returns when it ended.
    void Stop();
    // Stop, then Start with the settings as they are now.
    void Reload();
    bool Running() const { return m_thread != nullptr; }

    // What one finished cycle brought: the states go to the state file and
    // the metrics take the computers' readouts. Runs in the monitor's thread.
    void CycleDone(const std::shared_ptr<TCycleBatch> &batch);

    const TMetricsStore &Metrics() const { return m_metrics; }
    const QString &DataFolder() const { return m_dataFolder; }

signals:
    void cycleConsumed();

private:
    QString m_dataFolder;
    TPartsFactory m_createParts;
    TMetricsStore m_metrics;
    std::unique_ptr<TRefreshThread> m_thread;
    std::unique_ptr<alerts::TAlerter> m_alerter;
    // Bumped at every stop, so a batch queued by an earlier thread is dropped.
    quint64 m_generation = 0;
    // The first cycle after a start names every computer of the settings now.
    bool m_firstCycle = true;
};

} // namespace valmora
