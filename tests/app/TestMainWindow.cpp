// The main window against a recorded network and a temporary data folder.

#include "GuiSupport.h"

#include "AboutForm.h"
#include "MessageBox.h"
#include "Options2Form.h"
#include "TrayIcon.h"
#include "WindowPlacement.h"
#include "UserPassForm.h"
#include "app/DialogDriver.h"
#include "discovery/DnsmasqServer.h"
#include "drivedata/Verdicts.h"
#include "foundation/DateTime.h"
#include "refresh/StateFile.h"
#include "refresh/UserPass.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QTreeView>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::test;
using valmora::test::WhenModal;

namespace {

// Answers every message box with the queued answers (then the first button) and keeps what was shown.
class MessageRecorder
{
public:
    MessageRecorder()
    {
        m_previous = SetMessageHandler([this](QWidget *, const TMessageRequest &request) {
            shown.append(request.Caption + u'|' + request.Text);
            if (!answers.isEmpty())
                return answers.takeFirst();
            return request.Buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::Yes;
        });
    }
    ~MessageRecorder() { SetMessageHandler(m_previous); }
    QStringList shown;
    QList<QMessageBox::StandardButton> answers;

private:
    TMessageHandler m_previous;
};

// Records the web pages the program asks the desktop to open.
class PageRecorder
{
public:
    PageRecorder()
        : m_previous(SetUrlOpener([this](const QUrl &url) {
            opened.append(url.toString());
            return true;
        }))
    {
    }
    ~PageRecorder() { SetUrlOpener(m_previous); }
    QStringList opened;

private:
    TUrlOpener m_previous;
};

std::unique_ptr<TAddedComputer> Checked(const QString &name, int state, const QString &recorded = QString())
{
    auto entry = std::make_unique<TAddedComputer>(name);
    entry->State = state;
    if (!recorded.isEmpty())
        ReadRecorded(recorded, entry->Drives, QString(), QString());
    return entry;
}

std::shared_ptr<TCycleBatch> Batch(std::vector<std::unique_ptr<TAddedComputer>> entries, QStringList removed = {})
{
    auto batch = std::make_shared<TCycleBatch>();
    for (auto &e : entries)
        batch->CheckedComputers.push_back(std::move(e));
    TComputerComparer().Sort(batch->CheckedComputers);
    batch->RemovedComputerNames = std::move(removed);
    return batch;
}

void Select(TMainForm &form, const QString &caption)
{
    const QModelIndex index = form.FindItem(caption);
    QVERIFY2(index.isValid(), qPrintable(caption));
    form.lvComputers->setCurrentIndex(index);
}

// The IP-range source with its lookups sent to that server (none for an empty address).
std::unique_ptr<TIPNetworkNeigborhoodComputes> IpSource(const QString &server, std::uint16_t port)
{
    auto source =
        std::make_unique<TIPNetworkNeigborhoodComputes>(platform::CreateReverseDnsClient(), platform::SystemHostInfo());
    source->Resolver().SetServer(server, port);
    return source;
}

QString Cell(QTreeView *table, int row, int column, int role = Qt::DisplayRole)
{
    return table->model()->index(row, column).data(role).toString();
}

int Rows(QTreeView *table)
{
    return table->model()->rowCount();
}

void SetCurrentRow(QTreeView *table, int row)
{
    table->setCurrentIndex(table->model()->index(row, 0));
}

QStringList RowTexts(QTreeView *table, int row)
{
    QStringList texts;
    for (int c = 0; c < table->model()->columnCount(); ++c)
        texts.append(Cell(table, row, c));
    return texts;
}

int RowOf(QTreeView *table, int attribute)
{
    for (int i = 0; i < Rows(table); ++i)
        if (Cell(table, i, 0) == QString::number(attribute))
            return i;
    return -1;
}

QStringList Headers(QAbstractItemView *view)
{
    QStringList headers;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        headers.append(view->model()->headerData(c, Qt::Horizontal).toString());
    return headers;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_box = std::make_unique<ScopedSandbox>();
        m_names = std::make_shared<NetworkNames>();
        WriteQuietSettings();
    }
    void cleanup()
    {
        m_form.reset();
        m_box.reset();
    }

    void componentsAndCaptions();
    void rebuildThenFirstCycleMovesComputersToTheirGroups();
    void mergesKeepTheCrossAndFollowTheBatches();
    void driveViewTextsTableAndPowerOnToggle();
    void unknownStatesButtonRowsAndFailedDrive();
    void reasonsAndAcknowledgedSectorWarning();
    void powerOnStartsInTheFamilysUnit();
    void deleteComputerInformationRules();
    void firstRunDiscoversChecksAndStartsTheThread();
    void firstRunWithoutComputers();
    void firstRunKeepsTheWindowResponsive();
    void storedComputersShowBeforeTheNetworkAnswers();
    void placementAndColumnsAreKept();
    void placementFitsTheScreen_data();
    void placementFitsTheScreen();
    void minimizeToTrayAndBack();
    void menuCommandsOpenTheirDialogs();
    void contextMenuEditsTheSelectedComputersCredentials();
    void selectionSurvivesACycleThatDropsAndAddsTheComputer();
    void ipRangesAreWalkedByTheWindowAndTheThread_data();
    void ipRangesAreWalkedByTheWindowAndTheThread();
    void unreadableRangeIsReportedAndTheThreadGoesOn();
    void trayMenuShowsChecksNowAndExits();
    void failedReadingsSayWhy();

private:
    TMainForm &start(QStringList network, QStringList silent = {})
    {
        m_names->set(std::move(network));
        m_form = std::make_unique<TMainForm>(Parts(m_names, std::move(silent)));
        m_form->ShowAtStart();
        return *m_form;
    }
    bool waitStarted()
    {
        return QTest::qWaitFor([this] { return m_form->StartupDone(); }, 10000);
    }
    // One computer's checked drives merged as a cycle's batch, then selected.
    void mergeAndSelect(TMainForm &form, std::unique_ptr<TAddedComputer> entry)
    {
        const QString name = entry->Name;
        std::vector<std::unique_ptr<TAddedComputer>> entries;
        entries.push_back(std::move(entry));
        form.WMCycleDone(Batch(std::move(entries)));
        Select(form, name);
    }
    bool waitMerges(int count)
    {
        return QTest::qWaitFor([this, count] { return m_form->MergeCount() >= count; }, 20000);
    }

    std::unique_ptr<ScopedSandbox> m_box;
    std::shared_ptr<NetworkNames> m_names;
    std::unique_ptr<TMainForm> m_form;
};

