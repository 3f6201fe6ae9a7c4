#include "Monitor.h"

#include "alerts/Alerter.h"

#include "discovery/ComputersIP.h"
#include "drivedata/Verdicts.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "foundation/Settings.h"
#include "refresh/StateFile.h"

#include <QDateTime>
#include <QFileInfo>

#include <map>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

TMonitor::TMonitor(QString dataFolder, TPartsFactory createParts)
    : m_dataFolder(std::move(dataFolder))
    , m_createParts(std::move(createParts))
{
}

TMonitor::~TMonitor()
{
    Stop();
}

void TMonitor::Start()
{
    if (m_thread)
        return;
    const auto settings = TSettings::Current();
    try {
        m_alerter = alerts::TAlerter::FromSettings(m_dataFolder);
    } catch (const std::exception &e) {
        // Alert settings that cannot be used are logged; the cycles still run.
        XLogSystem().LogException(e, 0);
    }
    m_thread = std::make_unique<TRefreshThread>(m_createParts());
    // The thread walks the ranges every cycle.
    if (TIPNetworkNeigborhoodComputes *ranges = m_thread->Sources()->IPRanges()) {
        const auto lock = m_thread->Sources()->Lock();
        ranges->SetIPRanges(settings->IPRanges);
    }
    m_thread->DomainUser = settings->User;
    m_thread->DomainPassword = TOptions::ReadUserP();
    m_thread->SetSearchKind(settings->SearchKind);
    m_thread->DataFolder = m_dataFolder;
    const quint64 generation = m_generation;
    m_firstCycle = true;
    // Runs in the refresh thread: only queues the batch for this one.
    m_thread->OnCycleDone = [this, generation](std::shared_ptr<TCycleBatch> batch) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, batch = std::move(batch)] {
                if (generation == m_generation)
                    CycleDone(batch);
            },
            Qt::QueuedConnection);
    };
    XLogSystem().LogFormat(u"Monitor start: source %d, interval %d s, %d checks at once"_s,
                           {std::int64_t{m_thread->SearchKind()}, std::int64_t{m_thread->IntervalMs() / 1000},
                            std::int64_t{m_thread->ChecksAtOnce()}},
                           0);
    m_thread->Resume();
}

void TMonitor::Stop()
{
    if (!m_thread)
        return;
    ++m_generation;
    m_thread->Stop();
    m_thread.reset();
    m_alerter.reset();
}

void TMonitor::Reload()
{
    XLogSystem().LogText(u"Monitor reload"_s, 0);
    Stop();
    // The settings file may have been edited: the kept settings are read anew.
    TSettings::Reload();
    FlushVerdictRules();
    SetVerdictRules(ProgramVerdictRules(m_dataFolder, TSettings::Current()->SectorWarnings));
    Start();
}

void TMonitor::CycleDone(const std::shared_ptr<TCycleBatch> &batch)
{
    if (!batch)
        return;
    const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    QList<std::pair<QString, int>> states;
    std::vector<TComputerMetrics> computers;
    computers.reserve(batch->CheckedComputers.size());
    // The user's choice of minutes per model, read once per model and cycle.
    std::map<QString, bool> minutesByModel;
    const auto powerOnInMinutes = [&](const TDriveInformation &drive) {
        const auto found = minutesByModel.find(drive.Model);
        if (found != minutesByModel.end())
            return found->second;
        const bool minutes = ReadDiskModelFlag(m_dataFolder, drive.Model, PowerOnInMinutes(drive));
        minutesByModel.emplace(drive.Model, minutes);
        return minutes;
    };
    for (const auto &entry : batch->CheckedComputers) {
        if (!entry)
            continue;
        const QString host = BareComputerName(entry->Name);
        const TDriveList *drives = &entry->Drives;
        TDriveList stored;
        // When its drives were read: now, or for a computer that gave none now,
        // when its last readout was saved (the file keeps a readout time only
        // for healthy drives).
        double readout = entry->Drives.Count() > 0 ? now : 0;
        if (entry->Drives.Count() == 0) {
            const QString file = m_dataFolder + host + u".wci"_s;
            try {
                stored.LoadFromFile(file);
                drives = &stored;
                if (stored.Count() > 0)
                    readout = static_cast<double>(QFileInfo(file).lastModified().toMSecsSinceEpoch()) / 1000.0;
            } catch (const std::exception &e) {
                XLogSystem().LogException(e, LogPlace::ReadInformationFile);
            }
        }
        TComputerMetrics metrics = MetricsOfComputer(host, entry->State, *drives, now, powerOnInMinutes);
        metrics.LastReadoutSeconds = readout;
        states.append({host, metrics.State});
        computers.push_back(std::move(metrics));
    }
    WriteComputerStates(m_dataFolder, states);
    // A service runs for months: the counts first seen this cycle are kept now,
    // not only at its end.
    FlushVerdictRules();
    m_metrics.ApplyCycle(std::move(computers), batch->RemovedComputerNames,
                         std::chrono::duration<double>(batch->Duration).count(), now,
                         std::exchange(m_firstCycle, false));
    // The same batch raises the alerts, sent on the alerter's own thread.
    if (m_alerter)
        m_alerter->HandleCycle(*batch);
    emit cycleConsumed();
}

} // namespace valmora
