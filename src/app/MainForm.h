#pragma once

// The main window: the computers in five state groups on the left, the drives
// of the selected computer and the attribute table of the pressed drive on the
// right, kept current by the refresh thread's batches.

#include "AttrInfo.h"
#include "ComputerListModel.h"
#include "DriveView.h"
#include "StateStore.h"
#include "UserPassForm.h"

#include "alerts/Alerter.h"
#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "refresh/ComputerCheck.h"
#include "refresh/RefreshThread.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QAction;
class QMenu;
class QTreeView;

namespace valmora {

class TTrayIcon;

// The window's parts that touch the world, replaceable in tests.
struct TMainFormParts
{
    // The computer sources; the window builds its list from them and hands
    // the same set to the refresh thread.
    std::unique_ptr<TThisComputer> ThisComputer1;
    std::unique_ptr<TNetworkNeigborhoodComputes> NetworkNeigborhoodComputes1;
    std::unique_ptr<TIPNetworkNeigborhoodComputes> IPNetworkNeigborhoodComputes1;
    // The ping of the first-run checks (made for their worker).
    std::function<std::unique_ptr<TIcmpEcho>()> CreateEcho;
    TReadDrives ReadDrives;
    QString LocalComputerName;
    std::function<TRefreshThreadParts()> CreateThreadParts;
    // Whether the desktop has a notification area to hide in.
    std::function<bool()> TrayAvailable;
    // The alerter of the cycles, given the data folder and the desktop notice;
    // none: no alerts.
    std::function<std::unique_ptr<alerts::TAlerter>(const QString &dataFolder,
                                                    std::function<void(const alerts::TAlert &)> desktop)>
        CreateAlerter;

    static TMainFormParts System();
};

class TMainForm final : public QMainWindow
{
    Q_OBJECT
public:
    explicit TMainForm(TMainFormParts parts = TMainFormParts::System(), QWidget *parent = nullptr);
    ~TMainForm() override;

    // Shows the window as its creation left it: hidden in the tray or minimised
    // when "Minimize to tray" is set, normal otherwise.
    void ShowAtStart();
    // What a second start of the program asks for: the window restored and in front.
    void BringToFront();

    QString DataFolder() const;
    TComputerListModel *Computers() const { return m_computers; }
    // The computer of that name in the list; invalid when it holds none.
    QModelIndex FindItem(const QString &caption) const { return m_computers->Find(caption); }
    // The selected computer's name; empty when none is selected.
    QString SelectedItem() const { return m_selected; }
    QIcon ComputerImage(int index) const { return m_computers->Image(index != 0); }
    int ListSearchKind() const { return SearchKindNumber(m_listSearchKind); }
    bool StartupDone() const { return m_startupDone; }
    // The network's answers at a later start have not been merged yet.
    bool DiscoveryPending() const { return m_discoveryPending; }
    const std::shared_ptr<TComputerSources> &Sources() const { return m_sources; }
    int MergeCount() const { return m_mergeCount; }
    TRefreshThread *Thread() const { return RefreshThread.get(); }
    // Returns when the window's state-file writes are on disk.
    void FlushStateFile() { m_state.Flush(); }
    const std::vector<TDriveView::TDriveButton> &DriveButtons() const { return Panel4->DriveButtons(); }

    // The list rebuild from the window's source, the state file and the information files.
    void acRefreshExecute();
    // The end of a refresh cycle: the batch's removed computers, then its checked ones.
    void WMCycleDone(std::shared_ptr<TCycleBatch> batch);
    void WMStatusText(const QString &text);
    void RemoveDeletedComputers(QStringList &names);
    void MergeCheckedComputers(TCheckedComputers &checked);

    void acDeleteComputerInformationUpdate();
    void acDeleteComputerInformationExecute();
    void acAcknowledgeWarningUpdate() { Panel4->acAcknowledgeWarningUpdate(); }
    void UpdateActions();

    void ApplicationEvents1Minimize();
    void TrayIcon1DblClick();
    void LoadWindowPlacement();
    void SaveWindowPlacement();
    // An alert's desktop notice from the tray icon, and a click on it: the
    // window comes forward on that computer.
    void ShowAlertNotice(const alerts::TAlert &alert);
    void AlertNoticeClicked();

