#include "DialogDriver.h"

#include "IPRangesForm.h"

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using valmora::TfrmIPRange;
using valmora::test::WhenModal;

class TestIPRangeDialog : public QObject
{
    Q_OBJECT
private slots:
    void okFollowsBothAddresses_data();
    void okFollowsBothAddresses();
    void okFollowsTyping();
    void typedAndPastedCharactersAreFiltered_data();
    void typedAndPastedCharactersAreFiltered();
    void rangeTextBothWays_data();
    void rangeTextBothWays();
    void executeGivesTheRangeOnlyOnOk();
    void enterAndEscapeDoNotClose();
};

void TestIPRangeDialog::okFollowsBothAddresses_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("both empty") << QString() << QString() << false;
    QTest::newRow("first empty") << QString() << u"10.0.0.1"_s << false;
    QTest::newRow("last empty") << u"10.0.0.1"_s << QString() << false;
    QTest::newRow("three parts") << u"10.0.0"_s << u"10.0.0.9"_s << false;
    QTest::newRow("five parts") << u"10.0.0.1"_s << u"10.0.0.1.2"_s << false;
    QTest::newRow("empty part") << u"10..0.1"_s << u"10.0.0.9"_s << false;
    QTest::newRow("trailing dot") << u"10.0.0.1"_s << u"10.0.0."_s << false;
    QTest::newRow("valid range") << u"10.0.0.1"_s << u"10.0.0.9"_s << true;
    QTest::newRow("one address") << u"10.0.0.5"_s << u"10.0.0.5"_s << true;
    QTest::newRow("numbers beyond 255") << u"300.1.1.1"_s << u"300.1.1.1"_s << true;
    QTest::newRow("last below first") << u"10.0.0.9"_s << u"10.0.0.1"_s << false;
    QTest::newRow("below in a higher octet") << u"10.0.1.0"_s << u"10.0.0.255"_s << false;
    QTest::newRow("across an octet") << u"10.0.0.254"_s << u"10.0.1.1"_s << true;
}

void TestIPRangeDialog::okFollowsBothAddresses()
{
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(bool, enabled);
    TfrmIPRange dialog;
    dialog.edFirstIP->setText(first);
    dialog.edLastIP->setText(last);
    QCOMPARE(dialog.acOK->isEnabled(), enabled);
    QCOMPARE(dialog.btnOK->isEnabled(), enabled);
}

void TestIPRangeDialog::okFollowsTyping()
{
    TfrmIPRange dialog;
    QVERIFY(!dialog.btnOK->isEnabled());
    QTest::keyClicks(dialog.edFirstIP, u"192.168.1.1"_s);
    QVERIFY(!dialog.btnOK->isEnabled());
    QTest::keyClicks(dialog.edLastIP, u"192.168.1.25"_s);
    QVERIFY(dialog.btnOK->isEnabled());
    QTest::keyClick(dialog.edLastIP, Qt::Key_Backspace);
    QTest::keyClick(dialog.edLastIP, Qt::Key_Backspace);
    QCOMPARE(dialog.edLastIP->text(), u"192.168.1."_s);
    QVERIFY(!dialog.btnOK->isEnabled());
    QTest::keyClick(dialog.edLastIP, '0');
    QVERIFY(!dialog.btnOK->isEnabled()); // 192.168.1.0 lies below 192.168.1.1
    QTest::keyClick(dialog.edLastIP, '9');
    QVERIFY(dialog.btnOK->isEnabled());
}

void TestIPRangeDialog::typedAndPastedCharactersAreFiltered_data()
{
    QTest::addColumn<bool>("lastField");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("kept");
    for (const bool lastField : {false, true}) {
        const char *const field = lastField ? "last" : "first";
        QTest::addRow("%s: letters", field) << lastField << u"1a0b"_s << u"10"_s;
        QTest::addRow("%s: blank and dash", field) << lastField << u"10.0.0.1 - 10.0.0.2"_s << u"10.0.0.110.0.0.2"_s;
        QTest::addRow("%s: only rejected", field) << lastField << u"x -+,:"_s << QString();
        QTest::addRow("%s: digits and dots", field) << lastField << u"300.1..2"_s << u"300.1..2"_s;
    }
}

