#include "Main.h"

#include "AboutForm.h"
#include "ComCtrlsHelpers.h"
#include "MessageBox.h"
#include "Options2Form.h"

#include "discovery/ComputerNameCheck.h"
#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "drivedata/Verdicts.h"
#include "drivedata/WmiDriveReader.h"
#include "foundation/DateTime.h"
#include "foundation/Environment.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"
#include "refresh/CheckPool.h"
#include "refresh/StateFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QStatusBar>
#include <QSvgRenderer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {


constexpr int kMinimumWidth = 800;
constexpr int kMinimumHeight = 550;

// What escapes a command or a message handler: a box with the error's text.
void reportError(QWidget *parent, const std::exception &e)
{
    ShowMessageBox(parent, u"VALMORA 2015"_s, ExceptionMessage(e));
}

template <typename F>
void guarded(QWidget *parent, F &&f)
{
    try {
        f();
    } catch (const std::exception &e) {
        reportError(parent, e);
    }
}

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

QString informationFileName(const QString &dataFolder, const QString &caption)
{
    return dataFolder + (caption.startsWith(u"\\\\"_s) ? caption.mid(2) : caption) + u".wci"_s;
}

QFont formFont()
{
    QFont font = QApplication::font();
    if (QFontDatabase::families().contains(u"Tahoma"_s, Qt::CaseInsensitive)) {
        font.setFamily(u"Tahoma"_s);
        font.setPointSize(8);
    }
    return font;
}

} // namespace

QRect FitToScreen(const QRect &frame, const QRect &available)
{
    if (available.isEmpty())
        return frame;
    QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
    fitted.moveLeft(std::clamp(fitted.left(), available.left(), available.right() - fitted.width() + 1));
    fitted.moveTop(std::clamp(fitted.top(), available.top(), available.bottom() - fitted.height() + 1));
    return fitted;
}

TMainFormParts TMainFormParts::System()
{
    TMainFormParts parts;
    parts.ThisComputer1 = std::make_unique<TThisComputer>();
    parts.NetworkNeigborhoodComputes1 = std::make_unique<TNetworkNeigborhoodComputes>();
    parts.IPNetworkNeigborhoodComputes1 = std::make_unique<TIPNetworkNeigborhoodComputes>();
    parts.CreateEcho = [] { return CreateSystemIcmpEcho(); };
    parts.ReadDrives = [](const QString &computer, TDriveList &list, const QString &user, const QString &password) {
        return ReadComputerDrives(computer, list, user, password);
    };
    parts.LocalComputerName = valmora::LocalComputerName();
    parts.CreateThreadParts = [] { return TRefreshThreadParts::System(); };
    parts.TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    return parts;
}

// ---------------------------------------------------------------------------
// Creation and destruction

TMainForm::TMainForm(TMainFormParts parts, QWidget *parent)
    : QMainWindow(parent)
    , m_parts(std::move(parts))
    , m_state(DataFolder())
{
    setObjectName(u"frmMain"_s);
    createComponents();
    PrepareWindow();
    LoadWindowPlacement();
    loadColumns();
    Panel4->Clear();
    m_startMinimized = TOptions::ReadMinimizeToTray();
    QMetaObject::invokeMethod(this, [this] { guarded(this, [this] { WMStart(); }); }, Qt::QueuedConnection);
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
    m_state.Flush();
    saveColumns();
    SaveWindowPlacement();
}

