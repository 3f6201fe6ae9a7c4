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
#include <QButtonGroup>
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
#include <QTreeWidget>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {


constexpr int kMinimumWidth = 800;
constexpr int kMinimumHeight = 550;
constexpr int kDriveButtonWidth = 150;
constexpr int kDriveButtonHeight = 32;
// What the drive view shows for a figure the drive did not give.
const QString kUnknownValue = u"\u2013"_s;

bool hasAttribute(const TDriveInformation &drive, int id)
{
    for (int i = 0; i < drive.UsedSlots(); ++i)
        if (drive.AttrId[static_cast<std::size_t>(i)] == id)
            return true;
    return false;
}


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

// The note is yellow for an attribute whose growth predicts failure, else in the window colour.
void setNoteColour(QPlainTextEdit *note, bool warning)
{
    QPalette palette = note->palette();
    palette.setColor(QPalette::Base, warning ? QColor(255, 255, 0) : QApplication::palette().color(QPalette::Base));
    note->setPalette(palette);
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

// The drives, name and readout time of a list, copied into an empty one.
void copyDrives(const TDriveList &from, TDriveList &to)
{
    to.ComputerName = from.ComputerName;
    to.ReadoutTime = from.ReadoutTime;
    for (int i = 0; i < from.Count(); ++i) {
        auto copy = std::make_unique<TDriveInformation>();
        copy->Assign(from.Items(i));
        to.Add(std::move(copy));
    }
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

QString FormatTemperature(int value, int scale)
{
    switch (scale) {
    case 0:
        return u"%1%2C"_s.arg(value).arg(QChar(0x00B0));
    case 1:
        return u"%1%2F"_s.arg(value * 9 / 5 + 32).arg(QChar(0x00B0));
    default:
        return QString();
    }
}

int CompareComputerCaptions(const QString &left, const QString &right)
{
    const int c = QString::compare(AsciiUpper(left), AsciiUpper(right), Qt::CaseSensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
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

TComputerItem::TComputerItem(const QString &caption)
    : Drives(std::make_unique<TDriveList>())
{
    setText(0, caption);
    setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

// ---------------------------------------------------------------------------
// Creation and destruction

TMainForm::TMainForm(TMainFormParts parts, QWidget *parent)
    : QMainWindow(parent)
    , m_parts(std::move(parts))
{
    setObjectName(u"frmMain"_s);
    createComponents();
    PrepareWindow();
    LoadWindowPlacement();
    loadColumns();
    Panel4->hide();
    m_startMinimized = TOptions::ReadMinimizeToTray();
    QMetaObject::invokeMethod(this, [this] { guarded(this, [this] { WMStart(); }); }, Qt::QueuedConnection);
}

TMainForm::~TMainForm()
{
    formDestroy();
    // The items own their drive lists; the view must not refer to them any more.
    freeDriveButtons();
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
    m_stateWriter.Drain();
    saveColumns();
    SaveWindowPlacement();
}

void TMainForm::createComponents()
{
    setWindowTitle(u"VALMORA 2015"_s);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    setFont(formFont());
    m_images = {renderIcon(u":/images/computer.svg"_s, 32), renderIcon(u":/images/computer-cross.svg"_s, 32)};
    setWindowIcon(renderIcon(u":/images/valmora.svg"_s, 64));

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
    lvComputers = new QTreeWidget(Panel3);
    lvComputers->setObjectName(u"lvComputers"_s);
    // An empty second column fills the width, so that the group rows, which
    // span the row, show their whole headers.
    lvComputers->setColumnCount(2);
    lvComputers->setIndentation(10);
    lvComputers->setIconSize(QSize(32, 32));
    lvComputers->setSelectionMode(QAbstractItemView::SingleSelection);
    lvComputers->setUniformRowHeights(false);
    lvComputers->header()->setStretchLastSection(true);
    lvComputers->header()->resizeSection(0, 150);
    lvComputers->setContextMenuPolicy(Qt::CustomContextMenu);
    panel3Layout->addWidget(lvComputers);
    layout->addWidget(Panel3);

    // Panel4 is laid out by hand (Panel4Resize), as the drive buttons flow in rows.
    auto *right = new QWidget(central);
    auto *rightLayout = new QHBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    Panel4 = new QWidget(right);
    Panel4->setObjectName(u"Panel4"_s);
    Panel4->installEventFilter(this);
    rightLayout->addWidget(Panel4);
    layout->addWidget(right, 1);

    pnDrive = new QFrame(Panel4);
    pnDrive->setObjectName(u"pnDrive"_s);
    pnDrive->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_driveButtonGroup = new QButtonGroup(this);
    m_driveButtonGroup->setExclusive(true);

    pnInfo = new QWidget(Panel4);
    pnInfo->setObjectName(u"pnInfo"_s);
    pnInfo->setFixedHeight(90);
    auto label = [this](const QString &name, int left, int top) {
        auto *l = new QLabel(pnInfo);
        l->setObjectName(name);
        l->move(left, top);
        l->resize(340, 18);
        return l;
    };
    lbManufacturerModelInfo = label(u"lbManufacturerModelInfo"_s, 5, 5);
    lbManufacturerModelInfo->resize(480, 18);
    lbDriveSize = label(u"lbDriveSize"_s, 5, 25);
    lbTemperature = label(u"lbTemperature"_s, 5, 45);
    lbLastReadoutDate = label(u"lbLastReadoutDate"_s, 358, 45);
    lbLastReadoutDate->resize(200, 18);
    lbPowerOnCount = label(u"lbPowerOnCount"_s, 5, 65);
    lbPowerOnCount->resize(404, 18);
    acPowerOnCount = new QAction(u"+"_s, this);
    acPowerOnCount->setObjectName(u"acPowerOnCount"_s);
    connect(acPowerOnCount, &QAction::triggered, this, [this] { guarded(this, [this] { acPowerOnCountExecute(); }); });
    btnPowerOnCount = new QToolButton(pnInfo);
    btnPowerOnCount->setObjectName(u"btnPowerOnCount"_s);
    btnPowerOnCount->setDefaultAction(acPowerOnCount);
    btnPowerOnCount->setGeometry(432, 64, 23, 22);

    lvSmartData = new QTreeWidget(Panel4);
    lvSmartData->setObjectName(u"lvSmartData"_s);
    lvSmartData->setColumnCount(7);
    lvSmartData->setRootIsDecorated(false);
    lvSmartData->setSortingEnabled(false);
    lvSmartData->setSelectionMode(QAbstractItemView::SingleSelection);
    lvSmartData->setHeaderLabels({u"#"_s, QString(), QString(), QString(), QString(), QString(), QString()});
    lvSmartData->header()->setStretchLastSection(false);
    for (int i = 0; i < 7; ++i)
        lvSmartData->header()->resizeSection(i, 50);
    connect(lvSmartData, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current, QTreeWidgetItem *) { lvSmartDataChanging(current); });
    acAcknowledgeWarning = new QAction(u"Acknowledge this warning"_s, this);
    acAcknowledgeWarning->setObjectName(u"acAcknowledgeWarning"_s);
    connect(acAcknowledgeWarning, &QAction::triggered, this,
            [this] { guarded(this, [this] { acAcknowledgeWarningExecute(); }); });
    pmSmartData = new QMenu(this);
    pmSmartData->setObjectName(u"pmSmartData"_s);
    pmSmartData->addAction(acAcknowledgeWarning);
    lvSmartData->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvSmartData, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        acAcknowledgeWarningUpdate();
        pmSmartData->popup(lvSmartData->viewport()->mapToGlobal(pos));
    });

    memoInfo = new QPlainTextEdit(Panel4);
    memoInfo->setObjectName(u"memoInfo"_s);
    memoInfo->setReadOnly(true);
    memoInfo->setFrameShape(QFrame::NoFrame);
    memoInfo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memoInfo->setFixedHeight(90);

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
            if (!m_selected)
                return std::nullopt;
            return m_selected->Caption();
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
    connect(lvComputers, &QTreeWidget::itemSelectionChanged, this, [this] { lvComputersSelectItem(); });

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
    const QStringList columns{u"Name"_s, u"State"_s, u"Current value"_s, u"Worst value"_s, u"Threshold"_s,
                              u"Raw value"_s};
    for (int i = 0; i < columns.size(); ++i)
        lvSmartData->headerItem()->setText(i + 1, columns.at(i));
    for (int i = 2; i < 7; ++i)
        lvSmartData->headerItem()->setTextAlignment(i, Qt::AlignRight | Qt::AlignVCenter);
    acOverwriteUserPass->setText(u"Overwrite user name and password"_s);
    acAbout->setText(u"About"_s);
    acContact->setText(u"Contact"_s);
    acHelp->setText(u"Help"_s);
    acShowWindow->setText(u"Show"_s);
    acRefreshStatus->setText(u"Refresh status"_s);
    mmHelp->setTitle(u"Help"_s);
    lvComputers->headerItem()->setText(0, u"Name"_s);
    lvComputers->headerItem()->setText(1, QString());

    QFont bold = font();
    bold.setBold(true);
    for (int group = StateSuspected; group <= StateGood; ++group) {
        auto *row = new QTreeWidgetItem(lvComputers, {ComputerStateText(group)});
        row->setFlags(Qt::ItemIsEnabled);
        row->setFont(0, bold);
        row->setFirstColumnSpanned(true);
        row->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        row->setExpanded(true);
        m_groups.at(static_cast<std::size_t>(group - 1)) = row;
    }

    DescriptionsReady = true;
    AttrDescriptions = std::make_unique<TSMARTAttrDecription>(TWindowsFolders::ProgramFolder() + u"attribute.en"_s);
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
        LoadListViewColumns(lvSmartData, TOptions::KeyPath, TRootKey::CurrentUser);
        LoadListViewColumns(lvComputers, TOptions::KeyPath, TRootKey::CurrentUser);
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::RestoreWindowPlacement);
    }
}