void TestMainWindow::componentsAndCaptions()
{
    TMainForm &form = start({});
    QVERIFY(waitStarted());
    QCOMPARE(form.windowTitle(), u"VALMORA 2015"_s);
    QCOMPARE(form.minimumSize(), QSize(800, 550));
    QCOMPARE(form.mmCommands->title(), u"Commands"_s);
    QCOMPARE(form.mmHelp->title(), u"Help"_s);
    QStringList commands;
    for (QAction *a : form.mmCommands->actions())
        commands.append(a->isSeparator() ? u"-"_s : a->text());
    QCOMPARE(commands, (QStringList{u"Delete computer information"_s, u"Options"_s, u"-"_s, u"Exit"_s}));
    QStringList help;
    for (QAction *a : form.mmHelp->actions())
        help.append(a->text());
    QCOMPARE(help, (QStringList{u"Help"_s, u"Contact"_s, u"About"_s}));
    QCOMPARE(form.acExit->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
    QCOMPARE(form.acOverwriteUserPass->text(), u"Overwrite user name and password"_s);

    QCOMPARE(Headers(form.Panel4->lvSmartData), (QStringList{u"#"_s, u"Name"_s, u"State"_s, u"Current value"_s, u"Worst value"_s,
                                   u"Threshold"_s, u"Raw value"_s}));
    QCOMPARE(Headers(form.lvComputers).first(), u"Name"_s);
    QCOMPARE(form.Computers()->rowCount(), 5);
    const QStringList groups{u"Suspected (available and unavailable)"_s, u"RPC server unavailable"_s,
                             u"S.M.A.R.T not supported"_s, u"Computer unavailable"_s, u"Good"_s};
    for (int g = 0; g < 5; ++g) {
        const QModelIndex group = form.Computers()->index(g, 0);
        QCOMPARE(group.data().toString(), groups.at(g));
        QVERIFY(form.lvComputers->isExpanded(group));
        QVERIFY(form.lvComputers->isFirstColumnSpanned(g, {}));
        QVERIFY(!(group.flags() & Qt::ItemIsSelectable));
    }
    // Collapsible: a group folds and its computers stay in it.
    const QModelIndex good = form.Computers()->GroupIndex(TComputerGroup::Good);
    form.lvComputers->collapse(good);
    QVERIFY(!form.lvComputers->isExpanded(good));
    QVERIFY(form.Panel4->isHidden());
    QVERIFY(form.Thread());
}

void TestMainWindow::rebuildThenFirstCycleMovesComputersToTheirGroups()
{
    // Stored: GOODPC last seen unavailable; DEADPC (silent now) with a readout
    // holding a failing drive; NEWPC appears only with the first cycle.
    WriteComputerState(DataFolder(), u"GOODPC"_s, 4);
    StoreReadout(u"GOODPC"_s, u"GOODPC"_s);
    StoreReadout(u"FLAGGEDPC"_s, u"DEADPC"_s);
    WriteComputerState(DataFolder(), u"DEADPC"_s, 5);

    QMap<QString, int> groupsAtStart;
    QMap<QString, int> drivesAtStart;
    // The list shows the stored computers before the network answers; the
    // cycle's refresh of the source brings the others.
    m_names->set({u"GOODPC"_s, u"FLAGGEDPC"_s, u"NOSMARTPC"_s, u"RPCPC"_s, u"DEADPC"_s, u"NEWPC"_s});
    m_form = std::make_unique<TMainForm>(Parts(m_names, {u"DEADPC"_s, u"NEWPC"_s}));
    connect(m_form.get(), &TMainForm::startupDone, this, [&] {
        // Runs inside the start: after the rebuild, before any cycle was merged.
        for (const QString &name : m_form->Computers()->Names()) {
            groupsAtStart[name] = GroupOf(*m_form, name);
            drivesAtStart[name] = Computer(*m_form, name)->Drives->Count();
        }
    });
    m_form->ShowAtStart();
    QVERIFY(waitStarted());
    // At once: the computers of the stored readouts, with their stored states.
    const QMap<QString, int> expectedStart{{u"GOODPC"_s, 4}, {u"DEADPC"_s, 5}};
    QCOMPARE(groupsAtStart, expectedStart);
    QCOMPARE(drivesAtStart.value(u"GOODPC"_s), 1);
    QCOMPARE(drivesAtStart.value(u"DEADPC"_s), 2);
    QCOMPARE(m_form->ListSearchKind(), 1);

    QVERIFY(waitMerges(1));
    TMainForm &form = *m_form;
    QCOMPARE(Captions(form, 1), (QStringList{u"DEADPC"_s, u"FLAGGEDPC"_s}));
    QCOMPARE(Captions(form, 2), (QStringList{u"RPCPC"_s}));
    QCOMPARE(Captions(form, 3), (QStringList{u"NOSMARTPC"_s}));
    QCOMPARE(Captions(form, 4), (QStringList{u"NEWPC"_s}));
    QCOMPARE(Captions(form, 5), (QStringList{u"GOODPC"_s}));
    QVERIFY(Computer(form, u"DEADPC"_s)->Cross); // unavailable with a suspect stored drive
    QVERIFY(!Computer(form, u"FLAGGEDPC"_s)->Cross); // suspect but available
    QCOMPARE(Computer(form, u"DEADPC"_s)->Drives->Count(), 2); // the stored drives are kept
    QCOMPARE(form.FindItem(u"DEADPC"_s).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
             form.ComputerImage(1).cacheKey());
    form.FlushStateFile();
    QCOMPARE(ReadComputerState(DataFolder(), u"DEADPC"_s), 1);
    QCOMPARE(ReadComputerState(DataFolder(), u"GOODPC"_s), 5);
    QCOMPARE(ReadComputerState(DataFolder(), u"RPCPC"_s), 2);
    // The network's answer brought NEWPC into the list before the merge, so
    // the merge wrote its state as for every computer the list held.
    QCOMPARE(ReadComputerState(DataFolder(), u"NEWPC"_s), 4);
    // The first cycle's end clears the status bar.
    QCOMPARE(form.statusBar()->currentMessage(), QString());
}

void TestMainWindow::mergesKeepTheCrossAndFollowTheBatches()
{
    StoreReadout(u"FLAGGEDPC"_s, u"DEADPC"_s);
    TMainForm &form = start({u"DEADPC"_s, u"GOODPC"_s}, {u"DEADPC"_s});
    QVERIFY(waitMerges(1));
    QCOMPARE(GroupOf(form, u"DEADPC"_s), 1);
    // The focused computer (the first after the rebuild) shows its drives without being selected.
    QCOMPARE(form.SelectedItem(), QString());
    QCOMPARE(form.lvComputers->currentIndex(), form.FindItem(u"DEADPC"_s));
    QCOMPARE(form.DriveButtons().size(), std::size_t{2});
    QVERIFY(form.Panel4->isVisible());
    QCOMPARE(form.Panel4->lbLastReadoutDate->text(), QString());

    // Back to good: group 5, the cross stays; a name in other letter case is the same computer.
    std::vector<std::unique_ptr<TAddedComputer>> entries;
    entries.push_back(Checked(u"deadpc"_s, StateGood, u"GOODPC"_s));
    entries.push_back(Checked(u"zulu"_s, StateGood));
    entries.push_back(Checked(u"Alpha"_s, StateGood));
    entries.push_back(Checked(u"beta"_s, StateUnavailable));
    form.WMCycleDone(Batch(std::move(entries)));
    QCOMPARE(GroupOf(form, u"DEADPC"_s), 5);
    QVERIFY(Computer(form, u"DEADPC"_s)->Cross);
    QCOMPARE(Computer(form, u"DEADPC"_s)->Drives->Count(), 1);
    QCOMPARE(Captions(form, 5), (QStringList{u"Alpha"_s, u"DEADPC"_s, u"GOODPC"_s, u"zulu"_s})); // sorted without regard to case
    QCOMPARE(Captions(form, 4), (QStringList{u"beta"_s}));
    QCOMPARE(form.Computers()->Count(), 5);
    form.FlushStateFile();
    QCOMPARE(ReadComputerState(DataFolder(), u"DEADPC"_s), 5);

    // An empty batch changes no group; removed names go, with or without "\\".
    form.WMCycleDone(Batch({}, {u"\\\\ZULU"_s, u"beta"_s, u"\\\\nobody"_s}));
    QCOMPARE(Captions(form, 5), (QStringList{u"Alpha"_s, u"DEADPC"_s, u"GOODPC"_s}));
    QCOMPARE(Captions(form, 4), QStringList());

    // The selected computer's view follows the merge of its new drives.
    Select(form, u"GOODPC"_s);
    QCOMPARE(form.DriveButtons().size(), std::size_t{1});
    std::vector<std::unique_ptr<TAddedComputer>> more;
    more.push_back(Checked(u"GOODPC"_s, StateSuspected, u"FLAGGEDPC"_s));
    form.WMCycleDone(Batch(std::move(more)));
    QCOMPARE(form.SelectedItem(), u"GOODPC"_s);
    QCOMPARE(GroupOf(form, u"GOODPC"_s), 1);
    QVERIFY(!Computer(form, u"GOODPC"_s)->Cross); // available: no cross
    QCOMPARE(form.DriveButtons().size(), std::size_t{2});
    QVERIFY(form.Panel4->isVisible());
    QVERIFY(form.Panel4->lbManufacturerModelInfo->text().contains(u"VM-DISK 1000"_s));

    // A shown computer that leaves the network takes its drive view with it.
    form.lvComputers->clearSelection();
    form.WMCycleDone(Batch({}));
    QCOMPARE(form.DriveButtons().size(), std::size_t{2});
    form.WMCycleDone(Batch({}, {u"GOODPC"_s}));
    QVERIFY(!form.FindItem(u"GOODPC"_s).isValid());
    QVERIFY(form.DriveButtons().empty());
    QVERIFY(form.Panel4->isHidden());
}

void TestMainWindow::driveViewTextsTableAndPowerOnToggle()
{
    TMainForm &form = start({u"GOODPC"_s, u"FLAGGEDPC"_s});
    QVERIFY(waitMerges(1));
    Select(form, u"FLAGGEDPC"_s);
    QVERIFY(form.Panel4->isVisible());
    QCOMPARE(form.statusBar()->currentMessage(), u"FLAGGEDPC"_s);
    QCOMPARE(form.DriveButtons().size(), std::size_t{2});
    QToolButton *first = form.DriveButtons()[0].Button;
    QToolButton *second = form.DriveButtons()[1].Button;
    QVERIFY(first->isChecked());
    QCOMPARE(first->text(), u"\\\\.\\PHYSICALDRIVE0"_s);
    QCOMPARE(first->size(), QSize(150, 32));
    QTRY_COMPARE(second->pos(), first->pos() + QPoint(150, 0));
    QCOMPARE(second->palette().color(QPalette::ButtonText), QColor(255, 0, 0)); // the flagged drive
    QVERIFY(first->palette().color(QPalette::ButtonText) != QColor(255, 0, 0));

    QCOMPARE(form.Panel4->lbManufacturerModelInfo->text(), u"(Standard disk drives) Model: VM-DISK 1000 S/N:S2OK0002"_s);
    QCOMPARE(form.Panel4->lbDriveSize->text(), u"Size 1000204 MB (1000204886016 bytes)"_s);
    QCOMPARE(form.Panel4->lbTemperature->text(), u"Temperature.Current: 38°C Worst: 47°C Low: 22°C"_s);
    QVERIFY(form.Panel4->lbLastReadoutDate->text().startsWith(u"Last readout: "_s));
    QCOMPARE(Rows(form.Panel4->lvSmartData), 6);
    QCOMPARE(RowTexts(form.Panel4->lvSmartData, 0),
             (QStringList{u"1"_s, u"Raw Read Error Rate"_s, u"OK"_s, u"100"_s, u"100"_s, u"51"_s, u"0"_s}));
    QCOMPARE(form.Panel4->lvSmartData->model()->index(0, 6).data(Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignRight | Qt::AlignVCenter));
    const int row9 = RowOf(form.Panel4->lvSmartData, 9);
    QCOMPARE(Cell(form.Panel4->lvSmartData, row9, 6), u"12000"_s);
    const QString hours12000 = u"Raw data in minutes.Power on count: 12000 hours (720000 minutes).Power cycle count: 300"_s;
    QCOMPARE(form.Panel4->lbPowerOnCount->text(), hours12000);

    // "+": the model counts minutes from now on; the cell keeps its value until the drive is shown again.
    QVERIFY(TriggerAction(form.Panel4->acPowerOnCount));
    QCOMPARE(form.Panel4->lbPowerOnCount->text(),
             u"Raw data in minutes.Power on count: 200 hours (12000 minutes).Power cycle count: 300"_s);
    QCOMPARE(Cell(form.Panel4->lvSmartData, row9, 6), u"12000"_s);
    form.FlushStateFile();
    QVERIFY(ReadDiskModelFlag(DataFolder(), u"VM-DISK 1000"_s));
    QTest::mouseClick(first, Qt::LeftButton);
    QVERIFY(first->isChecked());
    QCOMPARE(Cell(form.Panel4->lvSmartData, RowOf(form.Panel4->lvSmartData, 9), 6), u"200"_s);
    QVERIFY(TriggerAction(form.Panel4->acPowerOnCount));
    QCOMPARE(form.Panel4->lbPowerOnCount->text(), hours12000);
    form.FlushStateFile();
    QVERIFY(!ReadDiskModelFlag(DataFolder(), u"VM-DISK 1000"_s));

    // Fahrenheit, and a scale the program does not know.
    TOptions::WriteTemperatureScale(1);
    QTest::mouseClick(first, Qt::LeftButton);
    QCOMPARE(form.Panel4->lbTemperature->text(), u"Temperature.Current: 100°F Worst: 116°F Low: 71°F"_s);
    TOptions::WriteTemperatureScale(7);
    QTest::mouseClick(first, Qt::LeftButton);
    QCOMPARE(form.Panel4->lbTemperature->text(), u"Temperature.Current:  Worst:  Low: "_s);

    // The failing drive: its reallocated sectors fail, and the note turns yellow for a warning attribute.
    QTest::mouseClick(second, Qt::LeftButton);
    QVERIFY(second->isChecked());
    QVERIFY(!first->isChecked());
    const int row5 = RowOf(form.Panel4->lvSmartData, 5);
    QCOMPARE(Cell(form.Panel4->lvSmartData, row5, 2), u"Failing"_s);
    QCOMPARE(Cell(form.Panel4->lvSmartData, row5, 1), u"Reallocated Sectors Count"_s);
    QCOMPARE(form.Panel4->memoInfo->toPlainText(), QString());
    const QString reason = Cell(form.Panel4->lvSmartData, row5, 0, Qt::ToolTipRole);
    QVERIFY2(reason.startsWith(u"current "_s) && reason.contains(u"is at or below the threshold"_s), qPrintable(reason));
    SetCurrentRow(form.Panel4->lvSmartData, row5);
    QVERIFY(form.Panel4->memoInfo->toPlainText().startsWith(u"Sectors the drive found defective"_s));
    QVERIFY(form.Panel4->memoInfo->toPlainText().endsWith(u"\n\nReason: "_s + reason));
    QCOMPARE(form.Panel4->memoInfo->palette().color(QPalette::Base), QColor(255, 255, 0));
    SetCurrentRow(form.Panel4->lvSmartData, RowOf(form.Panel4->lvSmartData, 9));
    QVERIFY(form.Panel4->memoInfo->toPlainText().startsWith(u"Time the drive has spent powered on"_s));
    const QColor window = QApplication::palette().color(QPalette::Base);
    QCOMPARE(form.Panel4->memoInfo->palette().color(QPalette::Base), window);

    // Another drive, another computer, or none: the note is emptied and loses its yellow.
    const auto yellowNote = [&] {
        QTest::mouseClick(form.DriveButtons()[1].Button, Qt::LeftButton);
        SetCurrentRow(form.Panel4->lvSmartData, RowOf(form.Panel4->lvSmartData, 5));
        return form.Panel4->memoInfo->palette().color(QPalette::Base) == QColor(255, 255, 0);
    };
    const auto plainNote = [&] {
        return form.Panel4->memoInfo->palette().color(QPalette::Base) == window && form.Panel4->memoInfo->toPlainText().isEmpty();
    };
    QVERIFY(yellowNote());
    QTest::mouseClick(first, Qt::LeftButton);
    QVERIFY(plainNote());
    QVERIFY(yellowNote());
    Select(form, u"GOODPC"_s);
    QVERIFY(plainNote());
    Select(form, u"FLAGGEDPC"_s);
    QVERIFY(yellowNote());
    form.lvComputers->clearSelection();
    QVERIFY(plainNote());
    Select(form, u"FLAGGEDPC"_s);

    // Leaving the computer empties the view.
    form.lvComputers->clearSelection();
    QVERIFY(form.Panel4->isHidden());
    QVERIFY(form.DriveButtons().empty());
    QCOMPARE(form.Panel4->lbManufacturerModelInfo->text(), QString());
    QCOMPARE(form.statusBar()->currentMessage(), QString());
}

void TestMainWindow::unknownStatesButtonRowsAndFailedDrive()
{
    TMainForm &form = start({});
    QVERIFY(waitStarted());
    // Four drives: a damaged state, no attributes 9, 12 or 194, exactly 1000000 bytes.
    auto entry = Checked(u"ODDPC"_s, StateSuspected);
    for (int i = 0; i < 4; ++i) {
        auto drive = std::make_unique<TDriveInformation>();
        drive->Name = u"DISK"_s + QString::number(i);
        drive->Model = u"ODD"_s;
        drive->Size = 1000000;
        drive->AttributeCount = 1;
        drive->AttrId[0] = 3;
        drive->AttrState[0] = i == 0 ? 7 : 0;
        entry->Drives.Add(std::move(drive));
    }
    std::vector<std::unique_ptr<TAddedComputer>> entries;
    entries.push_back(std::move(entry));
    form.WMCycleDone(Batch(std::move(entries)));
    form.resize(800, 550);
    Select(form, u"ODDPC"_s);
    QCOMPARE(Cell(form.Panel4->lvSmartData, 0, 2), u"Nieznany stan"_s);
    QCOMPARE(form.Panel4->lbDriveSize->text(), u"Size 1 MB (1000000 bytes)"_s);
    // Figures the drive did not give are unknown, not 0.
    QCOMPARE(form.Panel4->lbTemperature->text(), u"Temperature.Current: – Worst: – Low: –"_s);
    QCOMPARE(form.Panel4->lbPowerOnCount->text(), u"Raw data in minutes.Power on count: –.Power cycle count: –"_s);
    QCOMPARE(form.Panel4->lbLastReadoutDate->text(), u"Last readout: –"_s);
    TOptions::WriteTemperatureScale(1);
    QTest::mouseClick(form.DriveButtons()[1].Button, Qt::LeftButton);
    QCOMPARE(form.Panel4->lbTemperature->text(), u"Temperature.Current: – Worst: – Low: –"_s);
    TOptions::WriteTemperatureScale(0);

    // Rows of buttons: three fit beside each other, the fourth starts the next row.
    const auto at = [&form](std::size_t button) { return form.DriveButtons()[button].Button->pos(); };
    QTRY_COMPARE(at(3), at(0) + QPoint(0, 32));
    const int width = form.Panel4->width();
    QVERIFY2(width >= 450 && width < 600, qPrintable(QString::number(width)));
    QCOMPARE(at(2), at(0) + QPoint(300, 0));
    QCOMPARE(form.Panel4->pnDrive->height(), 66);
    QCOMPARE(form.Panel4->pnInfo->y(), 66);
    QCOMPARE(form.Panel4->lvSmartData->y(), 66 + 90);
    // Wider, the four fit in one row and everything below moves up; narrower, they wrap again.
    form.resize(1000, 550);
    QTRY_COMPARE(at(3), at(0) + QPoint(450, 0));
    QTRY_COMPARE(form.Panel4->pnInfo->y(), 34);
    QCOMPARE(form.Panel4->lvSmartData->y(), 34 + 90);
    QCOMPARE(form.Panel4->memoInfo->geometry().bottom(), form.Panel4->height() - 1);
    form.resize(800, 550);
    QTRY_COMPARE(at(3), at(0) + QPoint(0, 32));

    // A computer without drives: no button, the view stays hidden.
    std::vector<std::unique_ptr<TAddedComputer>> empty;
    empty.push_back(Checked(u"EMPTYPC"_s, StateUnavailable));
    form.WMCycleDone(Batch(std::move(empty)));
    Select(form, u"EMPTYPC"_s);
    QVERIFY(form.DriveButtons().empty());
    QVERIFY(form.Panel4->isHidden());
}

// A drive with pending sectors: the reason shows as the row's tooltip and
// under the description; acknowledging it from the row ends the warning.
void TestMainWindow::reasonsAndAcknowledgedSectorWarning()
{
    SetVerdictRules(ProgramVerdictRules(DataFolder(), true));
    TMainForm &form = start({});
    QVERIFY(waitStarted());
    auto entry = Checked(u"PENDINGPC"_s, StateSuspected);
    auto drive = std::make_unique<TDriveInformation>();
    drive->Name = u"DISK0"_s;
    drive->Model = u"PENDING DISK"_s;
    drive->SerialNumber = u"PD0001"_s;
    drive->Size = 500'107'862'016LL;
    drive->AttributeCount = 2;
    drive->AttrId = {1, 197};
    drive->AttrRaw[1] = 3;
    EvaluateDrive(*drive);
    entry->Drives.Add(std::move(drive));
    mergeAndSelect(form, std::move(entry));
    QCOMPARE(Cell(form.Panel4->lvSmartData, 1, 2), u"Warning"_s);
    QCOMPARE(Cell(form.Panel4->lvSmartData, 1, 3, Qt::ToolTipRole), u"3 sectors wait to be remapped"_s);
    QCOMPARE(form.DriveButtons()[0].Button->palette().color(QPalette::ButtonText), QColor(255, 0, 0));

    SetCurrentRow(form.Panel4->lvSmartData, 0);
    form.acAcknowledgeWarningUpdate();
    QVERIFY(!form.Panel4->acAcknowledgeWarning->isEnabled()); // nothing to acknowledge on an OK row
    SetCurrentRow(form.Panel4->lvSmartData, 1);
    QVERIFY(form.Panel4->memoInfo->toPlainText().endsWith(u"Reason: 3 sectors wait to be remapped"_s));
    form.acAcknowledgeWarningUpdate();
    QVERIFY(TriggerAction(form.Panel4->acAcknowledgeWarning));
    QCOMPARE(Cell(form.Panel4->lvSmartData, 1, 2), u"OK"_s);
    QCOMPARE(Cell(form.Panel4->lvSmartData, 1, 3, Qt::ToolTipRole), QString());
    QCOMPARE(form.Panel4->lvSmartData->currentIndex().row(), 1);
    // The list holds the acknowledged drives: showing the computer again shows them.
    QCOMPARE(Computer(form, u"PENDINGPC"_s)->Drives->Items(0).State(1), TAttributeState::Ok);
    QVERIFY(form.DriveButtons()[0].Button->palette().color(QPalette::ButtonText) != QColor(255, 0, 0));
    SetVerdictRules(TVerdictRules{});
}

// The drive database says this family counts power-on time in minutes: the
// view starts there, and the user's choice for the model wins afterwards.
void TestMainWindow::powerOnStartsInTheFamilysUnit()
{
    SetVerdictRules(ProgramVerdictRules(DataFolder(), true));
    if (!CurrentVerdictRules().Database)
        QSKIP("no drive database (smartmontools) installed");
    TMainForm &form = start({});
    QVERIFY(waitStarted());
    auto entry = Checked(u"MAXTORPC"_s, StateGood);
    auto drive = std::make_unique<TDriveInformation>();
    drive->Name = u"DISK0"_s;
    drive->Model = u"Maxtor 96147H8"_s;
    drive->FirmwareRevision = u"BAC51KJ0"_s;
    drive->AttributeCount = 1;
    drive->AttrId[0] = 9;
    drive->AttrRaw[0] = 121017; // minutes
    entry->Drives.Add(std::move(drive));
    mergeAndSelect(form, std::move(entry));
    QCOMPARE(Cell(form.Panel4->lvSmartData, 0, 6), u"2016"_s);
    QVERIFY(TriggerAction(form.Panel4->acPowerOnCount));
    QVERIFY(form.Panel4->lbPowerOnCount->text().contains(u"121017 hours"_s));
    form.FlushStateFile();
    QCOMPARE(ReadDiskModelFlag(DataFolder(), u"Maxtor 96147H8"_s, true), false); // the user's choice is kept
    SetVerdictRules(TVerdictRules{});
}

void TestMainWindow::deleteComputerInformationRules()
{
    MessageRecorder messages;
    StoreReadout(u"FLAGGEDPC"_s, u"DEADPC"_s);
    TMainForm &form = start({u"DEADPC"_s, u"FLAGGEDPC"_s, u"GOODPC"_s}, {u"DEADPC"_s});
    QVERIFY(waitMerges(1));
    QCOMPARE(Captions(form, 1), (QStringList{u"DEADPC"_s, u"FLAGGEDPC"_s}));
    QAction *del = form.acDeleteComputerInformation;
    QVERIFY(del->isVisible());
    QVERIFY2(!del->isEnabled(), "nothing selected");
    Select(form, u"GOODPC"_s);
    QVERIFY2(!del->isEnabled(), "a good computer");
    Select(form, u"DEADPC"_s);
    QVERIFY(del->isEnabled());

    const QString command = u"Delete computer information"_s;
    messages.answers = {QMessageBox::No};
    QVERIFY(ChooseFromMenuBar(form.menuBar(), form.mmCommands, command));
    QCOMPARE(messages.shown, (QStringList{u"Atention|Do you want delete information about DEADPC?"_s}));
    QVERIFY(form.FindItem(u"DEADPC"_s).isValid());
    QVERIFY(QFile::exists(DataFolder() + u"DEADPC.wci"_s));

    // The neighbour in the group takes the selection and is shown.
    messages.answers = {QMessageBox::Yes};
    QVERIFY(ChooseFromMenuBar(form.menuBar(), form.mmCommands, command));
    QVERIFY(!form.FindItem(u"DEADPC"_s).isValid());
    QVERIFY(!QFile::exists(DataFolder() + u"DEADPC.wci"_s));
    QCOMPARE(form.SelectedItem(), u"FLAGGEDPC"_s);
    QCOMPARE(form.lvComputers->selectionModel()->selectedRows(), (QModelIndexList{form.FindItem(u"FLAGGEDPC"_s)}));
    QCOMPARE(form.DriveButtons().size(), std::size_t{2});
    QVERIFY(form.Panel4->isVisible());
    QCOMPARE(form.statusBar()->currentMessage(), u"FLAGGEDPC"_s);
    QVERIFY(del->isEnabled());
    form.FlushStateFile();
    QCOMPARE(ReadComputerState(DataFolder(), u"DEADPC"_s), 1); // its state stays

    // The last of its group: nothing is selected afterwards.
    messages.answers = {QMessageBox::Yes};
    QVERIFY(ChooseFromMenuBar(form.menuBar(), form.mmCommands, command));
    QVERIFY(!form.FindItem(u"FLAGGEDPC"_s).isValid());
    QCOMPARE(form.SelectedItem(), QString());
    QVERIFY(!form.lvComputers->selectionModel()->hasSelection());
    QVERIFY(form.Panel4->isHidden());
    QVERIFY(!del->isEnabled());

    // Only a list built from the network neighbourhood offers the command.
    TOptions::WriteSearchKind(0);
    form.acRefreshExecute();
    QCOMPARE(form.ListSearchKind(), 0);
    QVERIFY(!del->isVisible());
}

void TestMainWindow::firstRunDiscoversChecksAndStartsTheThread()
{
    MessageRecorder messages;
    TOptions::WriteFirstRun(true);
    // The checks of the first run choose credentials as every check does: the
    // computer's own where stored, else the domain's.
    TOptions::WriteUser(u"CORP\\watcher"_s);
    TOptions::WriteUserP(u"domain-secret"_s);
    WriteUserPass(DataFolder(), u"RPCPC"_s, {u"RPCPC\\admin"_s, u"own-secret"_s});
    auto users = std::make_shared<std::map<QString, QString>>();
    auto usersMutex = std::make_shared<std::mutex>();
    m_names->set({u"GOODPC"_s, u"FLAGGEDPC"_s, u"RPCPC"_s, u"GONEPC"_s});
    TMainFormParts parts = Parts(m_names, {u"GONEPC"_s});
    parts.ReadDrives = [users, usersMutex](const QString &computer, TDriveList &list, const QString &user,
                                           const QString &password) {
        {
            std::lock_guard lock(*usersMutex);
            users->emplace(computer, user + u'/' + password);
        }
        return ReadRecorded(computer, list, user, password);
    };
    m_form = std::make_unique<TMainForm>(std::move(parts));
    TMainForm &form = *m_form;
    form.ShowAtStart();
    QVERIFY(waitStarted());
    {
        std::lock_guard lock(*usersMutex);
        QCOMPARE(users->at(u"RPCPC"_s), u"RPCPC\\admin/own-secret"_s);
        QCOMPARE(users->at(u"GOODPC"_s), u"CORP\\watcher/domain-secret"_s);
        QVERIFY2(!users->contains(u"GONEPC"_s), "no answer to the ping: not read");
    }
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown.first(),
             u"Atenttion|This application is run first time.\r\nApplication will discover computers on network and "
             "check theirs drives.\r\nDiscover time depends on number of computers.\r\nApplication will be "
             "minimized during scan."_s);
    QVERIFY(!TOptions::ReadFirstRun());
    QCOMPARE(GroupOf(form, u"GOODPC"_s), 5);
    QCOMPARE(GroupOf(form, u"FLAGGEDPC"_s), 1);
    QCOMPARE(GroupOf(form, u"RPCPC"_s), 2);
    QCOMPARE(GroupOf(form, u"GONEPC"_s), 4);
    QCOMPARE(Computer(form, u"FLAGGEDPC"_s)->Drives->Count(), 2);
    form.FlushStateFile();
    QCOMPARE(ReadComputerState(DataFolder(), u"GONEPC"_s), 4);
    QCOMPARE(ReadComputerState(DataFolder(), u"FLAGGEDPC"_s), 1);
    QVERIFY(QFile::exists(DataFolder() + u"FLAGGEDPC.wci"_s));
    QVERIFY(QFile::exists(DataFolder() + u"GONEPC.wci!"_s));
    QVERIFY(form.isVisible());
    QVERIFY(form.Thread());
    QCOMPARE(form.ListSearchKind(), 0); // the list was not rebuilt
    QVERIFY(!form.acDeleteComputerInformation->isVisible());
    // The thread was handed the window's names and checks them.
    QVERIFY(waitMerges(1));
    QCOMPARE(form.Computers()->Count(), 4);
}

