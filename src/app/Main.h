#pragma once

// The main window: the computers in five state groups on the left, the drives
// of the selected computer and the attribute table of the pressed drive on the
// right, kept current by the refresh thread's batches.

#include "AttrInfo.h"
#include "UserPassForm.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "refresh/ComputerCheck.h"
#include "refresh/RefreshThread.h"
#include "refresh/StateFile.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QTreeWidgetItem>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QAction;
class QButtonGroup;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSystemTrayIcon;
class QToolButton;
class QTreeWidget;

namespace valmora {

// The window's parts that touch the world, replaceable in tests.
struct TMainFormParts
{
    std::unique_ptr<TThisComputer> ThisComputer1;
    std::unique_ptr<TNetworkNeigborhoodComputes> NetworkNeigborhoodComputes1;
    std::unique_ptr<TIPNetworkNeigborhoodComputes> IPNetworkNeigborhoodComputes1;
    // The ping of the first-run discovery (made for its worker).
    std::function<std::unique_ptr<TIcmpEcho>()> CreateEcho;
    TReadDrives ReadDrives;
    QString LocalComputerName;
    std::function<TRefreshThreadParts()> CreateThreadParts;
    // Whether the desktop has a notification area to hide in.
    std::function<bool()> TrayAvailable;

    static TMainFormParts System();
};

// One computer of the list: its caption is the name, its group the state code.
class TComputerItem final : public QTreeWidgetItem
{
public:
    explicit TComputerItem(const QString &caption);

    QString Caption() const { return text(0); }
    int Group = 5;
    int ImageIndex = 0;
    std::unique_ptr<TDriveList> Drives;
};

// 35 degrees in scale 0 is "35°C", in scale 1 "95°F"; any other scale gives "".
QString FormatTemperature(int value, int scale);
// The list's order: ASCII letters without regard to case, other characters by code.
int CompareComputerCaptions(const QString &left, const QString &right);

// A window placement (the frame's rectangle) moved and shrunk so that it lies
// within the available area of its screen; one that fits stays as it is.
QRect FitToScreen(const QRect &frame, const QRect &available);

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
    TDriveList *SelectedDrives() const;
    TComputerItem *SelectedItem() const;
    TComputerItem *FindItem(const QString &caption) const;
    QList<TComputerItem *> Items() const;
    QTreeWidgetItem *GroupItem(int group) const { return m_groups.at(static_cast<std::size_t>(group - 1)); }
    QIcon ComputerImage(int index) const { return m_images.at(static_cast<std::size_t>(index ? 1 : 0)); }
    int ListSearchKind() const { return m_listSearchKind; }
    bool StartupDone() const { return m_startupDone; }
    int MergeCount() const { return m_mergeCount; }
    TRefreshThread *Thread() const { return RefreshThread.get(); }
    // Returns when the merges' state-file writes are on disk.
    void FlushStateFile() { m_stateWriter.Drain(); }

    // The list rebuild from the window's source, the state file and the information files.
    void acRefreshExecute();
    // The end of a refresh cycle: the batch's removed computers, then its checked ones.
    void WMCycleDone(std::shared_ptr<TCycleBatch> batch);
    void WMStatusText(const QString &text);
    void RemoveDeletedComputers(QStringList &names);
    void MergeCheckedComputers(TCheckedComputers &checked);

    void acDeleteComputerInformationUpdate();
    void acDeleteComputerInformationExecute();
    void acPowerOnCountExecute();
    // Moves the shown drive's baseline to the selected attribute's count.
    void acAcknowledgeWarningExecute();
    void acAcknowledgeWarningUpdate();
    void UpdateActions();

    void ShowComputerDrives(TDriveList *list);
    void ShowDrive(int buttonIndex);
    void ClearDriveView();
    void ClearDriveLabels();
    void Panel4Resize();
    void lvSmartDataChanging(QTreeWidgetItem *row);

    void ApplicationEvents1Minimize();
    void TrayIcon1DblClick();
    void LoadWindowPlacement();
    void SaveWindowPlacement();

