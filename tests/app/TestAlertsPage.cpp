// The "Alerts" page of the options: kept with the other settings on Save,
// and "Send a test alert" telling in the page (and the log) how it went.
#include "DialogDriver.h"
#include "TestSupport.h"
#include "alerts/AlertPeers.h"

#include "AlertsPage.h"
#include "Options2Form.h"

#include "alerts/AlertSettings.h"
#include "foundation/LogSystem.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <mutex>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using valmora::test::ScopedSandbox;
using valmora::test::WhenModal;

class TestAlertsPage : public QObject
{
    Q_OBJECT
private slots:
    void savedWithTheOptionsAndNotOnCancel();
    void testAlertTellsWhatWentWrong();
    void testAlertThroughARealMailServer();
};

namespace {

// The page's test, run to its end; the label's text after it.
QString runTest(TfrmAlerts &page)
{
    QSignalSpy finished(&page, &TfrmAlerts::testFinished);
    QTest::mouseClick(page.btnTestAlert, Qt::LeftButton);
    if (finished.isEmpty())
        finished.wait(60000);
    return page.lbTestResult->text();
}

} // namespace

void TestAlertsPage::savedWithTheOptionsAndNotOnCancel()
{
    ScopedSandbox box;
    auto options = std::make_unique<TfrmOptions2>();
    auto *btnAlerts = options->findChild<QPushButton *>(u"btnAlerts"_s);
    QVERIFY(btnAlerts);
    bool ran = false;
    WhenModal<TfrmAlerts>([](TfrmAlerts *page) {
        page->edSmtpUrl->setText(u"smtps://mail.example.test"_s);
        page->edSmtpFrom->setText(u"valmora@example.test"_s);
        page->edSmtpTo->setText(u"admin@example.test; ops@example.test"_s);
        page->edWebhookUrl->setText(u"https://chat.example.test/hooks/x"_s);
        page->chbDesktop->setChecked(false);
        QTest::mouseClick(page->btnOk, Qt::LeftButton);
    }, &ran);
    QTest::mouseClick(btnAlerts, Qt::LeftButton);
    QVERIFY(ran);
    QCOMPARE(alerts::TAlertSettings::Read().Smtp.Url, QString()); // only Save writes
    options->SaveOptions();
    const alerts::TAlertSettings saved = alerts::TAlertSettings::Read();
    QCOMPARE(saved.Smtp.Url, u"smtps://mail.example.test"_s);
    QCOMPARE(saved.Smtp.To, (QStringList{u"admin@example.test"_s, u"ops@example.test"_s}));
    QCOMPARE(saved.Webhook.Url, u"https://chat.example.test/hooks/x"_s);
    QVERIFY(!saved.Desktop);

    // Cancel keeps what the options hold.
    ran = false;
    WhenModal<TfrmAlerts>([](TfrmAlerts *page) {
        QCOMPARE(page->edSmtpUrl->text(), u"smtps://mail.example.test"_s);
        page->edSmtpUrl->clear();
        QTest::mouseClick(page->btnCancel, Qt::LeftButton);
    }, &ran);
    QTest::mouseClick(btnAlerts, Qt::LeftButton);
    QVERIFY(ran);
    QCOMPARE(options->AlertSettings.Smtp.Url, u"smtps://mail.example.test"_s);
}

void TestAlertsPage::testAlertTellsWhatWentWrong()
{
    ScopedSandbox box;
    QString logged;
    std::mutex mutex;
    XLogSystem().SetEcho([&](const QString &line) {
        std::lock_guard lock(mutex);
        logged += line + u'\n';
    });
    TfrmAlerts page(alerts::TAlertSettings{});
    QCOMPARE(runTest(page), u"No channel is set: give an SMTP server, a webhook URL or a command."_s);

    page.edSmtpUrl->setText(u"mail.example.test:25"_s);
    page.edSmtpFrom->setText(u"valmora@example.test"_s);
    page.edSmtpTo->setText(u"admin(at)example.test"_s);
    const QString problems = runTest(page);
    QVERIFY2(problems.contains(u"The SMTP server URL \"mail.example.test:25\" is not of the form smtp://HOST[:PORT]"_s),
             qPrintable(problems));
    QVERIFY2(problems.contains(u"The recipient \"admin(at)example.test\" is no mail address"_s), qPrintable(problems));

    // A webhook where nothing listens: the error in words, in the page and the log.
    page.edSmtpUrl->clear();
    page.edWebhookUrl->setText(u"http://127.0.0.1:1/hooks/T0KEN"_s);
    const QString refused = runTest(page);
    QVERIFY2(refused.startsWith(u"webhook: failed: webhook http://127.0.0.1:1 failed: "_s), qPrintable(refused));
    QVERIFY(!refused.contains(u"T0KEN"_s));
    XLogSystem().SetEcho({});
    QVERIFY2(logged.contains(u"Test alert not sent: The SMTP server URL"_s), qPrintable(logged));
    QVERIFY2(logged.contains(u"Test alert by webhook failed: webhook http://127.0.0.1:1 failed"_s), qPrintable(logged));
    QVERIFY(!logged.contains(u"T0KEN"_s));
}

void TestAlertsPage::testAlertThroughARealMailServer()
{
    if (const QString why = test::SmtpPeerUnavailable(); !why.isEmpty())
        QSKIP(qPrintable(why));
    ScopedSandbox box;
    QCOMPARE(test::MakeLoopbackCertificate(box.path()), QString());
    const QString mail = box.path(u"mail"_s);
    QDir().mkpath(mail);
    test::TPythonPeer server(u"smtp_peer.py"_s, {mail, u"--tls"_s, box.path(u"cert.pem"_s), box.path(u"key.pem"_s),
                                                 u"--auth"_s, u"alerts:pw"_s});
    QVERIFY(server.Port() != 0);
    alerts::TAlertSettings settings;
    settings.Smtp.Url = u"smtp://127.0.0.1:%1"_s.arg(server.Port());
    settings.Smtp.User = u"alerts"_s;
    settings.Smtp.Password = u"pw"_s;
    settings.Smtp.From = u"valmora@example.test"_s;
    settings.Smtp.To = {u"admin@example.test"_s};
    settings.Smtp.CaFile = box.path(u"cert.pem"_s);
    TfrmAlerts page(settings);
    QCOMPARE(runTest(page), u"e-mail: sent"_s);
    QCOMPARE(test::ReceivedFiles(mail, u"*.eml"_s).size(), qsizetype(1));

    page.edSmtpPassword->setText(u"wrong"_s);
    const QString refused = runTest(page);
    QVERIFY2(refused.contains(u"535"_s), qPrintable(refused));
    QVERIFY(page.btnTestAlert->isEnabled());
}

QTEST_MAIN(TestAlertsPage)
#include "TestAlertsPage.moc"