void TestMainWindow::firstRunWithoutComputers()
{
    MessageRecorder messages;
    TOptions::WriteFirstRun(true);
    TMainForm &form = start({});
    QVERIFY(waitStarted());
    QCOMPARE(messages.shown.size(), 2);
    QCOMPARE(messages.shown.at(1), u"Atenttion|There is no computers! Enable NetworkNeigborhood!"_s);
    QVERIFY((form.Computers()->Count() == 0));
    QVERIFY(!TOptions::ReadFirstRun());
    QVERIFY(form.Thread());
}

// Holds every ping until the test lets it go.
class HeldEcho final : public TIcmpEcho
{
public:
    explicit HeldEcho(std::shared_ptr<std::atomic<bool>> release)
        : m_release(std::move(release))
    {
    }
    TReplyStatus Echo(const QString &, int, int) override
    {
        for (int i = 0; i < 2000 && !*m_release; ++i)
            QThread::msleep(5);
        return {TReplyStatusType::rsEcho, {}, 0};
    }

private:
    std::shared_ptr<std::atomic<bool>> m_release;
};

void TestMainWindow::firstRunKeepsTheWindowResponsive()
{
    MessageRecorder messages;
    TOptions::WriteFirstRun(true);
    m_names->set({u"GOODPC"_s, u"RPCPC"_s});
    auto release = std::make_shared<std::atomic<bool>>(false);
    TMainFormParts parts = Parts(m_names, {});
    parts.CreateEcho = [release] { return std::make_unique<HeldEcho>(release); };
    m_form = std::make_unique<TMainForm>(std::move(parts));
    m_form->ShowAtStart();
    // The computers are listed while their first ping is still waiting.
    QTRY_VERIFY(m_form->FindItem(u"RPCPC"_s).isValid());
    QElapsedTimer timer;
    timer.start();
    QTest::qWait(100);
    QVERIFY2(timer.elapsed() < 2000, "the window's events were served during the ping");
    QVERIFY(!m_form->StartupDone());
    QVERIFY2(!m_form->TrayIcon1->acRefreshStatus->isEnabled(), "no thread to ask yet");
    QCOMPARE(GroupOf(*m_form, u"RPCPC"_s), 5);
    *release = true;
    QVERIFY(waitStarted());
    QCOMPARE(GroupOf(*m_form, u"RPCPC"_s), 2);
    QCOMPARE(GroupOf(*m_form, u"GOODPC"_s), 5);
}

