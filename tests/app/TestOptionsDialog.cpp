#include "DialogDriver.h"
#include "TestSupport.h"

#include "FormHelpers.h"
#include "IPRangesForm.h"
#include "MessageBox.h"
#include "Options2Form.h"

#include "foundation/Environment.h"
#include "drivedata/Verdicts.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using valmora::test::ScopedSandbox;
using valmora::test::WhenModal;

namespace {

const QString kAttentionText = u"Settings have been changed!\r\nPlease, run application again"_s;

void storeSettings()
{
    TOptions::WriteTemperatureScale(1);
    TOptions::WriteMinimizeToTray(false);
    TOptions::WriteRunAtWindowsStart(false);
    TOptions::WriteUser(u"DOMAIN\\admin"_s);
    TOptions::WriteUserP(u"s3cret"_s);
    TOptions::WriteSearchKind(2);
    TOptions::WriteIPRanges({u"10.0.0.1-10.0.0.9"_s, u"192.168.1.1-192.168.1.254"_s});
    TOptions::WriteChecksAtOnce(4);
}

// Everything the dialog can change, as the store holds it now.
struct Stored
{
    int temperatureScale, searchKind;
    bool minimizeToTray, runAtStart;
    QString user, password;
    QStringList ranges;
    int checksAtOnce;
    bool operator==(const Stored &) const = default;
};

Stored readStored()
{
    return {TOptions::ReadTemperatureScale(), TOptions::ReadSearchKind(), TOptions::ReadMinimizeToTray(),
            TOptions::ReadRunAtWindowsStart(), TOptions::ReadUser(), TOptions::ReadUserP(), TOptions::ReadIPRanges(),
            TOptions::ReadChecksAtOnce()};
}

void addRange(TfrmOptions2 *dialog, const QString &first, const QString &last)
{
    WhenModal<TfrmIPRange>([first, last](TfrmIPRange *range) {
        QTest::keyClicks(range->edFirstIP, first);
        QTest::keyClicks(range->edLastIP, last);
        QTest::mouseClick(range->btnOK, Qt::LeftButton);
    });
    QTest::mouseClick(dialog->btnAdd, Qt::LeftButton);
}

} // namespace

class TestOptionsDialog : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_sandbox = std::make_unique<ScopedSandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void loadsEverySetting();
    void radioGroupsTakeTheLowByte_data();
    void radioGroupsTakeTheLowByte();
    void saveStoresEverythingShownAndTellsToRestart();
    void cancelStoresNothing_data();
    void cancelStoresNothing();
    void saveFailureKeepsTheDialogOpenAndWritesInOrder();
    void unreadableSettingsAreReported();
    void addEditDeleteChangeOnlyTheList();
    void sectorWarningsSwitchTakesEffectAtOnce();

private:
    std::unique_ptr<ScopedSandbox> m_sandbox;
};

void TestOptionsDialog::loadsEverySetting()
{
    {
        // Defaults of an empty store.
        TfrmOptions2 dialog;
        QVERIFY(dialog.chbMinimizeToTray->isChecked());
        QVERIFY(dialog.chbRunatwindowsStart->isChecked());
        QCOMPARE(dialog.rgTemperatureScale->ItemIndex(), 0);
        QCOMPARE(dialog.rgSearchKind->ItemIndex(), 1);
        QCOMPARE(dialog.lbxRange->count(), 0);
        QCOMPARE(dialog.seChecksAtOnce->value(), 16);
        QVERIFY(!dialog.acEdit->isEnabled());
        QVERIFY(!dialog.acDeleteRange->isEnabled());
        QVERIFY(dialog.acAddRange->isEnabled());
    }
    storeSettings();
    TfrmOptions2 dialog;
    QCOMPARE(dialog.windowTitle(), u"Options"_s);
    QVERIFY(!dialog.chbMinimizeToTray->isChecked());
    QVERIFY(!dialog.chbRunatwindowsStart->isChecked());
    QCOMPARE(dialog.rgTemperatureScale->ItemIndex(), 1);
    QCOMPARE(dialog.edDomainName->text(), u"DOMAIN\\admin"_s);
    QCOMPARE(dialog.edDomainPassword->text(), u"s3cret"_s);
    QCOMPARE(dialog.edDomainPassword->displayText(), u"******"_s);
    QCOMPARE(dialog.rgSearchKind->ItemIndex(), 2);
    QVERIFY(dialog.rgSearchKind->Item(2)->isChecked());
    QCOMPARE(dialog.rgSearchKind->Item(2)->text(), u"IP ranges"_s);
    QCOMPARE(dialog.Ranges(), QStringList({u"10.0.0.1-10.0.0.9"_s, u"192.168.1.1-192.168.1.254"_s}));
    QCOMPARE(dialog.seChecksAtOnce->value(), 4);
    QCOMPARE(dialog.lbChecksAtOnce->buddy(), dialog.seChecksAtOnce);
    // The field takes 1 to 256 only.
    dialog.seChecksAtOnce->setValue(0);
    QCOMPARE(dialog.seChecksAtOnce->value(), 1);
    dialog.seChecksAtOnce->setValue(300);
    QCOMPARE(dialog.seChecksAtOnce->value(), 256);
    // The list holds ranges but none is chosen yet.
    QVERIFY(!dialog.acEdit->isEnabled());
    QVERIFY(!dialog.btnEdit->isEnabled());
    QVERIFY(!dialog.btnDelete->isEnabled());
}

