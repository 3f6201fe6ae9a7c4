// Every channel against a real peer on 127.0.0.1: aiosmtpd with STARTTLS and
// AUTH (and one that refuses), an HTTP server for the webhook, a script for
// the command; and the alerter's cycles through all three at once.
#include "alerts/Alerter.h"
#include "foundation/LogSystem.h"
#include "refresh/ComputerCheck.h"

#include "AlertPeers.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>

#include <gtest/gtest.h>

#include <mutex>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::alerts;

namespace {

const QString kUser = u"alerts"_s;
const QString kPassword = u"s3cret-Pa55"_s;

// A folder, a certificate and the settings of a mail server that wants
// STARTTLS and AUTH.
class MailFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const QString why = test::SmtpPeerUnavailable(); !why.isEmpty())
            GTEST_SKIP() << qPrintable(why);
        ASSERT_EQ(test::MakeLoopbackCertificate(m_box.path()), QString());
        QDir().mkpath(Mail());
    }
    QString Mail() const { return m_box.path(u"mail"_s); }
    QStringList TlsArgs() const
    {
        return {Mail(), u"--tls"_s, m_box.path(u"cert.pem"_s), m_box.path(u"key.pem"_s), u"--auth"_s,
                kUser + u':' + kPassword};
    }
    TSmtpSettings Smtp(int port) const
    {
        TSmtpSettings s;
        s.Url = u"smtp://127.0.0.1:%1"_s.arg(port);
        s.User = kUser;
        s.Password = kPassword;
        s.From = u"valmora@example.test"_s;
        s.To = {u"admin@example.test"_s, u"ops@example.test"_s};
        s.CaFile = m_box.path(u"cert.pem"_s);
        s.TimeoutSeconds = 20;
        return s;
    }
    QString Send(TAlertChannel &channel) const
    {
        TAlert alert = MakeAlert(TAlertEvent::DriveFailing, u"PC1"_s, QDateTime::currentDateTime());
        alert.DriveModel = u"DISK 500"_s;
        alert.DriveSerial = u"S1"_s;
        alert.Attributes.push_back({5, u"Warning"_s, u"4 sectors were reallocated"_s, 100, 100, 36, 4, false});
        QString error;
        if (channel.Send(alert, error))
            return QString();
        return error.isEmpty() ? u"(failed without a word)"_s : error;
    }

    test::ScopedSandbox m_box;
};

// A reading of PC1: good, or with one drive flagged by the attributes given.
TCheckedSnapshot Reading(int state, std::vector<TAlertAttribute> flagged = {})
{
    TCheckedDrive drive{u"DISK 500"_s, u"S1"_s, u"\\\\.\\PHYSICALDRIVE0"_s, !flagged.empty(), QString(), flagged};
    return {u"PC1"_s, state, {drive}};
}

const TAlertAttribute kReallocated{5, u"Warning"_s, u"4 sectors were reallocated"_s, 100, 100, 36, 4, false};

// Collects what the log says while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        XLogSystem().SetEcho([this](const QString &line) {
            std::lock_guard lock(m_mutex);
            m_text += line + u'\n';
        });
    }
    ~LogCapture() { XLogSystem().SetEcho({}); }
    QString Text()
    {
        std::lock_guard lock(m_mutex);
        return m_text;
    }

private:
    std::mutex m_mutex;
    QString m_text;
};

} // namespace

TEST_F(MailFixture, MailGoesThroughStartTlsWithAuth)
{
    test::TPythonPeer server(u"smtp_peer.py"_s, TlsArgs());
    ASSERT_NE(server.Port(), 0);
    auto channel = CreateSmtpChannel(Smtp(server.Port()));
    EXPECT_EQ(Send(*channel), QString());
    const QStringList mails = test::ReceivedFiles(Mail(), u"*.eml"_s);
    ASSERT_EQ(mails.size(), 1);
    const QString mail = test::FileText(mails[0]);
    EXPECT_TRUE(mail.contains(u"X-Envelope-To: admin@example.test,ops@example.test"_s)) << qPrintable(mail);
    EXPECT_TRUE(mail.contains(u"Subject: Valmora: PC1: drive failing (DISK 500, serial S1)"_s)) << qPrintable(mail);
    EXPECT_TRUE(mail.contains(u"5  Warning: 4 sectors were reallocated"_s)) << qPrintable(mail);
    EXPECT_TRUE(mail.contains(u"Content-Type: text/plain; charset=utf-8"_s));
}