// Lists what the network says only once the test lets it answer.
class HeldEnumerator final : public platform::TNetworkEnumerator
{
public:
    HeldEnumerator(std::shared_ptr<NetworkNames> names, std::shared_ptr<std::atomic<bool>> release)
        : m_inner(std::move(names))
        , m_release(std::move(release))
    {
    }
    std::unique_ptr<platform::TNetworkEnumeration> Open(QString &error) override
    {
        for (int i = 0; i < 2000 && !*m_release; ++i)
            QThread::msleep(5);
        return m_inner.Open(error);
    }

private:
    ScriptedEnumerator m_inner;
    std::shared_ptr<std::atomic<bool>> m_release;
};

void TestMainWindow::storedComputersShowBeforeTheNetworkAnswers()
{
    StoreReadout(u"GOODPC"_s, u"OLDPC"_s);
    WriteComputerState(DataFolder(), u"OLDPC"_s, 4);
    WriteComputerState(DataFolder(), u"RPCPC"_s, 2);
    m_names->set({u"GOODPC"_s, u"RPCPC"_s, u"OLDPC"_s});
    // The network holds its answers until released: the cycle waits for them.
    auto release = std::make_shared<std::atomic<bool>>(false);
    TMainFormParts parts = Parts(m_names, {});
    parts.NetworkNeigborhoodComputes1 =
        std::make_unique<TNetworkNeigborhoodComputes>(std::make_unique<HeldEnumerator>(m_names, release));
    m_form = std::make_unique<TMainForm>(std::move(parts));
    QSignalSpy merged(m_form.get(), &TMainForm::discoveryMerged);
    m_form->ShowAtStart();
    QVERIFY(waitStarted());
    TMainForm &form = *m_form;
    QVERIFY(form.DiscoveryPending());
    QCOMPARE(form.Computers()->Names(), (QStringList{u"OLDPC"_s}));
    QCOMPARE(GroupOf(form, u"OLDPC"_s), 4);
    QCOMPARE(Computer(form, u"OLDPC"_s)->Drives->Count(), 1);
    // The window serves its user meanwhile.
    Select(form, u"OLDPC"_s);
    QVERIFY(form.Panel4->isVisible());
    QTest::qWait(200);
    QCOMPARE(merged.count(), 0);
    QCOMPARE(form.Computers()->Count(), 1);

    // The answers join the list with their stored states before the checks end.
    QStringList groupsAtAnswer;
    connect(&form, &TMainForm::discoveryMerged, this, [&] {
        for (const QString &name : {u"RPCPC"_s, u"GOODPC"_s})
            groupsAtAnswer.append(name + u'=' + QString::number(GroupOf(form, name)));
    });
    *release = true;
    QVERIFY(merged.wait(10000));
    QVERIFY(!form.DiscoveryPending());
    QCOMPARE(groupsAtAnswer, (QStringList{u"RPCPC=2"_s, u"GOODPC=5"_s})); // RPCPC's stored state, GOODPC's default
    QCOMPARE(form.SelectedItem(), u"OLDPC"_s); // the selection stays
    QVERIFY(form.Panel4->isVisible());
    QVERIFY(waitMerges(1));
    QCOMPARE(form.Computers()->Count(), 3);
}