    // Components, named as the window's design names them; the drive view
    // (Panel4) holds the drive buttons, labels, attribute table and note.
    QTreeView *lvComputers = nullptr;
    QWidget *Panel3 = nullptr;
    TDriveView *Panel4 = nullptr;
    TTrayIcon *TrayIcon1 = nullptr;
    QMenu *mmCommands = nullptr;
    QMenu *mmHelp = nullptr;
    QMenu *pmComputers = nullptr;
    QAction *acDeleteComputerInformation = nullptr;
    QAction *acOptions = nullptr;
    QAction *acExit = nullptr;
    QAction *acHelp = nullptr;
    QAction *acContact = nullptr;
    QAction *acAbout = nullptr;
    QAction *acRefresh = nullptr;
    TacOverwriteUserPass *acOverwriteUserPass = nullptr;

signals:
    // After every merge of a batch and after the start (list built, thread running).
    void cycleMerged();
    void startupDone();
    // The network's answers at a later start joined the list.
    void discoveryMerged();
    // The window was closed: the program ends.
    void formClosed();
    // A desktop notice of an alert about the computer was shown.
    void alertNoticeShown(const QString &computer);

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void PrepareWindow();
    void createComponents();
    void WMStart();
    TNNBase *chooseSource(TSearchKind searchKind);
    void startFirstRun(TNNBase *source);
    void firstRunRefreshed(TNNBase *source, bool refreshed);
    void firstRunChecked(const QString &name, int state, const TSharedDrives &drives);
    void finishFirstRun();
    void startRefreshThread();
    // Lists the computers of the network source's stored readouts, without asking the network.
    void showStoredComputers();
    // The first answers of the network (the refresh thread's first refresh of
    // the source): the computers the list lacks join it with their stored state.
    void discoveryAnswered(const QStringList &names);
    static QStringList sourceNames(const TNNBase &source);
    // The computers with their stored states and readouts.
    std::vector<TComputerRow> storedRows(const QStringList &captions);
    void formDestroy();
    void lvComputersSelectItem();
    void selectItem(const QString &caption);
    void unselectItem();
    // Shows the computer's drives in the drive view; the view is emptied when the list does not hold it.
    void showComputerDrives(const QString &caption);
    void clearDriveView();
    // Selects and shows the computer of that name when the list holds it.
    void reselect(const QString &caption);
    // Selection changes that the window makes itself are not the user's.
    void setCurrentQuietly(const QModelIndex &index);
    void putQuietly(TComputerRow row);
    void resetQuietly(std::vector<TComputerRow> rows);
    void removeItem(const QString &caption);
    void clearList();
    // Loads the computer's information file when it exists; false when it could not be read (logged).
    bool loadInformationFile(TDriveList &list, const QString &caption, bool evaluate);
    // The row a checked computer gives: its drives, or the stored ones when it gave none, and the cross.
    TComputerRow checkedRow(const QString &caption, TAddedComputer &entry, bool cross);
    void loadColumns();
    void saveColumns();

    TMainFormParts m_parts;
    std::shared_ptr<TComputerSources> m_sources;
    std::unique_ptr<TSMARTAttrDecription> AttrDescriptions;
    std::unique_ptr<TRefreshThread> RefreshThread;
    std::unique_ptr<alerts::TAlerter> m_alerter;
    QString m_noticeComputer; // whose notice was shown last
    void startAlerter();
    TStateStore m_state;
    TComputerListModel *m_computers = nullptr;
    QString m_selected;
    // Whose drives the view shows: the selected computer, or the current one during a merge.
    QString m_shown;
    TSearchKind m_listSearchKind = TSearchKind::ThisComputer;
    int m_mergeCount = 0;
    bool m_merging = false;
    bool m_startupDone = false;
    bool m_discoveryPending = false;
    bool m_startMinimized = false;
    bool m_destroyed = false;
    TCheckedComputers m_pending; // entries a failed merge left for the next one

    // The worker of the first run's discovery and checks, or of a later
    // start's network discovery, and its stop switch.
    std::atomic<bool> StopDiscovery{false};
    std::thread m_discovery;
};

} // namespace valmora