void TMainForm::createComponents()
{
    setWindowTitle(u"VALMORA 2015"_s);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    setFont(formFont());
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
            guarded(this, [this] { acRefreshExecute(); });
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
    acShowWindow = action(u"acShowWindow"_s);
    acRefreshStatus = action(u"acRefreshStatus"_s);
    // Until the refresh thread runs (the first run's discovery) there is nothing to ask.
    acRefreshStatus->setEnabled(false);

    connect(acDeleteComputerInformation, &QAction::triggered, this,
            [this] { guarded(this, [this] { acDeleteComputerInformationExecute(); }); });
    connect(acOptions, &QAction::triggered, this, [this] {
        guarded(this, [this] {
            // The number of checks at once counts from the thread's next cycle, without a restart.
            if (ExecuteOptionsCommand(this) && RefreshThread)
                RefreshThread->SetChecksAtOnce(TOptions::ReadChecksAtOnce());
        });
    });
    connect(acExit, &QAction::triggered, this, &QWidget::close);
    connect(acHelp, &QAction::triggered, this, [] { acHelpExecute(); });
    connect(acContact, &QAction::triggered, this, [] { acContactExecute(); });
    connect(acAbout, &QAction::triggered, this, [this] { TfrmAbout::Execute(this); });
    connect(acRefresh, &QAction::triggered, this, [this] { guarded(this, [this] { acRefreshExecute(); }); });
    connect(acShowWindow, &QAction::triggered, this, [this] { TrayIcon1DblClick(); });
    // The refresh thread checks at once instead of waiting out its interval.
    connect(acRefreshStatus, &QAction::triggered, this, [this] {
        if (RefreshThread)
            RefreshThread->CheckNow();
    });

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

    pmTrayIcon = new QMenu(this);
    pmTrayIcon->setObjectName(u"pmTrayIcon"_s);
    pmTrayIcon->addAction(acShowWindow);
    pmTrayIcon->addAction(acRefreshStatus);
    pmTrayIcon->addSeparator();
    pmTrayIcon->addAction(acExit);
    TrayIcon1 = new QSystemTrayIcon(windowIcon(), this);
    TrayIcon1->setObjectName(u"TrayIcon1"_s);
    TrayIcon1->setToolTip(u"VALMORA 2015"_s);
    TrayIcon1->setContextMenu(pmTrayIcon);
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // Most Linux notification areas give a single click where others give a double one.
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            TrayIcon1DblClick();
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
    acShowWindow->setText(u"Show"_s);
    acRefreshStatus->setText(u"Refresh status"_s);
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
    return TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
}

// ---------------------------------------------------------------------------
// Placement and columns

void TMainForm::LoadWindowPlacement()
{
    try {
        const QString &key = TOptions::KeyPath;
        const int left = TRegistryHelper::ReadInteger(key, u"Left"_s, TRootKey::CurrentUser, 100);
        const int top = TRegistryHelper::ReadInteger(key, u"Top"_s, TRootKey::CurrentUser, 100);
        const int width = TRegistryHelper::ReadInteger(key, u"Width"_s, TRootKey::CurrentUser, kMinimumWidth);
        const int height = TRegistryHelper::ReadInteger(key, u"Height"_s, TRootKey::CurrentUser, kMinimumHeight);
        move(left, top);
        resize(width, height);
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::RestoreWindowPlacement);
    }
    fitToScreen();
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Only now is the frame known; a placement stored on a larger screen (or
    // at another scaling) must not put the status bar out of reach.
    fitToScreen();
}

void TMainForm::fitToScreen()
{
    const QRect frame = frameGeometry();
    QScreen *screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QRect client = geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                           frame.bottom() - client.bottom());
    const QSize room = available.size().shrunkBy(margins);
    setMinimumSize(std::min(kMinimumWidth, room.width()), std::min(kMinimumHeight, room.height()));
    const QRect fitted = FitToScreen(frame, available);
    if (fitted == frame)
        return;
    move(fitted.topLeft());
    resize(fitted.size().shrunkBy(margins));
}

void TMainForm::SaveWindowPlacement()
{
    try {
        // The position of the frame and the size of the client area, as LoadWindowPlacement applies them.
        const QRect frame(pos(), size());
        const QString &key = TOptions::KeyPath;
        TRegistryHelper::WriteInteger(key, u"Left"_s, TRootKey::CurrentUser, frame.x());
        TRegistryHelper::WriteInteger(key, u"Top"_s, TRootKey::CurrentUser, frame.y());
        TRegistryHelper::WriteInteger(key, u"Width"_s, TRootKey::CurrentUser, frame.width());
        TRegistryHelper::WriteInteger(key, u"Height"_s, TRootKey::CurrentUser, frame.height());
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::SaveWindowPlacement);
    }
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

