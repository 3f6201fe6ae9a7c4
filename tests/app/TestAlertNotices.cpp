// The window's alerts: a cycle that finds a failing drive gives one desktop
// notice, the next cycle none, and a click on the notice brings the window
// forward on that computer.
#include "GuiSupport.h"

#include "alerts/Alerter.h"

#include <QSignalSpy>
#include <QStatusBar>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::test;

class TestAlertNotices : public QObject
{
    Q_OBJECT
private slots:
    void failingDriveGivesOneNoticeAndItsClickShowsTheComputer();
};

void TestAlertNotices::failingDriveGivesOneNoticeAndItsClickShowsTheComputer()
{
    ScopedSandbox box;
    WriteQuietSettings();
    auto names = std::make_shared<NetworkNames>();
    names->set({u"GOODPC"_s, u"FLAGGEDPC"_s});
    TMainFormParts parts = Parts(names, {});
    parts.CreateAlerter = [](const QString &dataFolder, std::function<void(const alerts::TAlert &)> desktop) {
        alerts::TAlertSettings settings;
        settings.Desktop = true;
        return std::make_unique<alerts::TAlerter>(dataFolder, alerts::CreateChannels(settings, std::move(desktop)));
    };
    TMainForm form(std::move(parts));
    QSignalSpy notices(&form, &TMainForm::alertNoticeShown);
    form.ShowAtStart();
    QVERIFY(QTest::qWaitFor([&] { return form.MergeCount() >= 1; }, 20000));
    QVERIFY(notices.wait(10000) || !notices.isEmpty());
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices.at(0).at(0).toString(), u"FLAGGEDPC"_s);
    // Without a notification area the notice is told in the status bar.
    QVERIFY2(form.statusBar()->currentMessage().startsWith(u"Valmora: FLAGGEDPC: drive failing (VM-DISK 2000"_s),
             qPrintable(form.statusBar()->currentMessage()));

    form.hide();
    form.AlertNoticeClicked();
    QVERIFY(form.isVisible());
    QCOMPARE(form.SelectedItem(), u"FLAGGEDPC"_s);

    // The next cycle finds the same: no notice.
    form.Thread()->CheckNow();
    QVERIFY(QTest::qWaitFor([&] { return form.MergeCount() >= 2; }, 20000));
    QTest::qWait(500);
    QCOMPARE(notices.size(), 1);
}

QTEST_MAIN(TestAlertNotices)
#include "TestAlertNotices.moc"