// Each way a server can refuse gives an error in words, naming the server and
// never the password.
TEST_F(MailFixture, RefusalsAreToldInWords)
{
    struct Case
    {
        const char *what;
        QStringList serverArgs;
        std::function<void(TSmtpSettings &)> change;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"wrong password", TlsArgs(), [](TSmtpSettings &s) { s.Password = u"wrong-one"_s; }, u"535"_s},
        {"recipient refused", TlsArgs() << u"--refuse"_s, [](TSmtpSettings &) {}, u"550 5.7.1 Relaying denied"_s},
        {"no STARTTLS offered", {Mail()}, [](TSmtpSettings &s) { s.User.clear(), s.Password.clear(); },
         u"TLS"_s},
        {"certificate not trusted", TlsArgs(), [](TSmtpSettings &s) { s.CaFile = u"/dev/null"_s; },
         u"certificate"_s},
    };
    for (const Case &c : cases) {
        test::TPythonPeer server(u"smtp_peer.py"_s, c.serverArgs);
        ASSERT_NE(server.Port(), 0) << c.what;
        TSmtpSettings settings = Smtp(server.Port());
        c.change(settings);
        auto channel = CreateSmtpChannel(settings);
        const QString error = Send(*channel);
        EXPECT_TRUE(error.contains(c.expected, Qt::CaseInsensitive)) << c.what << ": " << qPrintable(error);
        EXPECT_TRUE(error.contains(u"smtp://127.0.0.1:%1"_s.arg(server.Port()))) << c.what << ": " << qPrintable(error);
        EXPECT_FALSE(error.contains(kPassword)) << c.what;
        EXPECT_TRUE(test::ReceivedFiles(Mail(), u"*.eml"_s).isEmpty()) << c.what;
    }
    auto nobody = CreateSmtpChannel(Smtp(1));
    EXPECT_TRUE(Send(*nobody).contains(u"smtp://127.0.0.1:1 failed"_s)) << qPrintable(Send(*nobody));
}

TEST(AlertChannels, WebhookPostsTheAlertAsJson)
{
    test::ScopedSandbox box;
    const QString hooks = box.path(u"hooks"_s);
    QDir().mkpath(hooks);
    test::TPythonPeer ok(u"webhook_peer.py"_s, {hooks});
    ASSERT_NE(ok.Port(), 0);
    auto channel = CreateWebhookChannel({u"http://127.0.0.1:%1/hooks/T0KEN"_s.arg(ok.Port()), QString(), 10});
    TAlert alert = MakeAlert(TAlertEvent::DriveFailing, u"PC1"_s, QDateTime::currentDateTime());
    alert.DriveSerial = u"S1"_s;
    alert.Attributes.push_back(kReallocated);
    QString error;
    ASSERT_TRUE(channel->Send(alert, error)) << qPrintable(error);
    const QStringList posted = test::ReceivedFiles(hooks, u"*.json"_s);
    ASSERT_EQ(posted.size(), 1);
    const QJsonObject doc = QJsonDocument::fromJson(test::FileText(posted[0]).toUtf8()).object();
    EXPECT_EQ(doc[u"Computer"_s].toString(), u"PC1"_s);
    EXPECT_EQ(doc[u"Event"_s].toString(), u"failing"_s);
    EXPECT_EQ(doc[u"Drive"_s][u"Serial"_s].toString(), u"S1"_s);
    EXPECT_EQ(doc[u"Attributes"_s][0][u"Reason"_s].toString(), u"4 sectors were reallocated"_s);
    EXPECT_TRUE(QDateTime::fromString(doc[u"Time"_s].toString(), Qt::ISODateWithMs).isValid());
    EXPECT_TRUE(test::FileText(posted[0].chopped(5) + u".type"_s).startsWith(u"application/json"_s));

    test::TPythonPeer refusing(u"webhook_peer.py"_s, {hooks, u"--status"_s, u"503"_s});
    auto refused = CreateWebhookChannel({u"http://127.0.0.1:%1/hooks/T0KEN?key=K3Y"_s.arg(refusing.Port()), QString(), 10});
    EXPECT_FALSE(refused->Send(alert, error));
    EXPECT_EQ(error, u"webhook http://127.0.0.1:%1 answered HTTP 503: the hook is switched off"_s.arg(refusing.Port()));
}