void TestMainWindow::placementAndColumnsAreKept()
{
    {
        TMainForm &form = start({});
        QVERIFY(waitStarted());
        QCOMPARE(form.pos(), QPoint(100, 100));
        QCOMPARE(form.size(), QSize(800, 550));
        QCOMPARE(form.lvComputers->header()->sectionSize(0), 150);
        QCOMPARE(form.Panel4->lvSmartData->header()->sectionSize(3), 50);
        form.move(140, 120);
        form.resize(900, 640);
        form.Panel4->lvSmartData->header()->resizeSection(1, 180);
        form.lvComputers->header()->resizeSection(0, 210);
        form.close();
        m_form.reset();
    }
    QCOMPARE(TRegistryHelper::ReadInteger(TOptions::KeyPath, u"Height"_s, TRootKey::CurrentUser, 0), 640);
    QCOMPARE(TRegistryHelper::ReadInteger(TOptions::KeyPath, u"lvSmartDatacount"_s, TRootKey::CurrentUser, 0), 7);
    // Only three stored widths: the other columns keep their design width.
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"lvSmartDatacount"_s, TRootKey::CurrentUser, 3);
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"lvSmartDataColumns3"_s, TRootKey::CurrentUser, 99);
    TMainForm &again = start({});
    QVERIFY(waitStarted());
    QCOMPARE(again.pos(), QPoint(140, 120));
    QCOMPARE(again.size(), QSize(900, 640));
    QCOMPARE(again.Panel4->lvSmartData->header()->sectionSize(1), 180);
    QCOMPARE(again.Panel4->lvSmartData->header()->sectionSize(3), 50);
    QCOMPARE(again.lvComputers->header()->sectionSize(0), 210);
}

