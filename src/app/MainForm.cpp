#include "MainForm.h"

#include "AboutForm.h"
#include "ComCtrlsHelpers.h"
#include "FormHelpers.h"
#include "MessageBox.h"
#include "Options2Form.h"
#include "TrayIcon.h"
#include "WindowPlacement.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "drivedata/WmiDriveReader.h"
#include "foundation/DataPaths.h"
#include "foundation/Environment.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"
#include "foundation/Settings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QSvgRenderer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeView>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {


constexpr int kMinimumWidth = 800;
constexpr int kMinimumHeight = 550;

QIcon renderIcon(const QString &resource, int size)
{
    QSvgRenderer renderer(resource);
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    return QIcon(pixmap);
}

} // namespace

TMainFormParts TMainFormParts::System()
{
    TMainFormParts parts;
    parts.ThisComputer1 = std::make_unique<TThisComputer>();
    parts.NetworkNeigborhoodComputes1 = std::make_unique<TNetworkNeigborhoodComputes>();
    parts.IPNetworkNeigborhoodComputes1 = std::make_unique<TIPNetworkNeigborhoodComputes>();
    parts.CreateEcho = [] { return CreateSystemIcmpEcho(); };
    parts.ReadDrives = [](const QString &computer, TDriveList &list, const QString &user, const QString &password,
                          QString *reason) { return ReadComputerDrives(computer, list, user, password, reason); };
    parts.LocalComputerName = valmora::LocalComputerName();
    parts.CreateThreadParts = [] { return TRefreshThreadParts::System(); };
    parts.TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    parts.CreateAlerter = [](const QString &dataFolder, std::function<void(const alerts::TAlert &)> desktop) {
        return alerts::TAlerter::FromSettings(dataFolder, std::move(desktop));
    };
    return parts;
}

// ---------------------------------------------------------------------------
// Creation and destruction

TMainForm::TMainForm(TMainFormParts parts, QWidget *parent)
    : QMainWindow(parent)
    , m_parts(std::move(parts))
    , m_sources(std::make_shared<TComputerSources>(std::move(m_parts.ThisComputer1),
                                                   std::move(m_parts.NetworkNeigborhoodComputes1),
                                                   std::move(m_parts.IPNetworkNeigborhoodComputes1)))
    , m_state(DataFolder())
{
    setObjectName(u"frmMain"_s);
    createComponents();
    PrepareWindow();
    LoadWindowPlacement();
    loadColumns();
    Panel4->Clear();
    m_startMinimized = TSettings::Current()->MinimizeToTray;
    QMetaObject::invokeMethod(this, [this] { Guarded(this, [this] { WMStart(); }); }, Qt::QueuedConnection);
}

TMainForm::~TMainForm()
{
    formDestroy();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // A check in progress may take its time-outs to end: the window goes first.
    hide();
    formDestroy();
    TrayIcon1->hide();
    event->accept();
    emit formClosed();
}

void TMainForm::formDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    StopDiscovery = true;
    if (m_discovery.joinable())
        m_discovery.join();
    // A check in progress ends within its time-outs; nothing of the thread is
    // delivered after this.
    if (RefreshThread)
        RefreshThread->Stop();
    // A send in progress ends within its time-outs; what is unsent stays in the outbox.
    m_alerter.reset();
    m_state.Flush();
    saveColumns();
    SaveWindowPlacement();
}