    // Components, named as the window's design names them.
    QTreeWidget *lvComputers = nullptr;
    QWidget *Panel3 = nullptr;
    QWidget *Panel4 = nullptr;
    QFrame *pnDrive = nullptr;
    QWidget *pnInfo = nullptr;
    QLabel *lbManufacturerModelInfo = nullptr;
    QLabel *lbDriveSize = nullptr;
    QLabel *lbTemperature = nullptr;
    QLabel *lbLastReadoutDate = nullptr;
    QLabel *lbPowerOnCount = nullptr;
    QToolButton *btnPowerOnCount = nullptr;
    QTreeWidget *lvSmartData = nullptr;
    QPlainTextEdit *memoInfo = nullptr;
    QSystemTrayIcon *TrayIcon1 = nullptr;
    QMenu *mmCommands = nullptr;
    QMenu *mmHelp = nullptr;
    QMenu *pmComputers = nullptr;
    QMenu *pmSmartData = nullptr;
    QMenu *pmTrayIcon = nullptr;
    QAction *acDeleteComputerInformation = nullptr;
    QAction *acOptions = nullptr;
    QAction *acExit = nullptr;
    QAction *acHelp = nullptr;
    QAction *acContact = nullptr;
    QAction *acAbout = nullptr;
    QAction *acRefresh = nullptr;
    QAction *acPowerOnCount = nullptr;
    QAction *acAcknowledgeWarning = nullptr;
    TacOverwriteUserPass *acOverwriteUserPass = nullptr;
    // The notification area's menu.
    QAction *acShowWindow = nullptr;
    QAction *acRefreshStatus = nullptr;

    struct TDriveButton
    {
        QPointer<QToolButton> Button;
        const TDriveInformation *Drive = nullptr;
    };
    const std::vector<TDriveButton> &DriveButtons() const { return m_driveButtons; }
    bool DescriptionsReady = false;
    QString CurrentModel;
    std::int32_t PowerOnRaw = 0;
    std::int32_t PowerCycleCount = 0;
    // Whether the drive shown has attribute 9 (power-on time) and 12 (power cycles).
    bool HasPowerOn = false;
    bool HasPowerCycles = false;
    // The shown drive's family counts power-on time in minutes: where the
    // hours/minutes choice starts until the user sets it for the model.
    bool PowerOnInMinutesByFamily = false;

signals:
    // After every merge of a batch and after the start (list built, thread running).
    void cycleMerged();
    void startupDone();
    // The window was closed: the program ends.
    void formClosed();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void PrepareWindow();
    void createComponents();
    void WMStart();
    TNNBase *chooseSource(int searchKind);
    void startFirstRun(TNNBase *source);
    void firstRunRefreshed(TNNBase *source, bool refreshed);
    void firstRunChecked(TAddedComputer &checked);
    void finishFirstRun(TNNBase *source);
    void startRefreshThread(TNNBase *source);
    void formDestroy();
    void lvComputersSelectItem();
    void selectItem(TComputerItem *item);
    void unselectItem();
    void BuildDriveButtons(TDriveList &list);
    void freeDriveButtons();
    void showPowerOnCount(std::int32_t hours);
    // The note below the table back to the window colour, and empty.
    void resetNote();
    // Keeps the window, and its minimum size, within the screen it is on.
    void fitToScreen();
    // Selects and shows the computer of that name when the list holds it.
    void reselect(const QString &caption);
    void placeItem(TComputerItem *item, int group);
    void removeItem(TComputerItem *item);
    void clearList();
    // Loads the computer's information file when it exists; false when it could not be read (logged).
    bool loadInformationFile(TDriveList &list, const QString &caption, bool evaluate);
    void addCheckedDrives(TComputerItem *item, TAddedComputer &entry);
    void applySuspectTest(TComputerItem *item);
    void loadColumns();
    void saveColumns();

    TMainFormParts m_parts;
    std::unique_ptr<TSMARTAttrDecription> AttrDescriptions;
    std::unique_ptr<TRefreshThread> RefreshThread;
    std::array<QTreeWidgetItem *, 5> m_groups{};
    std::array<QIcon, 2> m_images;
    std::vector<TDriveButton> m_driveButtons;
    QButtonGroup *m_driveButtonGroup = nullptr;
    TComputerItem *m_selected = nullptr;
    TDriveList *m_shownDrives = nullptr;
    int m_shownDrive = -1; // index of the shown drive in m_shownDrives
    int m_listSearchKind = 0;
    int m_mergeCount = 0;
    bool m_merging = false;
    bool m_startupDone = false;
    bool m_startMinimized = false;
    bool m_destroyed = false;
    TCheckedComputers m_pending; // entries a failed merge left for the next one
    TStateFileWriter m_stateWriter; // the merges' writes; drained before any other access

    // The first-run discovery's worker and its stop switch.
    std::atomic<bool> StopDiscovery{false};
    std::thread m_discovery;
};

} // namespace valmora