void TestMainWindow::minimizeToTrayAndBack()
{
    TOptions::WriteMinimizeToTray(true);
    m_names->set({});
    TMainFormParts parts = Parts(m_names, {});
    parts.TrayAvailable = [] { return true; };
    m_form = std::make_unique<TMainForm>(std::move(parts));
    TMainForm &form = *m_form;
    form.ShowAtStart();
    QVERIFY(waitStarted());
    QVERIFY2(!form.isVisible(), "starts hidden in the tray");
    QVERIFY(form.TrayIcon1->isVisible());

    form.TrayIcon1DblClick();
    QVERIFY(form.isVisible());
    QVERIFY(!form.isMinimized());
    QVERIFY(!form.TrayIcon1->isVisible());

    // Minimising hides the window in the tray again; a second start brings it back.
    form.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!form.isVisible());
    QVERIFY(form.TrayIcon1->isVisible());
    form.BringToFront();
    QVERIFY(form.isVisible());
    QVERIFY(!form.TrayIcon1->isVisible());

    // Without the setting the window only minimises.
    TOptions::WriteMinimizeToTray(false);
    form.setWindowState(Qt::WindowMinimized);
    QTest::qWait(50);
    QVERIFY(form.isVisible());
    QVERIFY(!form.TrayIcon1->isVisible());
}