TNNBase *TMainForm::chooseSource(int searchKind)
{
    switch (searchKind) {
    case 0:
        return m_parts.ThisComputer1.get();
    case 2:
        // The ranges of the settings, for the first run as for a rebuild.
        m_parts.IPNetworkNeigborhoodComputes1->SetIPRanges(TOptions::ReadIPRanges());
        return m_parts.IPNetworkNeigborhoodComputes1.get();
    default:
        return m_parts.NetworkNeigborhoodComputes1.get();
    }
}

void TMainForm::WMStart()
{
    TNNBase *source = chooseSource(TOptions::ReadSearchKind());
    if (TOptions::ReadFirstRun()) {
        startFirstRun(source);
        return;
    }
    try {
        acRefreshExecute();
    } catch (const std::exception &e) {
        // A list that could not be built in full (an IP range that cannot be
        // read, say) is reported; the computers are still watched.
        reportError(this, e);
    }
    startRefreshThread(source);
}

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
    m_discovery = std::thread([this, source] {
        bool refreshed = false;
        try {
            refreshed = source->Refresh();
        } catch (const std::exception &e) {
            XLogSystem().LogException(e, 0);
        }
        QMetaObject::invokeMethod(
            this, [this, source, refreshed] { guarded(this, [&] { firstRunRefreshed(source, refreshed); }); },
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
        finishFirstRun(source);
        return;
    }
    if (source->ComputerCount() < 1) {
        ShowMessageBox(this, u"Atenttion"_s, u"There is no computers! Enable NetworkNeigborhood!"_s);
        finishFirstRun(source);
        return;
    }
    QStringList captions;
    std::vector<TComputerRow> rows;
    for (int i = 0; i < source->ComputerCount(); ++i) {
        const QString caption = source->ComputerName(i);
        rows.push_back({caption, TComputerGroup::Good, false, std::make_shared<const TDriveList>()});
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
                                  TOptions::ReadUser(),
                                  TOptions::ReadUserP(),
                                  DataFolder(),
                                  m_parts.LocalComputerName};
    m_discovery = std::thread([this, source, captions, environment = std::move(environment)] {
        TCheckPoolEvents events;
        events.StopRequested = [this] { return StopDiscovery.load(); };
        events.OnChecked = [this](const TAddedComputer &computer) {
            // The pool keeps its entry: the window gets a copy of its own.
            QMetaObject::invokeMethod(
                this,
                [this, name = computer.Name, state = computer.State, drives = TSharedDrives(CopyDrives(computer.Drives))] {
                    guarded(this, [&] { firstRunChecked(name, state, drives); });
                },
                Qt::QueuedConnection);
        };
        const TCheckPoolResult result = CheckComputers(captions, TOptions::ReadChecksAtOnce(), environment, events);
        if (!result.Stopped)
            QMetaObject::invokeMethod(
                this, [this, source] { guarded(this, [&] { finishFirstRun(source); }); }, Qt::QueuedConnection);
    });
}

void TMainForm::firstRunChecked(const QString &name, int state, const TSharedDrives &drives)
{
    if (m_destroyed)
        return;
    const TComputerRow *known = m_computers->Computer(name);
    if (!known)
        return;
    TComputerRow row{known->Name, GroupFromState(state), known->Cross, drives};
    const QString caption = row.Name;
    putQuietly(std::move(row));
    m_state.WriteState(CheckedHostName(caption), StateOfGroup(GroupFromState(state)));
    if (CompareComputerCaptions(m_shown, caption) == 0)
        showComputerDrives(caption);
    UpdateActions();
}

void TMainForm::finishFirstRun(TNNBase *source)
{
    if (m_discovery.joinable())
        m_discovery.join();
    if (m_destroyed)
        return;
    TOptions::WriteFirstRun(false);
    TrayIcon1DblClick();
    startRefreshThread(source);
}

void TMainForm::startRefreshThread(TNNBase *source)
{
    TRefreshThreadParts threadParts = m_parts.CreateThreadParts();
    // The thread walks the ranges again every cycle, so it needs them too.
    if (threadParts.IPSource)
        threadParts.IPSource->SetIPRanges(TOptions::ReadIPRanges());
    RefreshThread = std::make_unique<TRefreshThread>(std::move(threadParts));
    RefreshThread->DomainUser = TOptions::ReadUser();
    RefreshThread->DomainPassword = TOptions::ReadUserP();
    RefreshThread->SetSearchKind(TOptions::ReadSearchKind());
    if (RefreshThread->Source() && source)
        RefreshThread->Source()->Computers() = source->Computers();
    RefreshThread->DataFolder = DataFolder();
    // Both run in the refresh thread: they only queue the work for the window.
    RefreshThread->OnStatusText = [this](const QString &text) {
        QMetaObject::invokeMethod(this, [this, text] { WMStatusText(text); }, Qt::QueuedConnection);
    };
    RefreshThread->OnCycleDone = [this](std::shared_ptr<TCycleBatch> batch) {
        QMetaObject::invokeMethod(
            this, [this, batch] { guarded(this, [&] { WMCycleDone(batch); }); }, Qt::QueuedConnection);
    };
    RefreshThread->Resume();
    acRefreshStatus->setEnabled(true);
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
    if (!TOptions::ReadMinimizeToTray() || !m_parts.TrayAvailable || !m_parts.TrayAvailable())
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

// ---------------------------------------------------------------------------
// Computer list

void TMainForm::setCurrentQuietly(const QModelIndex &index)
{
    const bool guard = std::exchange(m_merging, true);
    lvComputers->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_merging = guard;
}

void TMainForm::putQuietly(TComputerRow row)
{
    const bool guard = std::exchange(m_merging, true);
    m_computers->Put(std::move(row));
    m_merging = guard;
}

void TMainForm::resetQuietly(std::vector<TComputerRow> rows)
{
    const bool guard = std::exchange(m_merging, true);
    m_computers->Reset(std::move(rows));
    m_merging = guard;
}

void TMainForm::removeItem(const QString &caption)
{
    const TComputerRow *computer = m_computers->Computer(caption);
    if (!computer)
        return;
    const bool selected = CompareComputerCaptions(m_selected, computer->Name) == 0;
    const bool shown = CompareComputerCaptions(m_shown, computer->Name) == 0;
    if (selected)
        unselectItem();
    // The focused computer's drives may be shown without it being selected.
    if (shown)
        clearDriveView();
    const bool guard = std::exchange(m_merging, true);
    m_computers->Remove(caption);
    m_merging = guard;
}

void TMainForm::clearList()
{
    unselectItem();
    clearDriveView();
    resetQuietly({});
}

bool TMainForm::loadInformationFile(TDriveList &list, const QString &caption, bool evaluate)
{
    const QString file = informationFileName(DataFolder(), caption);
    if (!QFile::exists(file))
        return true;
    try {
        list.LoadFromFile(file);
        if (evaluate)
            EvaluateDrives(list);
        else
            ExplainStoredVerdicts(list);
        return true;
    } catch (const std::exception &e) {
        // One damaged file must not hide the other computers: this one stays
        // without drives until its next check writes the file anew.
        XLogSystem().LogException(e, LogPlace::ReadInformationFile);
        return false;
    }
}

void TMainForm::acRefreshExecute()
{
    m_listSearchKind = TOptions::ReadSearchKind();
    TNNBase *source = chooseSource(m_listSearchKind);
    lvComputers->setUpdatesEnabled(false);
    clearList();
    const auto resume = qScopeGuard([this] {
        lvComputers->setUpdatesEnabled(true);
        UpdateActions();
    });
    if (!source->Refresh())
        return;
    if (source == m_parts.NetworkNeigborhoodComputes1.get())
        m_parts.NetworkNeigborhoodComputes1->AddKnownComputers(DataFolder());
    QStringList captions;
    for (int i = 0; i < source->ComputerCount(); ++i)
        captions.append(source->ComputerName(i));
    const QList<int> states = m_state.ReadStates(captions);
    std::vector<TComputerRow> rows;
    rows.reserve(static_cast<std::size_t>(captions.size()));
    for (qsizetype i = 0; i < captions.size(); ++i) {
        auto drives = std::make_shared<TDriveList>();
        loadInformationFile(*drives, captions.at(i), true);
        rows.push_back({captions.at(i), GroupFromState(states.at(i)), false, std::move(drives)});
    }
    resetQuietly(std::move(rows));
    setCurrentQuietly(m_computers->FirstComputer());
}

void TMainForm::WMCycleDone(std::shared_ptr<TCycleBatch> batch)
{
    if (!batch || m_destroyed)
        return;
    // A computer the source dropped and added again in the same cycle comes
    // back as a new row: the user's choice follows it by name.
    const QString selected = m_selected;
    RemoveDeletedComputers(batch->RemovedComputerNames);
    // Entries a failed merge left behind join this batch unless it checked them anew.
    if (!m_pending.empty()) {
        TComputerComparer comparer;
        for (auto &entry : m_pending) {
            qsizetype index = 0;
            if (!comparer.BinarySearch(batch->CheckedComputers, entry->Name, index))
                batch->CheckedComputers.insert(batch->CheckedComputers.begin() + index, std::move(entry));
        }
        m_pending.clear();
    }
    MergeCheckedComputers(batch->CheckedComputers);
    if (!selected.isEmpty() && m_selected.isEmpty())
        reselect(selected);
    ++m_mergeCount;
    emit cycleMerged();
}

void TMainForm::reselect(const QString &caption)
{
    const QModelIndex index = m_computers->Find(caption);
    if (!index.isValid())
        return;
    lvComputers->setCurrentIndex(index);
    lvComputers->scrollTo(index);
    // Selecting it already ran the selection handler; this covers a view that
    // still held the computer selected while the window had let it go.
    if (m_selected.isEmpty() || CompareComputerCaptions(m_selected, caption) != 0)
        lvComputersSelectItem();
}

void TMainForm::RemoveDeletedComputers(QStringList &names)
{
    for (const QString &name : std::as_const(names))
        removeItem(CheckedHostName(name));
    names.clear();
    UpdateActions();
}

TComputerRow TMainForm::checkedRow(const QString &caption, TAddedComputer &entry, bool cross)
{
    TComputerRow row{caption, GroupFromState(entry.State), cross, nullptr};
    std::shared_ptr<TDriveList> drives = CopyDrives(entry.Drives);
    if (drives->ComputerName.isEmpty())
        drives->ComputerName = caption;
    if (drives->Count() == 0)
        loadInformationFile(*drives, caption, false);
    // Unavailable now, and its last readout has a flagged drive: suspected, with the cross.
    for (int i = 0; i < drives->Count(); ++i)
        if (drives->Items(i).HasFlaggedAttribute() && row.Group == TComputerGroup::Unavailable) {
            row.Group = TComputerGroup::Suspected;
            row.Cross = true;
        }
    row.Drives = std::move(drives);
    return row;
}

void TMainForm::MergeCheckedComputers(TCheckedComputers &checked)
{
    const bool guard = std::exchange(m_merging, true);
    lvComputers->setUpdatesEnabled(false);
    const TComputerRow *current = m_computers->Computer(lvComputers->currentIndex());
    const QString focused = current ? current->Name : QString();
    const QString selected = m_selected;
    bool failed = false;
    // Written together at the end: one pass over the state file for the whole batch.
    QList<std::pair<QString, int>> states;
    try {
        for (auto &entry : checked) {
            const TComputerRow *known = m_computers->Computer(entry->Name);
            const QString caption = known ? known->Name : entry->Name;
            TComputerRow row = checkedRow(caption, *entry, known && known->Cross);
            if (known)
                states.append({caption, StateOfGroup(row.Group)});
            m_computers->Put(std::move(row));
            entry.reset();
        }
        checked.clear();
        // The selected computer's view follows its new drives; without a
        // selection, the current computer's are shown.
        const QString shown = !selected.isEmpty() ? selected : focused;
        if (const TComputerRow *computer = m_computers->Computer(shown)) {
            showComputerDrives(computer->Name);
            states.append({computer->Name, StateOfGroup(computer->Group)});
        }
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, 0);
        failed = true;
    }
    if (!states.isEmpty())
        m_state.WriteStates(std::move(states));
    lvComputers->setUpdatesEnabled(true);
    m_merging = guard;
    if (failed) {
        for (auto &entry : checked)
            if (entry)
                m_pending.push_back(std::move(entry));
        checked.clear();
        acRefreshExecute();
    }
    UpdateActions();
}

void TMainForm::lvComputersSelectItem()
{
    if (m_merging)
        return;
    QString now;
    for (const QModelIndex &index : lvComputers->selectionModel()->selectedRows())
        if (const TComputerRow *computer = m_computers->Computer(index)) {
            now = computer->Name;
            break;
        }
    if (now == m_selected && !now.isEmpty())
        return;
    unselectItem();
    if (!now.isEmpty())
        selectItem(now);
    UpdateActions();
}

void TMainForm::selectItem(const QString &caption)
{
    const TComputerRow *computer = m_computers->Computer(caption);
    if (!computer)
        return;
    m_selected = computer->Name;
    XLogSystem().LogText(u"SelectItem Selected"_s, 0);
    showComputerDrives(m_selected);
    m_state.WriteState(computer->Name, StateOfGroup(computer->Group));
    statusBar()->showMessage(computer->Name);
}

void TMainForm::unselectItem()
{
    if (m_selected.isEmpty())
        return;
    m_selected.clear();
    XLogSystem().LogText(u"SelectItem UnSelected"_s, 0);
    clearDriveView();
    statusBar()->clearMessage();
}

void TMainForm::showComputerDrives(const QString &caption)
{
    const TComputerRow *computer = m_computers->Computer(caption);
    if (!computer) {
        clearDriveView();
        return;
    }
    m_shown = computer->Name;
    Panel4->ShowDrives(computer->Drives, !m_selected.isEmpty());
}

void TMainForm::clearDriveView()
{
    m_shown.clear();
    Panel4->Clear();
}

void TMainForm::UpdateActions()
{
    acDeleteComputerInformationUpdate();
    acOverwriteUserPass->Update();
}

void TMainForm::acDeleteComputerInformationUpdate()
{
    acDeleteComputerInformation->setVisible(m_listSearchKind == 1);
    const TComputerRow *computer = m_computers->Computer(m_selected);
    acDeleteComputerInformation->setEnabled(computer && (computer->Group == TComputerGroup::Unavailable ||
                                                         computer->Group == TComputerGroup::Suspected));
}

void TMainForm::acDeleteComputerInformationExecute()
{
    acDeleteComputerInformationUpdate();
    if (!acDeleteComputerInformation->isEnabled() || !acDeleteComputerInformation->isVisible() || m_selected.isEmpty())
        return;
    const QString caption = m_selected;
    if (ShowMessageBox(this, u"Atention"_s, u"Do you want delete information about "_s + caption + u"?"_s,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const QString file = informationFileName(DataFolder(), caption);
    QFile f(file);
    if (f.exists() && !f.remove())
        throw Exception(u"Cannot delete \"%1\": %2"_s.arg(file, f.errorString()));
    // The neighbour in the same group takes the selection, and is shown; with
    // none, nothing stays selected.
    const QModelIndex index = m_computers->Find(caption);
    QString next;
    for (const int row : {index.row() + 1, index.row() - 1})
        if (const TComputerRow *neighbour = m_computers->Computer(m_computers->index(row, 0, index.parent()))) {
            next = neighbour->Name;
            break;
        }
    removeItem(caption);
    {
        const bool guard = std::exchange(m_merging, true);
        lvComputers->clearSelection();
        m_merging = guard;
    }
    if (!next.isEmpty())
        reselect(next);
    else
        lvComputers->setCurrentIndex(QModelIndex());
    UpdateActions();
}

} // namespace valmora