void TMainForm::saveColumns()
{
    try {
        SaveListViewColumns(lvSmartData, TOptions::KeyPath, TRootKey::CurrentUser);
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
    for (int i = 0; i < source->ComputerCount(); ++i) {
        const QString caption = source->ComputerName(i);
        auto *item = new TComputerItem(caption);
        placeItem(item, StateGood);
        XLogSystem().LogFormat(u"WMStart.Computer names: %s"_s, {caption}, 0);
        captions.append(caption);
    }
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
            auto copy = std::make_shared<TAddedComputer>(computer.Name);
            copy->State = computer.State;
            copyDrives(computer.Drives, copy->Drives);
            QMetaObject::invokeMethod(
                this, [this, copy] { guarded(this, [&] { firstRunChecked(*copy); }); }, Qt::QueuedConnection);
        };
        const TCheckPoolResult result = CheckComputers(captions, TOptions::ReadChecksAtOnce(), environment, events);
        if (!result.Stopped)
            QMetaObject::invokeMethod(
                this, [this, source] { guarded(this, [&] { finishFirstRun(source); }); }, Qt::QueuedConnection);
    });
}

void TMainForm::firstRunChecked(TAddedComputer &checked)
{
    if (m_destroyed)
        return;
    TComputerItem *item = FindItem(checked.Name);
    if (!item)
        return;
    if (item == m_selected)
        unselectItem();
    if (m_shownDrives && m_shownDrives == item->Drives.get())
        ClearDriveView();
    item->Drives = std::make_unique<TDriveList>();
    copyDrives(checked.Drives, *item->Drives);
    placeItem(item, checked.State);
    m_stateWriter.Drain();
    WriteComputerState(DataFolder(), CheckedHostName(checked.Name), checked.State);
    if (item->isSelected())
        selectItem(item);
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

TComputerItem *TMainForm::FindItem(const QString &caption) const
{
    for (QTreeWidgetItem *group : m_groups)
        for (int i = 0; i < group->childCount(); ++i) {
            auto *item = static_cast<TComputerItem *>(group->child(i));
            if (CompareComputerCaptions(item->Caption(), caption) == 0)
                return item;
        }
    return nullptr;
}

QList<TComputerItem *> TMainForm::Items() const
{
    QList<TComputerItem *> items;
    for (QTreeWidgetItem *group : m_groups)
        for (int i = 0; i < group->childCount(); ++i)
            items.append(static_cast<TComputerItem *>(group->child(i)));
    return items;
}

TComputerItem *TMainForm::SelectedItem() const
{
    return m_selected;
}

TDriveList *TMainForm::SelectedDrives() const
{
    return m_selected ? m_selected->Drives.get() : nullptr;
}

void TMainForm::placeItem(TComputerItem *item, int group)
{
    if (group < StateSuspected || group > StateGood)
        group = StateUnavailable;
    QTreeWidgetItem *target = GroupItem(group);
    item->setIcon(0, ComputerImage(item->ImageIndex));
    if (item->parent() == target) {
        item->Group = group;
        return;
    }
    const bool wasCurrent = lvComputers->currentItem() == item;
    const bool wasSelected = item->isSelected();
    const bool guard = std::exchange(m_merging, true);
    if (QTreeWidgetItem *old = item->parent())
        old->removeChild(item);
    // Sorted by caption within the group: the first child not less than the item.
    int lo = 0;
    int hi = target->childCount();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (CompareComputerCaptions(target->child(mid)->text(0), item->Caption()) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    target->insertChild(lo, item);
    item->Group = group;
    if (wasCurrent)
        lvComputers->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    if (wasSelected)
        item->setSelected(true);
    m_merging = guard;
}

void TMainForm::removeItem(TComputerItem *item)
{
    if (item == m_selected)
        unselectItem();
    // The focused computer's drives may be shown without it being selected.
    if (m_shownDrives && m_shownDrives == item->Drives.get())
        ClearDriveView();
    const bool guard = std::exchange(m_merging, true);
    delete item;
    m_merging = guard;
}

void TMainForm::clearList()
{
    unselectItem();
    if (m_shownDrives)
        ClearDriveView();
    const bool guard = std::exchange(m_merging, true);
    for (QTreeWidgetItem *group : m_groups)
        qDeleteAll(group->takeChildren());
    m_merging = guard;
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
    const QString folder = DataFolder();
    // Built apart and sorted once: inserting one by one into a long group costs more.
    std::array<QList<QTreeWidgetItem *>, 5> groups;
    QStringList captions;
    for (int i = 0; i < source->ComputerCount(); ++i)
        captions.append(source->ComputerName(i));
    m_stateWriter.Drain();
    const QList<int> states = ReadComputerStates(folder, captions);
    for (qsizetype i = 0; i < captions.size(); ++i) {
        const QString &caption = captions.at(i);
        auto *item = new TComputerItem(caption);
        item->Group = states.at(i);
        item->setIcon(0, ComputerImage(0));
        loadInformationFile(*item->Drives, caption, true);
        groups.at(static_cast<std::size_t>(item->Group - 1)).append(item);
    }
    const bool guard = std::exchange(m_merging, true);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::stable_sort(groups[g].begin(), groups[g].end(), [](QTreeWidgetItem *a, QTreeWidgetItem *b) {
            return CompareComputerCaptions(a->text(0), b->text(0)) < 0;
        });
        m_groups[g]->addChildren(groups[g]);
    }
    m_merging = guard;
    const QList<TComputerItem *> items = Items();
    if (!items.isEmpty()) {
        m_merging = true;
        lvComputers->setCurrentItem(items.first(), 0, QItemSelectionModel::NoUpdate);
        m_merging = guard;
    }
}

void TMainForm::WMCycleDone(std::shared_ptr<TCycleBatch> batch)
{
    if (!batch || m_destroyed)
        return;
    // A computer the source dropped and added again in the same cycle comes
    // back as a new item: the user's choice follows it by name.
    const QString selected = m_selected ? m_selected->Caption() : QString();
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
    if (!selected.isEmpty() && !m_selected)
        reselect(selected);
    ++m_mergeCount;
    emit cycleMerged();
}

void TMainForm::reselect(const QString &caption)
{
    TComputerItem *item = FindItem(caption);
    if (!item)
        return;
    lvComputers->setCurrentItem(item);
    lvComputers->scrollToItem(item);
    // Selecting it already ran the selection handler; this covers a view that
    // still held the item selected while the window had let it go.
    if (m_selected != item)
        lvComputersSelectItem();
}

void TMainForm::RemoveDeletedComputers(QStringList &names)
{
    TNameList removed(true);
    for (const QString &name : std::as_const(names))
        removed.add(name.startsWith(u"\\\\"_s) ? name.mid(2) : name);
    if (!removed.isEmpty())
        for (TComputerItem *item : Items())
            if (removed.contains(item->Caption()))
                removeItem(item);
    names.clear();
    UpdateActions();
}

void TMainForm::applySuspectTest(TComputerItem *item)
{
    for (int i = 0; i < item->Drives->Count(); ++i)
        if (item->Drives->Items(i).HasFlaggedAttribute() && item->Group == StateUnavailable) {
            item->Group = StateSuspected;
            item->ImageIndex = 1;
        }
}

void TMainForm::addCheckedDrives(TComputerItem *item, TAddedComputer &entry)
{
    auto list = std::make_unique<TDriveList>();
    copyDrives(entry.Drives, *list);
    if (list->ComputerName.isEmpty())
        list->ComputerName = item->Caption();
    item->Drives = std::move(list);
    applySuspectTest(item);
    if (item->Drives->Count() == 0 && loadInformationFile(*item->Drives, item->Caption(), false))
        applySuspectTest(item);
}

void TMainForm::MergeCheckedComputers(TCheckedComputers &checked)
{
    const bool guard = std::exchange(m_merging, true);
    lvComputers->setUpdatesEnabled(false);
    // Group rows have no parent and are no computer items.
    QTreeWidgetItem *current = lvComputers->currentItem();
    TComputerItem *focused = current && current->parent() ? static_cast<TComputerItem *>(current) : nullptr;
    TComputerItem *selected = m_selected;
    TComputerComparer comparer;
    bool failed = false;
    // Written together at the end: one pass over the state file for the whole batch.
    QList<std::pair<QString, int>> states;
    try {
        // The names are searched apart from the entries: a merged entry is freed
        // at once, and a long batch costs no shifting.
        std::vector<QString> names;
        names.reserve(checked.size());
        for (const auto &entry : checked)
            names.push_back(entry->Name);
        for (TComputerItem *item : Items()) {
            const QString caption = item->Caption();
            const auto it = std::lower_bound(names.begin(), names.end(), caption, [&](const QString &a, const QString &b) {
                return comparer.CompareNames(a, b) < 0;
            });
            const auto index = static_cast<std::size_t>(it - names.begin());
            if (it != names.end() && comparer.CompareNames(*it, caption) == 0 && checked[index]) {
                std::unique_ptr<TAddedComputer> entry = std::move(checked[index]);
                // The view must not keep buttons on the drives being replaced.
                if (item == selected || item->Drives.get() == m_shownDrives)
                    freeDriveButtons();
                item->Group = entry->State;
                addCheckedDrives(item, *entry);
                placeItem(item, item->Group);
                states.append({caption, item->Group});
            }
            if (item == focused || item == selected) {
                ShowComputerDrives(item->Drives.get());
                states.append({caption, item->Group});
            }
        }
        for (auto &entry : checked) {
            if (!entry)
                continue;
            auto *item = new TComputerItem(entry->Name);
            item->Group = entry->State;
            addCheckedDrives(item, *entry);
            entry.reset();
            placeItem(item, item->Group);
        }
        checked.clear();
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, 0);
        failed = true;
    }
    if (!states.isEmpty())
        m_stateWriter.Post([folder = DataFolder(), states] { WriteComputerStates(folder, states); });
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
    TComputerItem *now = nullptr;
    const QList<QTreeWidgetItem *> selected = lvComputers->selectedItems();
    if (!selected.isEmpty() && selected.first()->parent())
        now = static_cast<TComputerItem *>(selected.first());
    if (now == m_selected)
        return;
    if (m_selected)
        unselectItem();
    if (now)
        selectItem(now);
    UpdateActions();
}