void TestIPRangeDialog::typedAndPastedCharactersAreFiltered()
{
    QFETCH(bool, lastField);
    QFETCH(QString, input);
    QFETCH(QString, kept);
    {
        TfrmIPRange dialog;
        QLineEdit *edit = lastField ? dialog.edLastIP : dialog.edFirstIP;
        QTest::keyClicks(edit, input);
        QCOMPARE(edit->text(), kept);
    }
    {
        // Pasted text goes through the same filter, at the cursor.
        TfrmIPRange dialog;
        QLineEdit *edit = lastField ? dialog.edLastIP : dialog.edFirstIP;
        edit->setText(u"1.2"_s);
        edit->setCursorPosition(1);
        QGuiApplication::clipboard()->setText(input);
        edit->paste();
        QCOMPARE(edit->text(), u"1"_s + kept + u".2"_s);
        QCOMPARE(edit->cursorPosition(), 1 + kept.size());
    }
}

void TestIPRangeDialog::rangeTextBothWays_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("range") << u"10.0.0.1-10.0.0.9"_s << u"10.0.0.1"_s << u"10.0.0.9"_s << u"10.0.0.1-10.0.0.9"_s;
    QTest::newRow("no dash") << u"10.0.0.5"_s << QString() << u"10.0.0.5"_s << u"-10.0.0.5"_s;
    QTest::newRow("two dashes") << u"1.1.1.1-2.2.2.2-3"_s << u"1.1.1.1"_s << u"2.2.2.2-3"_s << u"1.1.1.1-2.2.2.2-3"_s;
    QTest::newRow("dash last") << u"10.0.0.1-"_s << u"10.0.0.1"_s << QString() << u"10.0.0.1-"_s;
    QTest::newRow("blanks kept") << u" 10.0.0.1-10.0.0.2 "_s << u" 10.0.0.1"_s << u"10.0.0.2 "_s
                                 << u" 10.0.0.1-10.0.0.2 "_s;
}

void TestIPRangeDialog::rangeTextBothWays()
{
    QFETCH(QString, range);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, readBack);
    TfrmIPRange dialog;
    dialog.SetRangeText(range);
    QCOMPARE(dialog.edFirstIP->text(), first);
    QCOMPARE(dialog.edLastIP->text(), last);
    QCOMPARE(dialog.RangeText(), readBack);
    // A stored text the filter would not let in keeps OK disabled rather than
    // becoming another address, and typing still filters only what is typed.
    if (dialog.edLastIP->text().contains(u'-')) {
        QVERIFY(!dialog.acOK->isEnabled());
        dialog.edLastIP->end(false);
        QTest::keyClicks(dialog.edLastIP, u"x4"_s);
        QCOMPARE(dialog.edLastIP->text(), last + u'4');
    }
}

void TestIPRangeDialog::executeGivesTheRangeOnlyOnOk()
{
    bool shown = false;
    WhenModal<TfrmIPRange>(
        [](TfrmIPRange *dialog) {
            QCOMPARE(dialog->windowTitle(), u"IP range"_s);
            QCOMPARE(dialog->edFirstIP->text(), u"10.0.0.1"_s);
            QCOMPARE(dialog->edLastIP->text(), u"10.0.0.9"_s);
            dialog->edLastIP->selectAll();
            QTest::keyClicks(dialog->edLastIP, u"10.0.0.20"_s);
            QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        },
        &shown);
    QCOMPARE(TfrmIPRange::Execute(nullptr, u"10.0.0.1-10.0.0.9"_s), std::optional(u"10.0.0.1-10.0.0.20"_s));
    QVERIFY(shown);

    // A disabled OK does nothing; Cancel and the close box give nothing.
    WhenModal<TfrmIPRange>([](TfrmIPRange *dialog) {
        QTest::keyClicks(dialog->edFirstIP, u"10.0.0.1"_s);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        QVERIFY(dialog->isVisible());
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    });
    QCOMPARE(TfrmIPRange::Execute(nullptr), std::nullopt);
    WhenModal<TfrmIPRange>([](TfrmIPRange *dialog) { dialog->close(); });
    QCOMPARE(TfrmIPRange::Execute(nullptr, u"10.0.0.1-10.0.0.9"_s), std::nullopt);
}

void TestIPRangeDialog::enterAndEscapeDoNotClose()
{
    WhenModal<TfrmIPRange>([](TfrmIPRange *dialog) {
        QVERIFY(dialog->btnOK->isEnabled());
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(dialog->edLastIP, key);
            QVERIFY2(dialog->isVisible(), qPrintable(QString::number(key, 16)));
        }
        dialog->btnOK->setFocus();
        QTest::keyClick(dialog->btnOK, Qt::Key_Return);
        QVERIFY(dialog->isVisible());
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    QCOMPARE(TfrmIPRange::Execute(nullptr, u"10.0.0.1-10.0.0.2"_s), std::optional(u"10.0.0.1-10.0.0.2"_s));
}

QTEST_MAIN(TestIPRangeDialog)
#include "TestIPRangeDialog.moc"
