// The very first start: the computers of the chosen source are discovered and
// checked once, the window staying usable, before the refresh thread starts.

#include "MainForm.h"

#include "MessageBox.h"

#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "foundation/Settings.h"
#include "refresh/CheckPool.h"
#include "refresh/StateFile.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora {

void TMainForm::startFirstRun(TNNBase *source)
{
    ShowMessageBox(this, u"Atenttion"_s,
                   u"This application is run first time.\r\nApplication will discover computers on network and check "
                   "theirs drives.\r\nDiscover time depends on number of computers.\r\nApplication will be "
                   "minimized during scan."_s);
    if (m_destroyed)
        return;
    ApplicationEvents1Minimize();
    // The source enumerates in the worker; the window does not touch it meanwhile.
    StopDiscovery = false;
    m_discovery = std::thread([this, source, sources = m_sources] {
        bool refreshed = false;
        try {
            const auto lock = sources->Lock();
            refreshed = source->Refresh();
        } catch (const std::exception &e) {
            XLogSystem().LogException(e, 0);
        }
        QMetaObject::invokeMethod(
            this, [this, source, refreshed] { Guarded(this, [&] { firstRunRefreshed(source, refreshed); }); },
            Qt::QueuedConnection);
    });
}

void TMainForm::firstRunRefreshed(TNNBase *source, bool refreshed)
{
    if (m_discovery.joinable())
        m_discovery.join();
    if (m_destroyed)
        return;
    if (!refreshed) {
        finishFirstRun();
        return;
    }
    if (source->ComputerCount() < 1) {
        ShowMessageBox(this, u"Atenttion"_s, u"There is no computers! Enable NetworkNeigborhood!"_s);
        finishFirstRun();
        return;
    }
    QStringList captions;
    std::vector<TComputerRow> rows;
    for (int i = 0; i < source->ComputerCount(); ++i) {
        const QString caption = source->ComputerName(i);
        rows.push_back({caption, TComputerGroup::Good, false, std::make_shared<const TDriveList>(), {}, 0});
        XLogSystem().LogFormat(u"WMStart.Computer names: %s"_s, {caption}, 0);
        captions.append(caption);
    }
    resetQuietly(std::move(rows));
    UpdateActions();

    // The refresh thread's checks, several at once, off the window's thread:
    // the same credentials choice, saving and logging of failures.
    StopDiscovery = false;
    TCheckEnvironment environment{std::shared_ptr<TIcmpEcho>(m_parts.CreateEcho()),
                                  m_parts.ReadDrives,
                                  TSettings::Current()->User,
                                  TOptions::ReadUserP(),
                                  DataFolder(),
                                  m_parts.LocalComputerName};
    // Settings are read here, never from the worker.
    m_discovery = std::thread([this, captions, environment = std::move(environment),
                               atOnce = TSettings::Current()->ChecksAtOnce] {
        TCheckPoolEvents events;
        events.StopRequested = [this] { return StopDiscovery.load(); };
        events.OnChecked = [this](const TAddedComputer &computer) {
            // The pool keeps its entry: the window gets a copy of its own.
            QMetaObject::invokeMethod(
                this,
                [this, name = computer.Name, state = computer.State, drives = TSharedDrives(CopyDrives(computer.Drives))] {
                    Guarded(this, [&] { firstRunChecked(name, state, drives); });
                },
                Qt::QueuedConnection);
        };
        const TCheckPoolResult result = CheckComputers(captions, atOnce, environment, events);
        if (!result.Stopped)
            QMetaObject::invokeMethod(
                this, [this] { Guarded(this, [&] { finishFirstRun(); }); }, Qt::QueuedConnection);
    });
}

void TMainForm::firstRunChecked(const QString &name, int state, const TSharedDrives &drives)
{
    if (m_destroyed)
        return;
    const TComputerRow *known = m_computers->Computer(name);
    if (!known)
        return;
    const TComputerReason reason = ReadComputerReason(DataFolder(), name);
    TComputerRow row{known->Name, GroupFromState(state), known->Cross, drives, reason.Text, reason.Time};
    const QString caption = row.Name;
    putQuietly(std::move(row));
    m_state.WriteState(BareComputerName(caption), StateOfGroup(GroupFromState(state)));
    if (CompareComputerNames(m_shown, caption) == 0)
        showComputerDrives(caption);
    UpdateActions();
}

void TMainForm::finishFirstRun()
{
    if (m_discovery.joinable())
        m_discovery.join();
    if (m_destroyed)
        return;
    TOptions::WriteFirstRun(false);
    TrayIcon1DblClick();
    startRefreshThread();
}

} // namespace valmora