void TMainForm::selectItem(TComputerItem *item)
{
    m_selected = item;
    XLogSystem().LogText(u"SelectItem Selected"_s, 0);
    ShowComputerDrives(item->Drives.get());
    m_stateWriter.Drain();
    WriteComputerState(DataFolder(), item->Caption(), item->Group);
    statusBar()->showMessage(item->Caption());
    resetNote();
    Panel4->setVisible(item->Drives->Count() > 0);
}

void TMainForm::unselectItem()
{
    if (!m_selected)
        return;
    m_selected = nullptr;
    XLogSystem().LogText(u"SelectItem UnSelected"_s, 0);
    ClearDriveView();
}

void TMainForm::UpdateActions()
{
    acDeleteComputerInformationUpdate();
    acOverwriteUserPass->Update();
}

void TMainForm::acDeleteComputerInformationUpdate()
{
    acDeleteComputerInformation->setVisible(m_listSearchKind == 1);
    acDeleteComputerInformation->setEnabled(
        m_selected && (m_selected->Group == StateUnavailable || m_selected->Group == StateSuspected));
}

void TMainForm::acDeleteComputerInformationExecute()
{
    acDeleteComputerInformationUpdate();
    if (!acDeleteComputerInformation->isEnabled() || !acDeleteComputerInformation->isVisible() || !m_selected)
        return;
    TComputerItem *item = m_selected;
    const QString caption = item->Caption();
    if (ShowMessageBox(this, u"Atention"_s, u"Do you want delete information about "_s + caption + u"?"_s,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const QString file = informationFileName(DataFolder(), caption);
    QFile f(file);
    if (f.exists() && !f.remove())
        throw Exception(u"Cannot delete \"%1\": %2"_s.arg(file, f.errorString()));
    // The neighbour in the same group takes the selection, and is shown; with
    // none, nothing stays selected.
    QTreeWidgetItem *group = item->parent();
    const int index = group ? group->indexOfChild(item) : -1;
    QTreeWidgetItem *next = nullptr;
    if (group && index + 1 < group->childCount())
        next = group->child(index + 1);
    else if (group && index > 0)
        next = group->child(index - 1);
    removeItem(item);
    {
        const bool guard = std::exchange(m_merging, true);
        lvComputers->clearSelection();
        m_merging = guard;
    }
    if (next)
        reselect(static_cast<TComputerItem *>(next)->Caption());
    else
        lvComputers->setCurrentItem(nullptr);
    UpdateActions();
}

// ---------------------------------------------------------------------------
// Drive view

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Panel4 && event->type() == QEvent::Resize)
        Panel4Resize();
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::freeDriveButtons()
{
    for (TDriveButton &b : m_driveButtons)
        delete b.Button.data();
    m_driveButtons.clear();
    m_shownDrives = nullptr;
    m_shownDrive = -1;
}

void TMainForm::ShowComputerDrives(TDriveList *list)
{
    freeDriveButtons();
    if (list)
        BuildDriveButtons(*list);
    m_shownDrives = list;
    Panel4Resize();
    if (!m_driveButtons.empty())
        ShowDrive(0);
}

void TMainForm::BuildDriveButtons(TDriveList &list)
{
    for (int i = 0; i < list.Count(); ++i) {
        const TDriveInformation &drive = list.Items(i);
        auto *button = new QToolButton(pnDrive);
        button->setObjectName(u"DriveButton"_s + QString::number(i));
        button->setText(drive.Name);
        button->setIcon(ComputerImage(0));
        button->setIconSize(QSize(24, 24));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->resize(kDriveButtonWidth, kDriveButtonHeight);
        if (drive.HasFlaggedAttribute()) {
            QPalette palette = button->palette();
            palette.setColor(QPalette::ButtonText, QColor(255, 0, 0));
            palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
            button->setPalette(palette);
        }
        m_driveButtonGroup->addButton(button);
        const int index = static_cast<int>(m_driveButtons.size());
        connect(button, &QToolButton::clicked, this, [this, index] { guarded(this, [&] { ShowDrive(index); }); });
        button->show();
        m_driveButtons.push_back({button, &drive});
    }
}

void TMainForm::Panel4Resize()
{
    const int width = Panel4->width();
    pnDrive->setGeometry(0, 0, width, 32);
    pnInfo->setGeometry(0, pnDrive->height(), width, pnInfo->height());
    // The power-on line stretches with the panel; its "+" keeps its distance to the right edge.
    lbPowerOnCount->resize(std::max(50, width - 99), lbPowerOnCount->height());
    for (QLabel *label : {lbManufacturerModelInfo, lbDriveSize})
        label->resize(std::max(50, width - label->x() - 4), label->height());
    btnPowerOnCount->move(std::max(lbPowerOnCount->x() + lbPowerOnCount->width() + 4, width - 71), 64);
    lvSmartData->setGeometry(0, lvSmartData->y(), width, lvSmartData->height());
    memoInfo->setGeometry(0, Panel4->height() - memoInfo->height(), width, memoInfo->height());
    TDriveList *list = SelectedDrives() ? SelectedDrives() : m_shownDrives;
    if (!list || list->Count() == 0 || m_driveButtons.empty())
        return;
    int x = 0;
    int top = 0;
    for (TDriveButton &b : m_driveButtons) {
        b.Button->move(x, top);
        x += kDriveButtonWidth;
        if (x + kDriveButtonWidth > width) {
            top += kDriveButtonHeight;
            x = 0;
        }
    }
    const QToolButton *last = m_driveButtons.back().Button;
    const int bottom = last->y() + last->height() + 2;
    pnDrive->setGeometry(0, 0, width, bottom);
    pnInfo->move(0, bottom);
    lvSmartData->setGeometry(0, pnInfo->y() + pnInfo->height(), width,
                             std::max(0, Panel4->height() - pnDrive->height() - pnInfo->height() -
                                             memoInfo->height() - 10));
    Panel4->show();
}

void TMainForm::showPowerOnCount(std::int32_t hours)
{
    // A figure the drive does not report is shown as unknown, not as 0.
    const QString powerOn =
        HasPowerOn ? u"%1 hours (%2 minutes)"_s.arg(hours).arg(static_cast<qint64>(hours) * 60) : kUnknownValue;
    const QString cycles = HasPowerCycles ? QString::number(PowerCycleCount) : kUnknownValue;
    lbPowerOnCount->setText(u"Raw data in minutes.Power on count: %1.Power cycle count: %2"_s.arg(powerOn, cycles));
}

void TMainForm::ShowDrive(int buttonIndex)
{
    if (buttonIndex < 0 || buttonIndex >= static_cast<int>(m_driveButtons.size()))
        return;
    QPointer<QToolButton> button = m_driveButtons[static_cast<std::size_t>(buttonIndex)].Button;
    const TDriveInformation &drive = *m_driveButtons[static_cast<std::size_t>(buttonIndex)].Drive;
    m_shownDrive = buttonIndex;
    try {
        lvSmartData->clear();
        CurrentModel = drive.Model;
        PowerOnInMinutesByFamily = PowerOnInMinutes(drive);
        PowerOnRaw = 0;
        PowerCycleCount = 0;
        HasPowerOn = hasAttribute(drive, 9);
        HasPowerCycles = hasAttribute(drive, 12);
        std::int32_t hours = 0;
        lbManufacturerModelInfo->setText(
            u"%1 Model: %2 S/N:%3"_s.arg(drive.Manufacturer, drive.Model, drive.SerialNumber));
        lbDriveSize->setText(u"Size %1 MB (%2 bytes)"_s.arg(drive.Size / 1000000).arg(drive.Size));
        // The temperatures come from attribute 194; a drive without it gave none.
        const bool hasTemperature = hasAttribute(drive, 194);
        const auto temperature = [hasTemperature](int value) {
            return hasTemperature ? FormatTemperature(value, TOptions::ReadTemperatureScale()) : kUnknownValue;
        };
        lbTemperature->setText(u"Temperature.Current: %1 Worst: %2 Low: %3"_s.arg(
            temperature(drive.TemperatureCurrent), temperature(drive.TemperatureWorst),
            temperature(drive.TemperatureLow)));
        if (!m_selected)
            lbLastReadoutDate->clear();
        else
            lbLastReadoutDate->setText(u"Last readout: %1"_s.arg(
                m_selected->Drives->ReadoutTime > 0 ? DateTimeText(DateTimeToQt(m_selected->Drives->ReadoutTime))
                                                    : kUnknownValue));
        lbLastReadoutDate->adjustSize();

        DescriptionsReady = false;
        QList<QTreeWidgetItem *> rows;
        for (int i = 0; i < drive.UsedSlots(); ++i) {
            const auto slot = static_cast<std::size_t>(i);
            const int id = drive.AttrId[slot];
            QString raw = QString::number(drive.AttrRaw[slot]);
            if (id == 9) {
                PowerOnRaw = static_cast<std::int32_t>(static_cast<std::uint32_t>(drive.AttrRaw[slot] & 0xffffffff));
                m_stateWriter.Drain();
                hours = ReadDiskModelFlag(DataFolder(), CurrentModel, PowerOnInMinutesByFamily) ? PowerOnRaw / 60
                                                                                                 : PowerOnRaw;
                raw = QString::number(hours);
            }
            if (id == 12)
                PowerCycleCount =
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(drive.AttrRaw[slot] & 0xffffffff));
            auto *row = new QTreeWidgetItem(
                {QString::number(id), AttrDescriptions->AttributeName(id), AttributeStateText(drive.AttrState[slot]),
                 QString::number(drive.AttrCurrent[slot]), QString::number(drive.AttrWorst[slot]),
                 QString::number(drive.AttrThreshold[slot]), raw});
            for (int c = 2; c < 7; ++c)
                row->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
            for (int c = 0; c < 7; ++c)
                row->setToolTip(c, drive.AttrReason[slot]);
            rows.append(row);
        }
        {
            const QSignalBlocker blocker(lvSmartData);
            lvSmartData->addTopLevelItems(rows);
        }
        showPowerOnCount(hours);
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, 0);
        // Inside a merge the merge rebuilds the list itself once it has let go of its items.
        if (m_merging)
            throw;
        acRefreshExecute();
    }
    resetNote();
    DescriptionsReady = lvSmartData->topLevelItemCount() > 0;
    if (button)
        button->setChecked(true);
}