void TestMainWindow::menuCommandsOpenTheirDialogs()
{
    MessageRecorder messages;
    PageRecorder pages;
    TMainForm &form = start({});
    QVERIFY(waitStarted());
    QMenuBar *bar = form.menuBar();

    // Options: Cancel changes nothing and says nothing; Save stores and asks for a restart.
    bool opened = false;
    WhenModal<TfrmOptions2>([](TfrmOptions2 *dialog) { dialog->btnCancel->click(); }, &opened);
    QVERIFY(ChooseFromMenuBar(bar, form.mmCommands, u"Options"_s));
    QVERIFY(opened);
    QCOMPARE(messages.shown, QStringList());
    opened = false;
    WhenModal<TfrmOptions2>(
        [](TfrmOptions2 *dialog) {
            dialog->edDomainName->setText(u"CORP\\watcher"_s);
            dialog->seChecksAtOnce->setValue(3);
            dialog->btnSave->click();
        },
        &opened);
    QVERIFY(ChooseFromMenuBar(bar, form.mmCommands, u"Options"_s));
    QVERIFY(opened);
    QCOMPARE(TOptions::ReadUser(), u"CORP\\watcher"_s);
    // The running thread checks that many at once from its next cycle on.
    QCOMPARE(form.Thread()->ChecksAtOnce(), 3);
    QCOMPARE(messages.shown, (QStringList{u"Attention|Settings have been changed!\r\nPlease, run application again"_s}));

    // Help and Contact open one page each; About shows its box until Close.
    QVERIFY(ChooseFromMenuBar(bar, form.mmHelp, u"Help"_s));
    QVERIFY(ChooseFromMenuBar(bar, form.mmHelp, u"Contact"_s));
    QCOMPARE(pages.opened, (QStringList{ProductPage(u"pomoc.html"_s).toString(), ProductPage(u"kontakt.php"_s).toString()}));
    opened = false;
    WhenModal<TfrmAbout>([](TfrmAbout *box) { box->btnClose->click(); }, &opened);
    QVERIFY(ChooseFromMenuBar(bar, form.mmHelp, u"About"_s));
    QVERIFY(opened);
    QVERIFY(form.isVisible());

    // Exit closes the window, which ends the program.
    QSignalSpy closed(&form, &TMainForm::formClosed);
    QVERIFY(ChooseFromMenuBar(bar, form.mmCommands, u"Exit"_s));
    QCOMPARE(closed.count(), 1);
    QVERIFY(!form.isVisible());
}

void TestMainWindow::contextMenuEditsTheSelectedComputersCredentials()
{
    TMainForm &form = start({u"GOODPC"_s, u"RPCPC"_s});
    QVERIFY(waitMerges(1));
    QCOMPARE(form.pmComputers->actions(), (QList<QAction *>{form.acOverwriteUserPass}));
    QVERIFY(!form.acOverwriteUserPass->isEnabled());
    Select(form, u"RPCPC"_s);
    QVERIFY(form.acOverwriteUserPass->isEnabled());

    // A right click on the computer opens the list's menu there.
    const QPoint at = form.lvComputers->visualRect(form.FindItem(u"RPCPC"_s)).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, form.lvComputers->viewport()->mapToGlobal(at));
    QApplication::sendEvent(form.lvComputers->viewport(), &click);
    bool opened = false;
    WhenModal<TfrmUserPass>(
        [](TfrmUserPass *dialog) {
            QCOMPARE(dialog->UserName(), QString());
            dialog->SetUserName(u"RPCPC\\admin"_s);
            dialog->SetPassword(u"s3cret"_s);
            dialog->btnOK->click();
        },
        &opened);
    QVERIFY(ClickMenuItem(form.pmComputers, u"Overwrite user name and password"_s));
    QVERIFY(opened);
    const TUserPass stored = ReadUserPass(DataFolder(), u"RPCPC"_s);
    QCOMPARE(stored.UserName, u"RPCPC\\admin"_s);
    QCOMPARE(stored.Password, u"s3cret"_s);
    QCOMPARE(ReadUserPass(DataFolder(), u"GOODPC"_s).UserName, QString());
}

void TestMainWindow::selectionSurvivesACycleThatDropsAndAddsTheComputer()
{
    // OLDPC is known only from its stored readout: every cycle the network
    // drops it and the stored file brings it back.
    StoreReadout(u"FLAGGEDPC"_s, u"OLDPC"_s);
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"Interval"_s, TRootKey::CurrentUser, 1);
    TMainForm &form = start({u"GOODPC"_s}, {u"OLDPC"_s});
    QVERIFY(waitMerges(1));
    Select(form, u"OLDPC"_s);
    QCOMPARE(form.DriveButtons().size(), std::size_t{2});
    const int merged = form.MergeCount();
    QVERIFY(waitMerges(merged + 1));
    const QModelIndex item = form.FindItem(u"OLDPC"_s);
    QVERIFY(item.isValid());
    QCOMPARE(form.SelectedItem(), u"OLDPC"_s);
    QCOMPARE(form.lvComputers->selectionModel()->selectedRows(), (QModelIndexList{item}));
    QCOMPARE(form.DriveButtons().size(), std::size_t{2});
    QVERIFY(form.Panel4->isVisible());
    QVERIFY(form.Panel4->lbManufacturerModelInfo->text().contains(u"VM-DISK 1000"_s));
    QVERIFY(form.acDeleteComputerInformation->isEnabled());
}

void TestMainWindow::ipRangesAreWalkedByTheWindowAndTheThread_data()
{
    QTest::addColumn<bool>("firstRun");
    QTest::newRow("first run") << true;
    QTest::newRow("later start") << false;
}

void TestMainWindow::ipRangesAreWalkedByTheWindowAndTheThread()
{
    QFETCH(bool, firstRun);
    // The window's and the thread's lookups go to one server; before the
    // second cycle the source asks another that has learnt one more host: a
    // name of that cycle shows that the thread walks the ranges itself.
    const std::vector<std::pair<QString, QString>> known{{u"10.99.0.1"_s, u"goodpc"_s}, {u"10.99.0.2"_s, u"rpcpc"_s}};
    auto later = known;
    later.push_back({u"10.99.0.3"_s, u"nosmartpc"_s});
    DnsmasqServer atStart(u"127.0.0.91"_s, known);
    DnsmasqServer inCycle(u"127.0.0.92"_s, later);
    if (!atStart.running() || !inCycle.running())
        QSKIP(qPrintable(u"no DNS server of the test: "_s + atStart.error() + inCycle.error()));
    const auto sourceAt = [](const DnsmasqServer &server) { return IpSource(server.address(), server.port()); };

    MessageRecorder messages;
    WriteQuietSettings(2);
    TOptions::WriteFirstRun(firstRun);
    TOptions::WriteIPRanges({u"10.99.0.1-10.99.0.3"_s});
    TMainFormParts parts = Parts(m_names, {});
    parts.IPNetworkNeigborhoodComputes1 = sourceAt(atStart);
    QStringList atStartup;
    m_form = std::make_unique<TMainForm>(std::move(parts));
    connect(m_form.get(), &TMainForm::startupDone, this, [&] {
        for (const QString &name : m_form->Computers()->Names())
            atStartup.append(name.toUpper());
    });
    m_form->ShowAtStart();
    QVERIFY(waitStarted());
    atStartup.sort();
    QCOMPARE(atStartup, (QStringList{u"GOODPC"_s, u"RPCPC"_s}));
    QCOMPARE(messages.shown.size(), firstRun ? 1 : 0); // no "There is no computers!"
    if (firstRun)
        QCOMPARE(GroupOf(*m_form, u"RPCPC"_s), int(StateRpcUnavailable));

    QVERIFY(waitMerges(1));
    QVERIFY(!m_form->FindItem(u"NOSMARTPC"_s).isValid());
    {
        const auto lock = m_form->Sources()->Lock();
        m_form->Sources()->IPRanges()->Resolver().SetServer(inCycle.address(), inCycle.port());
    }
    m_form->Thread()->CheckNow();
    QVERIFY(waitMerges(2));
    QVERIFY(m_form->FindItem(u"NOSMARTPC"_s).isValid());
    // A computer new to the list gets its state written by the merge after next.
    // (Its group is 3 now; a missing state reads as 5.)
    m_form->FlushStateFile();
    QCOMPARE(ReadComputerState(DataFolder(), u"NOSMARTPC"_s), 5);
    QCOMPARE(GroupOf(*m_form, u"NOSMARTPC"_s), int(StateSmartNotSupported));
    QCOMPARE(GroupOf(*m_form, u"GOODPC"_s), int(StateGood));
    QCOMPARE(m_form->Computers()->Count(), 3);
}