void TestOptionsDialog::radioGroupsTakeTheLowByte_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("temperatureItem");
    QTest::addColumn<int>("searchItem");
    QTest::newRow("0") << 0 << 0 << 0;
    QTest::newRow("1") << 1 << 1 << 1;
    QTest::newRow("2") << 2 << 1 << 2;
    QTest::newRow("beyond the items") << 7 << 1 << 1;
    QTest::newRow("low byte 0") << 0x100 << 0 << 0;
    QTest::newRow("low byte 2") << 0x102 << 1 << 2;
}

void TestOptionsDialog::radioGroupsTakeTheLowByte()
{
    QFETCH(int, stored);
    QFETCH(int, temperatureItem);
    QFETCH(int, searchItem);
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"TemperatureScale"_s, TRootKey::CurrentUser, stored);
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"SearchKind"_s, TRootKey::CurrentUser, stored);
    TfrmOptions2 dialog;
    QCOMPARE(dialog.rgTemperatureScale->ItemIndex(), temperatureItem);
    QCOMPARE(dialog.rgSearchKind->ItemIndex(), searchItem);
}

void TestOptionsDialog::saveStoresEverythingShownAndTellsToRestart()
{
    storeSettings();
    TMessageRecorder messages;
    bool shown = false;
    WhenModal<TfrmOptions2>(
        [&messages](TfrmOptions2 *dialog) {
            dialog->chbMinimizeToTray->setChecked(true);
            dialog->chbRunatwindowsStart->setChecked(true);
            dialog->rgTemperatureScale->Item(0)->click();
            dialog->edDomainName->setText(u"other"_s);
            dialog->edDomainPassword->clear(); // stored as empty, not refused
            dialog->rgSearchKind->Item(0)->click();
            dialog->lbxRange->setCurrentRow(0);
            QTest::mouseClick(dialog->btnDelete, Qt::LeftButton);
            addRange(dialog, u"172.16.0.1"_s, u"172.16.0.20"_s);
            dialog->seChecksAtOnce->selectAll();
            QTest::keyClicks(dialog->seChecksAtOnce, u"40"_s);
            QVERIFY(messages.Shown().empty());
            QTest::mouseClick(dialog->btnSave, Qt::LeftButton);
        },
        &shown);
    QVERIFY(ExecuteOptionsCommand(nullptr));
    QVERIFY(shown);

    const Stored expected{0, 0, true, true, u"other"_s, QString(),
                          {u"192.168.1.1-192.168.1.254"_s, u"172.16.0.1-172.16.0.20"_s}, 40};
    QCOMPARE(readStored(), expected);
    // Starting with the system also puts the start entries in place.
    QVERIFY(QFile::exists(StartEntry::UserFile()));
    QVERIFY(QFile::exists(StartEntry::MachineFile()));

    QCOMPARE(messages.Shown().size(), std::size_t{1});
    const TMessageRequest &message = messages.Shown().front();
    QCOMPARE(message.Caption, u"Attention"_s);
    QCOMPARE(message.Text, kAttentionText);
    QCOMPARE(message.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

void TestOptionsDialog::cancelStoresNothing_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel button") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("close box") << 2;
}

void TestOptionsDialog::cancelStoresNothing()
{
    QFETCH(int, how);
    storeSettings();
    const Stored before = readStored();
    const QByteArray storeBefore = [] {
        QFile file(TRegistryStore::FileName(TRootKey::CurrentUser));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(!storeBefore.isEmpty());

    TMessageRecorder messages;
    WhenModal<TfrmOptions2>([how](TfrmOptions2 *dialog) {
        addRange(dialog, u"10.1.1.1"_s, u"10.1.1.2"_s);
        QCOMPARE(dialog->lbxRange->count(), 3);
        dialog->lbxRange->setCurrentRow(0);
        QTest::mouseClick(dialog->btnDelete, Qt::LeftButton);
        dialog->edDomainName->setText(u"changed"_s);
        dialog->chbMinimizeToTray->setChecked(true);
        dialog->seChecksAtOnce->setValue(99);
        if (how == 0)
            QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
        else if (how == 1)
            QTest::keyClick(dialog->lbxRange, Qt::Key_Escape);
        else
            dialog->close();
    });
    QVERIFY(!ExecuteOptionsCommand(nullptr));

    QCOMPARE(readStored(), before);
    QFile file(TRegistryStore::FileName(TRootKey::CurrentUser));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), storeBefore);
    QVERIFY(messages.Shown().empty());
}