TEST(AlertChannels, CommandGetsTheAlertInItsEnvironmentAndOnStdin)
{
    test::ScopedSandbox box;
    const QString runs = box.path(u"runs"_s);
    QDir().mkpath(runs);
    const QString script = test::WriteCommandScript(box.path(u"notify.sh"_s), runs);
    auto channel = CreateCommandChannel({script + u" --urgent"_s, 10});
    TAlert alert = MakeAlert(TAlertEvent::DriveFailing, u"PC1"_s, QDateTime::currentDateTime());
    alert.DriveModel = u"DISK 500"_s;
    alert.DriveSerial = u"S1"_s;
    alert.Attributes.push_back(kReallocated);
    QString error;
    ASSERT_TRUE(channel->Send(alert, error)) << qPrintable(error);
    const QStringList done = test::ReceivedFiles(runs, u"*.txt"_s);
    ASSERT_EQ(done.size(), 1);
    const QString text = test::FileText(done[0]);
    for (const QString &line : {u"VALMORA_COMPUTER=PC1"_s, u"VALMORA_EVENT=failing"_s, u"VALMORA_DRIVE_MODEL=DISK 500"_s,
                                u"VALMORA_DRIVE_SERIAL=S1"_s, u"VALMORA_REASON=5 Warning: 4 sectors were reallocated"_s})
        EXPECT_TRUE(text.contains(line + u'\n')) << qPrintable(line) << "\n" << qPrintable(text);
    const QJsonObject json = QJsonDocument::fromJson(text.section(u"--\n"_s, 1).toUtf8()).object();
    EXPECT_EQ(json[u"Attributes"_s].toArray().size(), 1);

    struct Case
    {
        const char *what;
        int exitCode, sleepSeconds, timeout;
        QString expected;
    };
    for (const Case &c : {Case{"exit code", 3, 0, 10, u"ended with exit code 3: the pager refused the message"_s},
                          Case{"time-out", 0, 20, 1, u"did not end within 1 s and was stopped"_s}}) {
        const QString bad = test::WriteCommandScript(box.path(u"bad.sh"_s), runs, c.exitCode, c.sleepSeconds);
        auto failing = CreateCommandChannel({bad, c.timeout});
        EXPECT_FALSE(failing->Send(alert, error)) << c.what;
        EXPECT_TRUE(error.contains(c.expected)) << c.what << ": " << qPrintable(error);
    }
    auto missing = CreateCommandChannel({box.path(u"no-such-program"_s), 10});
    EXPECT_FALSE(missing->Send(alert, error));
    EXPECT_TRUE(error.contains(u"could not be started"_s)) << qPrintable(error);
}