void TMainForm::createComponents()
{
    setWindowTitle(QString::fromUtf16(kProgramCaption));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    setFont(FormFont());
    setWindowIcon(renderIcon(u":/images/valmora.svg"_s, 64));

    AttrDescriptions = std::make_unique<TSMARTAttrDecription>(TWindowsFolders::ProgramFolder() + u"attribute.en"_s);
    m_computers = new TComputerListModel(renderIcon(u":/images/computer.svg"_s, 32),
                                         renderIcon(u":/images/computer-cross.svg"_s, 32), this);

    auto *central = new QWidget(this);
    auto *layout = new QHBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setCentralWidget(central);

    Panel3 = new QWidget(central);
    Panel3->setObjectName(u"Panel3"_s);
    Panel3->setFixedWidth(281);
    auto *panel3Layout = new QHBoxLayout(Panel3);
    panel3Layout->setContentsMargins(0, 0, 0, 0);
    lvComputers = new QTreeView(Panel3);
    lvComputers->setObjectName(u"lvComputers"_s);
    lvComputers->setModel(m_computers);
    lvComputers->setIndentation(10);
    lvComputers->setIconSize(QSize(32, 32));
    lvComputers->setSelectionMode(QAbstractItemView::SingleSelection);
    lvComputers->setUniformRowHeights(false);
    // An empty second column fills the width, and the group rows span the
    // row, so that they show their whole headers.
    lvComputers->header()->setStretchLastSection(true);
    lvComputers->header()->resizeSection(0, 150);
    for (int g = 0; g < kComputerGroupCount; ++g)
        lvComputers->setFirstColumnSpanned(g, QModelIndex(), true);
    lvComputers->expandAll();
    lvComputers->setContextMenuPolicy(Qt::CustomContextMenu);
    panel3Layout->addWidget(lvComputers);
    layout->addWidget(Panel3);

    Panel4 = new TDriveView(*AttrDescriptions, m_state, ComputerImage(0), central);
    layout->addWidget(Panel4, 1);
    // An acknowledgement gives the computer shown new drives.
    connect(Panel4, &TDriveView::drivesChanged, this, [this](const TSharedDrives &before, const TSharedDrives &after) {
        const TComputerRow *computer = m_computers->Computer(m_shown);
        if (!computer || computer->Drives != before)
            return;
        TComputerRow row = *computer;
        row.Drives = after;
        putQuietly(std::move(row));
    });
    connect(Panel4, &TDriveView::showFailed, this, [this] {
        // Inside a merge the merge rebuilds the list itself.
        if (!m_merging)
            Guarded(this, [this] { acRefreshExecute(); });
    });

    auto *status = new QStatusBar(this);
    status->setObjectName(u"StatusBar1"_s);
    setStatusBar(status);

    // Actions and menus.
    auto action = [this](const QString &name) {
        auto *a = new QAction(this);
        a->setObjectName(name);
        return a;
    };
    acDeleteComputerInformation = action(u"acDeleteComputerInformation"_s);
    acOptions = action(u"acOptions"_s);
    acExit = action(u"acExit"_s);
    acExit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    acHelp = action(u"acHelp"_s);
    acContact = action(u"acContact"_s);
    acAbout = action(u"acAbout"_s);
    acRefresh = action(u"acRefresh"_s);
    acRefresh->setText(u"Refresh"_s);
    acOverwriteUserPass = new TacOverwriteUserPass(
        this,
        [this]() -> std::optional<QString> {
            if (m_selected.isEmpty())
                return std::nullopt;
            return m_selected;
        },
        DataFolder());

    connect(acDeleteComputerInformation, &QAction::triggered, this,
            [this] { Guarded(this, [this] { acDeleteComputerInformationExecute(); }); });
    connect(acOptions, &QAction::triggered, this, [this] {
        Guarded(this, [this] {
            // The number of checks at once counts from the thread's next cycle, without a restart.
            if (ExecuteOptionsCommand(this) && RefreshThread)
                RefreshThread->SetChecksAtOnce(TSettings::Current()->ChecksAtOnce);
        });
    });
    connect(acExit, &QAction::triggered, this, &QWidget::close);
    connect(acHelp, &QAction::triggered, this, [] { acHelpExecute(); });
    connect(acContact, &QAction::triggered, this, [] { acContactExecute(); });
    connect(acAbout, &QAction::triggered, this, [this] { TfrmAbout::Execute(this); });
    connect(acRefresh, &QAction::triggered, this, [this] { Guarded(this, [this] { acRefreshExecute(); }); });
    mmCommands = menuBar()->addMenu(QString());
    mmCommands->setObjectName(u"mmCommands"_s);
    mmCommands->addAction(acDeleteComputerInformation);
    mmCommands->addAction(acOptions);
    mmCommands->addSeparator();
    mmCommands->addAction(acExit);
    mmHelp = menuBar()->addMenu(QString());
    mmHelp->setObjectName(u"mmHelp"_s);
    mmHelp->addAction(acHelp);
    mmHelp->addAction(acContact);
    mmHelp->addAction(acAbout);

    pmComputers = new QMenu(this);
    pmComputers->setObjectName(u"pmComputers"_s);
    pmComputers->addAction(acOverwriteUserPass);
    connect(lvComputers, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { pmComputers->popup(lvComputers->viewport()->mapToGlobal(pos)); });
    connect(lvComputers->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { lvComputersSelectItem(); });

    TrayIcon1 = new TTrayIcon(windowIcon(), acExit, this);
    connect(TrayIcon1, &TTrayIcon::showRequested, this, [this] { TrayIcon1DblClick(); });
    connect(TrayIcon1, &QSystemTrayIcon::messageClicked, this, [this] { AlertNoticeClicked(); });
    // The refresh thread checks at once instead of waiting out its interval.
    connect(TrayIcon1, &TTrayIcon::refreshRequested, this, [this] {
        if (RefreshThread)
            RefreshThread->CheckNow();
    });
}

void TMainForm::PrepareWindow()
{
    mmCommands->setTitle(u"Commands"_s);
    acOptions->setText(u"Options"_s);
    acExit->setText(u"Exit"_s);
    acDeleteComputerInformation->setText(u"Delete computer information"_s);
    acOverwriteUserPass->setText(u"Overwrite user name and password"_s);
    acAbout->setText(u"About"_s);
    acContact->setText(u"Contact"_s);
    acHelp->setText(u"Help"_s);
    mmHelp->setTitle(u"Help"_s);
}