void TestOptionsDialog::saveFailureKeepsTheDialogOpenAndWritesInOrder()
{
    storeSettings();
    // The machine's start entry cannot be written: a file stands where its folder must go.
    QFile blocker(TWindowsFolders::MachineConfigFolder() + u"xdg"_s);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    TMessageRecorder messages;
    WhenModal<TfrmOptions2>([&messages](TfrmOptions2 *dialog) {
        dialog->rgTemperatureScale->Item(0)->click();
        dialog->chbMinimizeToTray->setChecked(true);
        dialog->chbRunatwindowsStart->setChecked(true);
        dialog->edDomainName->setText(u"other"_s);
        dialog->edDomainPassword->setText(u"other password"_s);
        dialog->rgSearchKind->Item(0)->click();
        QTest::mouseClick(dialog->btnSave, Qt::LeftButton);

        // The error is shown and the dialog stays, with what it holds.
        QVERIFY(dialog->isVisible());
        QCOMPARE(messages.Shown().size(), std::size_t{1});
        QCOMPARE(messages.Shown().front().Text, u"Failed to set data for 'Valmora'"_s);
        QCOMPARE(messages.Shown().front().Icon, QMessageBox::Critical);
        QCOMPARE(dialog->edDomainName->text(), u"other"_s);
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    });
    QVERIFY(!ExecuteOptionsCommand(nullptr));
    QCOMPARE(messages.Shown().size(), std::size_t{1}); // no "Attention" after a failed save

    // Written up to the failing one, in order; nothing after it.
    QCOMPARE(TOptions::ReadTemperatureScale(), 0);
    QCOMPARE(TOptions::ReadMinimizeToTray(), true);
    QCOMPARE(TOptions::ReadRunAtWindowsStart(), true);
    QCOMPARE(TOptions::ReadUser(), u"DOMAIN\\admin"_s);
    QCOMPARE(TOptions::ReadUserP(), u"s3cret"_s);
    QCOMPARE(TOptions::ReadSearchKind(), 2);
}

void TestOptionsDialog::unreadableSettingsAreReported()
{
    TRegistryHelper::WriteString(TOptions::KeyPath, u"SearchKind"_s, TRootKey::CurrentUser, u"two"_s);
    TMessageRecorder messages;
    QVERIFY(!ExecuteOptionsCommand(nullptr));
    QCOMPARE(messages.Shown().size(), std::size_t{1});
    QCOMPARE(messages.Shown().front().Text, u"Invalid data type for 'SearchKind'"_s);
}