// Good, then failing: one alert per channel; the next cycle and a restart
// send nothing; good again: "recovered" once per channel.
TEST_F(MailFixture, CyclesAlertOncePerChangeAcrossRestarts)
{
    test::TPythonPeer mail(u"smtp_peer.py"_s, TlsArgs());
    const QString hooks = m_box.path(u"hooks"_s), runs = m_box.path(u"runs"_s);
    QDir().mkpath(hooks);
    QDir().mkpath(runs);
    test::TPythonPeer hook(u"webhook_peer.py"_s, {hooks});
    ASSERT_NE(mail.Port(), 0);
    ASSERT_NE(hook.Port(), 0);
    const QString script = test::WriteCommandScript(m_box.path(u"notify.sh"_s), runs);
    const auto makeAlerter = [&] {
        std::vector<std::unique_ptr<TAlertChannel>> channels;
        channels.push_back(CreateSmtpChannel(Smtp(mail.Port())));
        channels.push_back(CreateWebhookChannel({u"http://127.0.0.1:%1/"_s.arg(hook.Port()), QString(), 10}));
        channels.push_back(CreateCommandChannel({script, 10}));
        return std::make_unique<TAlerter>(m_box.path(u"data"_s), std::move(channels));
    };
    const auto counts = [&] {
        return std::vector<qsizetype>{test::ReceivedFiles(Mail(), u"*.eml"_s).size(),
                                      test::ReceivedFiles(hooks, u"*.json"_s).size(),
                                      test::ReceivedFiles(runs, u"*.txt"_s).size()};
    };
    const auto cycle = [&](TAlerter &alerter, const TCheckedSnapshot &reading) {
        alerter.HandleChecked({reading});
        ASSERT_TRUE(alerter.WaitIdle(60000));
    };
    using Counts = std::vector<qsizetype>;
    {
        auto alerter = makeAlerter();
        cycle(*alerter, Reading(StateGood));
        EXPECT_EQ(counts(), (Counts{0, 0, 0})) << "a good computer raises nothing";
        cycle(*alerter, Reading(StateSuspected, {kReallocated}));
        EXPECT_EQ(counts(), (Counts{1, 1, 1})) << "one alert per channel";
        cycle(*alerter, Reading(StateSuspected, {kReallocated}));
        EXPECT_EQ(counts(), (Counts{1, 1, 1})) << "the next cycle sends nothing";
    }
    auto restarted = makeAlerter();
    cycle(*restarted, Reading(StateSuspected, {kReallocated}));
    EXPECT_EQ(counts(), (Counts{1, 1, 1})) << "a restart sends nothing";
    cycle(*restarted, Reading(StateUnavailable));
    EXPECT_EQ(counts(), (Counts{1, 1, 1})) << "switched off raises nothing";
    cycle(*restarted, Reading(StateGood));
    EXPECT_EQ(counts(), (Counts{2, 2, 2})) << "recovered, once per channel";
    bool recoveredMail = false;
    for (const QString &m : test::ReceivedFiles(Mail(), u"*.eml"_s))
        recoveredMail = recoveredMail || test::FileText(m).contains(u"Subject: Valmora: PC1: drive recovered (DISK 500, serial S1)"_s);
    EXPECT_TRUE(recoveredMail);
    EXPECT_TRUE(TAlertStore(m_box.path(u"data"_s)).LoadOutbox().empty());
}

// The mail server is down for two cycles: the alert waits in the outbox, each
// failure is logged without the password, and it goes out once it is back.
TEST_F(MailFixture, ServerDownForTwoCyclesGetsTheAlertWhenBack)
{
    int port = 0;
    {
        test::TPythonPeer probe(u"smtp_peer.py"_s, TlsArgs());
        port = probe.Port();
    }
    ASSERT_NE(port, 0);
    LogCapture log;
    std::vector<std::unique_ptr<TAlertChannel>> channels;
    channels.push_back(CreateSmtpChannel(Smtp(port)));
    TAlerter alerter(m_box.path(u"data"_s), std::move(channels));
    for (int i = 0; i < 2; ++i) {
        alerter.HandleChecked({Reading(StateSuspected, {kReallocated})});
        ASSERT_TRUE(alerter.WaitIdle(60000));
    }
    EXPECT_TRUE(test::ReceivedFiles(Mail(), u"*.eml"_s).isEmpty());
    const TOutbox waiting = TAlertStore(m_box.path(u"data"_s)).LoadOutbox();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].Pending.at(u"e-mail"_s).Attempts, 2);
    EXPECT_FALSE(waiting[0].Pending.at(u"e-mail"_s).LastError.isEmpty());
    EXPECT_EQ(log.Text().count(u"Alert by e-mail failed"_s), 2) << qPrintable(log.Text());
    EXPECT_FALSE(log.Text().contains(kPassword));

    test::TPythonPeer back(u"smtp_peer.py"_s, TlsArgs() << u"--port"_s << QString::number(port));
    ASSERT_EQ(back.Port(), port);
    for (int i = 0; i < 2; ++i) {
        alerter.HandleChecked({Reading(StateSuspected, {kReallocated})});
        ASSERT_TRUE(alerter.WaitIdle(60000));
    }
    const QStringList mails = test::ReceivedFiles(Mail(), u"*.eml"_s);
    ASSERT_EQ(mails.size(), 1);
    EXPECT_TRUE(test::FileText(mails[0]).contains(u"drive failing"_s));
    EXPECT_TRUE(log.Text().contains(u"Alert sent by e-mail: Valmora: PC1: drive failing"_s)) << qPrintable(log.Text());
    EXPECT_TRUE(TAlertStore(m_box.path(u"data"_s)).LoadOutbox().empty());
}