void TMainForm::acPowerOnCountExecute()
{
    const QString folder = DataFolder();
    m_stateWriter.Drain();
    const bool minutes = !ReadDiskModelFlag(folder, CurrentModel, PowerOnInMinutesByFamily);
    WriteDiskModelFlag(folder, CurrentModel, minutes);
    showPowerOnCount(minutes ? PowerOnRaw / 60 : PowerOnRaw);
}

void TMainForm::acAcknowledgeWarningUpdate()
{
    QTreeWidgetItem *row = lvSmartData->currentItem();
    const int slot = row ? lvSmartData->indexOfTopLevelItem(row) : -1;
    bool enabled = false;
    if (m_shownDrives && m_shownDrive >= 0 && m_shownDrive < m_shownDrives->Count() && slot >= 0) {
        // Every warning can be acknowledged, per drive (by its serial number) and attribute.
        const TDriveInformation &drive = m_shownDrives->Items(m_shownDrive);
        enabled = slot < drive.UsedSlots() && drive.State(slot) == TAttributeState::Warning
                  && !drive.SerialNumber.trimmed().isEmpty();
    }
    acAcknowledgeWarning->setEnabled(enabled);
}

void TMainForm::acAcknowledgeWarningExecute()
{
    acAcknowledgeWarningUpdate();
    if (!acAcknowledgeWarning->isEnabled())
        return;
    const int slot = lvSmartData->indexOfTopLevelItem(lvSmartData->currentItem());
    const int index = m_shownDrive;
    TDriveInformation &drive = m_shownDrives->Items(index);
    AcknowledgeWarnings(drive, drive.AttrId[static_cast<std::size_t>(slot)]);
    // The buttons show the drives' flags: built again, with the same drive and row shown.
    ShowComputerDrives(m_shownDrives);
    ShowDrive(index);
    lvSmartData->setCurrentItem(lvSmartData->topLevelItem(slot));
}

void TMainForm::lvSmartDataChanging(QTreeWidgetItem *row)
{
    if (!row || !DescriptionsReady)
        return;
    const QString section = row->text(0);
    setNoteColour(memoInfo, AttrDescriptions->AttributeWarning(section));
    // What the attribute is, then why it has its verdict.
    const QString reason = row->toolTip(0);
    const QString description = AttrDescriptions->AttributeDescription(section);
    memoInfo->setPlainText(reason.isEmpty() ? description : description + u"\n\nReason: "_s + reason);
    memoInfo->moveCursor(QTextCursor::Start);
}

void TMainForm::resetNote()
{
    setNoteColour(memoInfo, false);
    memoInfo->clear();
}

void TMainForm::ClearDriveLabels()
{
    lbManufacturerModelInfo->clear();
    lbDriveSize->clear();
    lbTemperature->clear();
    lbLastReadoutDate->clear();
}

void TMainForm::ClearDriveView()
{
    Panel4->hide();
    freeDriveButtons();
    ClearDriveLabels();
    statusBar()->clearMessage();
    resetNote();
}

} // namespace valmora