void TMainForm::ShowAtStart()
{
    if (!m_startMinimized)
        show();
    else if (m_parts.TrayAvailable && m_parts.TrayAvailable())
        ApplicationEvents1Minimize();
    else
        showMinimized();
}

void TMainForm::BringToFront()
{
    if (isHidden() || isMinimized())
        TrayIcon1DblClick();
    raise();
    activateWindow();
}

QString TMainForm::DataFolder() const
{
    return DataPaths::DataFolder();
}

// ---------------------------------------------------------------------------
// Placement and columns

void TMainForm::LoadWindowPlacement()
{
    RestoreWindowPlacement(this, {kMinimumWidth, kMinimumHeight});
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Only now is the frame known; a placement stored on a larger screen (or
    // at another scaling) must not put the status bar out of reach.
    FitWindowToScreen(this, {kMinimumWidth, kMinimumHeight});
}

void TMainForm::SaveWindowPlacement()
{
    StoreWindowPlacement(this);
}

void TMainForm::loadColumns()
{
    try {
        LoadListViewColumns(Panel4->lvSmartData, TOptions::KeyPath, TRootKey::CurrentUser);
        LoadListViewColumns(lvComputers, TOptions::KeyPath, TRootKey::CurrentUser);
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::RestoreWindowPlacement);
    }
}

void TMainForm::saveColumns()
{
    try {
        SaveListViewColumns(Panel4->lvSmartData, TOptions::KeyPath, TRootKey::CurrentUser);
        SaveListViewColumns(lvComputers, TOptions::KeyPath, TRootKey::CurrentUser);
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::SaveWindowPlacement);
    }
}

// ---------------------------------------------------------------------------
// Start

TNNBase *TMainForm::chooseSource(TSearchKind searchKind)
{
    if (searchKind == TSearchKind::IPRanges) {
        // The ranges of the settings, for the first run, a rebuild and the
        // thread's cycles alike.
        const auto lock = m_sources->Lock();
        m_sources->IPRanges()->SetIPRanges(TSettings::Current()->IPRanges);
    }
    return m_sources->Source(searchKind);
}

void TMainForm::WMStart()
{
    TNNBase *source = chooseSource(TSettings::Current()->SearchKind);
    if (TOptions::ReadFirstRun()) {
        startFirstRun(source);
        return;
    }
    if (source == m_sources->Network()) {
        // The network's answers take their seconds: the stored computers are
        // shown at once, the answers join them when they come.
        showStoredComputers();
        m_discoveryPending = true;
        startRefreshThread();
        return;
    }
    try {
        acRefreshExecute();
    } catch (const std::exception &e) {
        // A list that could not be built in full (an IP range that cannot be
        // read, say) is reported; the computers are still watched.
        ShowCommandError(this, e);
    }
    startRefreshThread();
}

void TMainForm::startRefreshThread()
{
    TRefreshThreadParts threadParts = m_parts.CreateThreadParts();
    threadParts.Sources = m_sources;
    RefreshThread = std::make_unique<TRefreshThread>(std::move(threadParts));
    RefreshThread->DomainUser = TSettings::Current()->User;
    RefreshThread->DomainPassword = TOptions::ReadUserP();
    RefreshThread->SetSearchKind(TSettings::Current()->SearchKind);
    RefreshThread->DataFolder = DataFolder();
    // Both run in the refresh thread: they only queue the work for the window.
    RefreshThread->OnStatusText = [this](const QString &text) {
        QMetaObject::invokeMethod(this, [this, text] { WMStatusText(text); }, Qt::QueuedConnection);
    };
    RefreshThread->OnSourceRefreshed = [this](const QStringList &names) {
        QMetaObject::invokeMethod(
            this, [this, names] { Guarded(this, [&] { discoveryAnswered(names); }); }, Qt::QueuedConnection);
    };
    RefreshThread->OnCycleDone = [this](std::shared_ptr<TCycleBatch> batch) {
        QMetaObject::invokeMethod(
            this, [this, batch] { Guarded(this, [&] { WMCycleDone(batch); }); }, Qt::QueuedConnection);
    };
    startAlerter();
    RefreshThread->Resume();
    TrayIcon1->acRefreshStatus->setEnabled(true);
    m_startupDone = true;
    emit startupDone();
}

void TMainForm::WMStatusText(const QString &text)
{
    statusBar()->showMessage(text);
}

// ---------------------------------------------------------------------------
// Tray

void TMainForm::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && isVisible())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && isVisible())
                ApplicationEvents1Minimize();
        });
}

void TMainForm::ApplicationEvents1Minimize()
{
    // Without a notification area a hidden window could not be brought back.
    if (!TSettings::Current()->MinimizeToTray || !m_parts.TrayAvailable || !m_parts.TrayAvailable())
        return;
    hide();
    setWindowState(windowState() | Qt::WindowMinimized);
    TrayIcon1->show();
}

void TMainForm::TrayIcon1DblClick()
{
    TrayIcon1->hide();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
}

} // namespace valmora