namespace {

// A channel whose answer the test sets, for the outbox's own rules.
class TScriptedChannel final : public TAlertChannel
{
public:
    QString Name() const override { return u"scripted"_s; }
    bool Send(const TAlert &, QString &error) override
    {
        ++sent;
        error = u"the line is busy"_s;
        return succeed.load();
    }
    std::atomic<int> sent{0};
    std::atomic<bool> succeed{false};
};

} // namespace

TEST(Alerter, OutboxKeepsAnAlertForADayAndNoLonger)
{
    test::ScopedSandbox box;
    std::atomic<qint64> offset{0};
    const QDateTime start = QDateTime::currentDateTime();
    auto owned = std::make_unique<TScriptedChannel>();
    TScriptedChannel &channel = *owned;
    std::vector<std::unique_ptr<TAlertChannel>> channels;
    channels.push_back(std::move(owned));
    TAlerter alerter(box.path(), std::move(channels), {}, [&] { return start.addSecs(offset.load()); });
    LogCapture log;
    alerter.HandleChecked({Reading(StateSuspected, {kReallocated})});
    ASSERT_TRUE(alerter.WaitIdle(10000));
    EXPECT_EQ(channel.sent.load(), 1);
    offset = 23 * 3600;
    alerter.HandleChecked({});
    ASSERT_TRUE(alerter.WaitIdle(10000));
    EXPECT_EQ(channel.sent.load(), 2) << "kept and tried again within the day";
    offset = 24 * 3600 + 60;
    alerter.HandleChecked({});
    ASSERT_TRUE(alerter.WaitIdle(10000));
    EXPECT_EQ(channel.sent.load(), 2) << "dropped, not sent, after a day";
    EXPECT_TRUE(TAlertStore(box.path()).LoadOutbox().empty());
    EXPECT_TRUE(log.Text().contains(u"Alert dropped after a day unsent: Valmora: PC1: drive failing"_s))
        << qPrintable(log.Text());
    EXPECT_TRUE(log.Text().contains(u"scripted (the line is busy)"_s));
}

TEST(Alerter, RetryDelaysDoubleUpToAnHour)
{
    const std::vector<std::pair<int, int>> table = {{1, 30}, {2, 60}, {3, 120}, {5, 480}, {8, 3600}, {40, 3600}};
    for (const auto &[attempts, seconds] : table)
        EXPECT_EQ(RetryDelaySeconds(attempts), seconds) << attempts;
}

// What goes to the server: header lines no text can break, words outside
// ASCII encoded, every line ended with CR LF.
TEST(AlertChannels, MailMessageKeepsItsHeadersWhole)
{
    TAlert alert = MakeAlert(TAlertEvent::Recovered, u"BÜRO-PC\r\nBcc: x@evil.test"_s,
                             QDateTime(QDate(2026, 12, 3), QTime(8, 0)));
    alert.Reason = u"the drive is no longer flagged"_s;
    const QByteArray m = MailMessage(alert, u"valmora@example.test\r\nBcc: y@evil.test"_s, {u"admin@example.test"_s},
                                     alert.Time);
    const QList<QByteArray> headers = m.left(m.indexOf("\r\n\r\n")).split('\n');
    for (const QByteArray &line : headers)
        EXPECT_FALSE(line.startsWith("Bcc:")) << line.constData();
    EXPECT_TRUE(m.contains("\r\nSubject: =?UTF-8?B?")) << m.constData();
    EXPECT_TRUE(m.contains("From: Valmora <valmora@example.testBcc: y@evil.test>\r\n")) << m.constData();
    EXPECT_EQ(m.count('\n'), m.count("\r\n"));
    EXPECT_TRUE(m.contains("\r\n\r\nComputer: "));
}