void TestMainWindow::unreadableRangeIsReportedAndTheThreadGoesOn()
{
    MessageRecorder messages;
    WriteQuietSettings(2);
    TOptions::WriteIPRanges({u"10.99.0.1-10.99.0.x"_s});
    // No server: nothing may be looked up anywhere.
    const auto noServer = [] { return IpSource(QString(), 53); };
    TMainFormParts parts = Parts(m_names, {});
    parts.IPNetworkNeigborhoodComputes1 = noServer();
    m_form = std::make_unique<TMainForm>(std::move(parts));
    m_form->ShowAtStart();
    QVERIFY(waitStarted());
    QCOMPARE(messages.shown.size(), 1);
    QVERIFY2(messages.shown.first().contains(u"10.99.0.x"_s), qPrintable(messages.shown.first()));
    // The thread's cycle fails on the same range and still ends with a batch.
    QVERIFY(waitMerges(1));
    QVERIFY((m_form->Computers()->Count() == 0));
    QVERIFY(m_form->Thread());
}

void TestMainWindow::trayMenuShowsChecksNowAndExits()
{
    TOptions::WriteMinimizeToTray(true);
    m_names->set({u"GOODPC"_s});
    TMainFormParts parts = Parts(m_names, {});
    parts.TrayAvailable = [] { return true; };
    m_form = std::make_unique<TMainForm>(std::move(parts));
    TMainForm &form = *m_form;
    form.ShowAtStart();
    QVERIFY(waitMerges(1));
    QVERIFY(!form.isVisible());
    QCOMPARE(form.TrayIcon1->contextMenu(), form.TrayIcon1->pmTrayIcon);
    QCOMPARE(MenuTexts(form.TrayIcon1->pmTrayIcon), (QStringList{u"Show"_s, u"Refresh status"_s, u"-"_s, u"Exit"_s}));

    const QPoint corner(200, 200);
    form.TrayIcon1->pmTrayIcon->popup(corner);
    QVERIFY(ClickMenuItem(form.TrayIcon1->pmTrayIcon, u"Show"_s));
    QVERIFY(form.isVisible());
    QVERIFY(!form.isMinimized());

    // The interval is half an hour: only the command makes the thread check again now.
    form.TrayIcon1->pmTrayIcon->popup(corner);
    QVERIFY(ClickMenuItem(form.TrayIcon1->pmTrayIcon, u"Refresh status"_s));
    QVERIFY(waitMerges(2));

    QSignalSpy closed(&form, &TMainForm::formClosed);
    form.ApplicationEvents1Minimize();
    QVERIFY(!form.isVisible());
    form.TrayIcon1->pmTrayIcon->popup(corner);
    QVERIFY(ClickMenuItem(form.TrayIcon1->pmTrayIcon, u"Exit"_s));
    QCOMPARE(closed.count(), 1);
    QVERIFY(!form.TrayIcon1->isVisible());
}

void TestMainWindow::placementFitsTheScreen_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("fitted");
    const QRect screen(0, 0, 1280, 760);
    QTest::newRow("fits") << QRect(100, 100, 800, 550) << screen << QRect(100, 100, 800, 550);
    QTest::newRow("too tall") << QRect(40, 30, 1200, 825) << screen << QRect(40, 0, 1200, 760);
    QTest::newRow("off the right edge") << QRect(900, 100, 800, 550) << screen << QRect(480, 100, 800, 550);
    QTest::newRow("above and left") << QRect(-300, -50, 800, 550) << screen << QRect(0, 0, 800, 550);
    QTest::newRow("larger both ways") << QRect(10, 10, 3000, 2000) << screen << QRect(0, 0, 1280, 760);
    QTest::newRow("second screen") << QRect(1200, 500, 800, 550) << QRect(1280, 40, 1024, 728)
                                   << QRect(1280, 218, 800, 550);
}

void TestMainWindow::placementFitsTheScreen()
{
    QFETCH(QRect, frame);
    QFETCH(QRect, available);
    QFETCH(QRect, fitted);
    QCOMPARE(FitToScreen(frame, available), fitted);
    if (QTest::currentDataTag() != QByteArray("too tall"))
        return;

    // The window itself, with the default and then with a stored placement
    // larger than the screen: its frame stays within the screen's free area,
    // and so does its minimum size (the screen of a test may be small).
    for (const bool stored : {false, true}) {
        // The window before stores its own placement when it goes.
        m_form.reset();
        if (stored) {
            for (const auto &[name, value] : {std::pair{u"Left"_s, frame.x()}, {u"Top"_s, frame.y()},
                                              {u"Width"_s, frame.width()}, {u"Height"_s, frame.height()}})
                TRegistryHelper::WriteInteger(TOptions::KeyPath, name, TRootKey::CurrentUser, value);
        }
        TMainForm &form = start({});
        QVERIFY(waitStarted());
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect screen = form.screen()->availableGeometry();
        const QRect placed = form.frameGeometry();
        QVERIFY2(screen.contains(placed), qPrintable(u"%1,%2 %3x%4 on %5x%6"_s.arg(placed.x()).arg(placed.y())
                                                         .arg(placed.width()).arg(placed.height())
                                                         .arg(screen.width()).arg(screen.height())));
        QVERIFY(form.minimumWidth() <= screen.width() && form.minimumHeight() <= screen.height());
        if (!stored && screen.width() >= 1000 && screen.height() >= 700)
            QCOMPARE(form.pos(), QPoint(100, 100)); // a default that fits is kept
    }
}

void TestMainWindow::failedReadingsSayWhy()
{
    TMainForm &form = start({});
    QVERIFY(waitStarted());
    QVERIFY(waitMerges(1));
    const TDateTime since = 46000.5;
    const QString sinceText = DateTimeText(DateTimeToQt(since));
    const auto tip = [&form](const QString &name) {
        return form.Computers()->data(form.FindItem(name), Qt::ToolTipRole).toString();
    };

    std::vector<std::unique_ptr<TAddedComputer>> entries;
    entries.push_back(Checked(u"RPCPC"_s, StateRpcUnavailable));
    entries.back()->Reason = u"connection refused by 10.1.2.3:5985"_s;
    entries.back()->ReasonTime = since;
    entries.push_back(Checked(u"GOODPC"_s, StateGood));
    entries.back()->Reason = u"an old failure"_s;
    form.WMCycleDone(Batch(std::move(entries)));
    QCOMPARE(tip(u"RPCPC"_s), u"connection refused by 10.1.2.3:5985 (since "_s + sinceText + u")"_s);
    QCOMPARE(tip(u"GOODPC"_s), QString()); // a good computer has nothing to tell

    // Selected, the computer without drives shows its reason where its drives would be.
    Select(form, u"RPCPC"_s);
    QVERIFY(form.Panel4->isVisible());
    QVERIFY(form.Panel4->lbReadReason->isVisible());
    QCOMPARE(form.Panel4->lbReadReason->text(),
             u"Last reading failed: connection refused by 10.1.2.3:5985 (since "_s + sinceText + u")"_s);
    QVERIFY(!form.Panel4->lvSmartData->isVisible());
    Select(form, u"GOODPC"_s);
    QVERIFY(!form.Panel4->lbReadReason->isVisible());

    // What the check stored before a restart is shown by the next rebuild.
    WriteComputerState(DataFolder(), u"OLDPC"_s, StateRpcUnavailable);
    WriteComputerReason(DataFolder(), u"OLDPC"_s, {u"HTTP 401 from http://OLDPC:5985/wsman: user CORP\\admin was refused"_s, since});
    m_names->set({u"OLDPC"_s});
    form.acRefreshExecute();
    QCOMPARE(tip(u"OLDPC"_s), u"HTTP 401 from http://OLDPC:5985/wsman: user CORP\\admin was refused (since "_s + sinceText + u")"_s);
}

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