void TestOptionsDialog::addEditDeleteChangeOnlyTheList()
{
    storeSettings();
    TfrmOptions2 dialog;
    dialog.show();

    // Add, then Cancel: nothing changes.
    WhenModal<TfrmIPRange>([](TfrmIPRange *range) {
        QVERIFY(range->edFirstIP->text().isEmpty());
        QVERIFY(range->edLastIP->text().isEmpty());
        QTest::keyClicks(range->edFirstIP, u"10.9.9.9"_s);
        QTest::mouseClick(range->btnCancel, Qt::LeftButton);
    });
    QTest::mouseClick(dialog.btnAdd, Qt::LeftButton);
    QCOMPARE(dialog.lbxRange->count(), 2);

    // Add with two addresses appends at the end.
    addRange(&dialog, u"10.0.0.1"_s, u"10.0.0.9"_s);
    QCOMPARE(dialog.Ranges().last(), u"10.0.0.1-10.0.0.9"_s);
    QCOMPARE(dialog.lbxRange->count(), 3);
    QVERIFY(!dialog.btnEdit->isEnabled());

    // Edit shows the chosen range in the two fields and replaces it on OK.
    dialog.lbxRange->setCurrentRow(1);
    QVERIFY(dialog.btnEdit->isEnabled());
    QVERIFY(dialog.btnDelete->isEnabled());
    bool shown = false;
    WhenModal<TfrmIPRange>(
        [](TfrmIPRange *range) {
            QCOMPARE(range->edFirstIP->text(), u"192.168.1.1"_s);
            QCOMPARE(range->edLastIP->text(), u"192.168.1.254"_s);
            range->edLastIP->clear();
            QTest::keyClicks(range->edLastIP, u"192.168.1.100"_s);
            QTest::mouseClick(range->btnOK, Qt::LeftButton);
        },
        &shown);
    QTest::mouseClick(dialog.btnEdit, Qt::LeftButton);
    QVERIFY(shown);
    QCOMPARE(dialog.Ranges(),
             QStringList({u"10.0.0.1-10.0.0.9"_s, u"192.168.1.1-192.168.1.100"_s, u"10.0.0.1-10.0.0.9"_s}));
    QCOMPARE(dialog.lbxRange->currentRow(), 1);

    // Edit, then Cancel: the item stays.
    WhenModal<TfrmIPRange>([](TfrmIPRange *range) {
        range->edFirstIP->clear();
        QTest::mouseClick(range->btnCancel, Qt::LeftButton);
    });
    QTest::mouseClick(dialog.btnEdit, Qt::LeftButton);
    QCOMPARE(dialog.lbxRange->item(1)->text(), u"192.168.1.1-192.168.1.100"_s);

    // Delete removes the chosen item at once and leaves nothing chosen.
    TMessageRecorder messages;
    QTest::mouseClick(dialog.btnDelete, Qt::LeftButton);
    QVERIFY(messages.Shown().empty());
    QCOMPARE(dialog.Ranges(), QStringList({u"10.0.0.1-10.0.0.9"_s, u"10.0.0.1-10.0.0.9"_s}));
    QVERIFY(!dialog.btnEdit->isEnabled());
    QVERIFY(!dialog.btnDelete->isEnabled());

    // Choosing by mouse enables them; a list emptied by Delete disables them.
    QTest::mouseClick(dialog.lbxRange->viewport(), Qt::LeftButton, {},
                      dialog.lbxRange->visualItemRect(dialog.lbxRange->item(0)).center());
    QVERIFY(dialog.btnDelete->isEnabled());
    QTest::mouseClick(dialog.btnDelete, Qt::LeftButton);
    dialog.lbxRange->setCurrentRow(0);
    QTest::mouseClick(dialog.btnDelete, Qt::LeftButton);
    QCOMPARE(dialog.lbxRange->count(), 0);
    QVERIFY(!dialog.btnEdit->isEnabled());
    QVERIFY(!dialog.btnDelete->isEnabled());

    // None of it reached the store.
    QCOMPARE(TOptions::ReadIPRanges(), QStringList({u"10.0.0.1-10.0.0.9"_s, u"192.168.1.1-192.168.1.254"_s}));
}

void TestOptionsDialog::sectorWarningsSwitchTakesEffectAtOnce()
{
    SetVerdictRules(TVerdictRules{});
    {
        TfrmOptions2 dialog;
        QVERIFY(dialog.chbSectorWarnings->isChecked()); // on by default
    }
    WhenModal<TfrmOptions2>([](TfrmOptions2 *dialog) {
        dialog->chbSectorWarnings->setChecked(false);
        QTest::mouseClick(dialog->btnSave, Qt::LeftButton);
    });
    TMessageRecorder messages;
    QVERIFY(ExecuteOptionsCommand(nullptr));
    QVERIFY(!TOptions::ReadSectorWarnings());
    QVERIFY(!CurrentVerdictRules().SectorWarnings);
    TfrmOptions2 dialog;
    QVERIFY(!dialog.chbSectorWarnings->isChecked());
    SetVerdictRules(TVerdictRules{});
}

QTEST_MAIN(TestOptionsDialog)
#include "TestOptionsDialog.moc"
