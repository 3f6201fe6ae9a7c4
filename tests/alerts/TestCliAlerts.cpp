// valmora-cli check --alerts against a recorded computer that turns from good
// to failing, with a real mail server; and alert-test's answers.
#include "alerts/AlertSettings.h"

#include "AlertPeers.h"
#include "TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::alerts;

namespace {

struct CliRun
{
    int code = -1;
    QString out;
    QString err;
};

CliRun Cli(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(VALMORA_CLI), arguments);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

// The settings of a mail server on the port with STARTTLS and AUTH.
TAlertSettings MailSettings(const test::ScopedSandbox &box, int port)
{
    TAlertSettings s;
    s.Desktop = false;
    s.Smtp.Url = u"smtp://127.0.0.1:%1"_s.arg(port);
    s.Smtp.User = u"alerts"_s;
    s.Smtp.Password = u"s3cret-Pa55"_s;
    s.Smtp.From = u"valmora@example.test"_s;
    s.Smtp.To = {u"admin@example.test"_s};
    s.Smtp.CaFile = box.path(u"cert.pem"_s);
    return s;
}

QStringList PeerArgs(const test::ScopedSandbox &box, const QString &mail)
{
    return {mail, u"--tls"_s, box.path(u"cert.pem"_s), box.path(u"key.pem"_s), u"--auth"_s, u"alerts:s3cret-Pa55"_s};
}

bool UseRecording(const QString &fixture, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(test::OwnFixture(u"gui/recordings/"_s + fixture), to);
}

} // namespace

// The computer is 127.0.0.2, so its ping is answered by this machine's loopback.
TEST(CliAlerts, OneMailWhenARecordedComputerTurnsFailing)
{
    if (const QString why = test::SmtpPeerUnavailable(); !why.isEmpty())
        GTEST_SKIP() << qPrintable(why);
    test::ScopedSandbox box;
    ASSERT_EQ(test::MakeLoopbackCertificate(box.path()), QString());
    const QString mail = box.path(u"mail"_s), recordings = box.path(u"recordings"_s);
    QDir().mkpath(mail);
    QDir().mkpath(recordings);
    test::TPythonPeer server(u"smtp_peer.py"_s, PeerArgs(box, mail));
    ASSERT_NE(server.Port(), 0);
    MailSettings(box, server.Port()).Write();
    const QString recording = recordings + u"/127.0.0.2.json"_s;
    const QStringList check{u"check"_s, u"127.0.0.2"_s, u"--recordings"_s, recordings, u"--alerts"_s};

    ASSERT_TRUE(UseRecording(u"GOODPC.json"_s, recording));
    const CliRun good = Cli(check);
    if (good.out.contains(u"Computer unavailable"_s))
        GTEST_SKIP() << "127.0.0.2 answers no ping here (ICMP sockets need root or ping_group_range)";
    ASSERT_EQ(good.code, 0) << qPrintable(good.out + good.err);
    EXPECT_TRUE(test::ReceivedFiles(mail, u"*.eml"_s).isEmpty()) << "a good computer raises nothing";

    ASSERT_TRUE(UseRecording(u"FLAGGEDPC.json"_s, recording));
    const CliRun failing = Cli(check);
    EXPECT_EQ(failing.code, 1) << qPrintable(failing.out + failing.err);
    QStringList mails = test::ReceivedFiles(mail, u"*.eml"_s);
    ASSERT_EQ(mails.size(), 1) << qPrintable(failing.err);
    const QString text = test::FileText(mails[0]);
    EXPECT_TRUE(text.contains(u"Subject: Valmora: 127.0.0.2: drive failing (VM-DISK 2000, serial S3FAIL0003)"_s))
        << qPrintable(text);
    EXPECT_TRUE(text.contains(u"Computer: 127.0.0.2"_s));
    EXPECT_TRUE(text.contains(u"  5  Failing: current 20 is at or below the threshold 36"_s)) << qPrintable(text);

    const CliRun again = Cli(check);
    EXPECT_EQ(again.code, 1);
    EXPECT_EQ(test::ReceivedFiles(mail, u"*.eml"_s).size(), 1) << "the third run sends none";
    EXPECT_FALSE(QString(good.err + failing.err + again.err).contains(u"s3cret-Pa55"_s));
}

TEST(CliAlerts, AlertTestSaysHowEachChannelWent)
{
    if (const QString why = test::SmtpPeerUnavailable(); !why.isEmpty())
        GTEST_SKIP() << qPrintable(why);
    test::ScopedSandbox box;
    ASSERT_EQ(test::MakeLoopbackCertificate(box.path()), QString());
    const QString mail = box.path(u"mail"_s);
    QDir().mkpath(mail);

    const CliRun none = Cli({u"alert-test"_s});
    EXPECT_EQ(none.code, 1);
    EXPECT_TRUE(none.err.contains(u"no alert channel is set"_s)) << qPrintable(none.err);

    test::TPythonPeer server(u"smtp_peer.py"_s, PeerArgs(box, mail));
    ASSERT_NE(server.Port(), 0);
    TAlertSettings settings = MailSettings(box, server.Port());
    settings.Write();
    const CliRun sent = Cli({u"alert-test"_s, u"--computer"_s, u"PC7"_s});
    EXPECT_EQ(sent.code, 0) << qPrintable(sent.out + sent.err);
    EXPECT_EQ(sent.out, u"e-mail: sent\n"_s);
    const QStringList mails = test::ReceivedFiles(mail, u"*.eml"_s);
    ASSERT_EQ(mails.size(), 1);
    EXPECT_TRUE(test::FileText(mails[0]).contains(u"Subject: Valmora: test alert from PC7"_s));

    settings.Smtp.Password = u"wrong"_s;
    settings.Write();
    const CliRun refused = Cli({u"alert-test"_s});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.out.startsWith(u"e-mail: failed: e-mail through smtp://127.0.0.1:%1 failed: "_s.arg(server.Port())))
        << qPrintable(refused.out);
    EXPECT_TRUE(refused.out.contains(u"535"_s)) << qPrintable(refused.out);

    settings.Smtp.To = {u"admin(at)example"_s};
    settings.Write();
    const CliRun bad = Cli({u"alert-test"_s});
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.err.contains(u"The recipient \"admin(at)example\" is no mail address"_s)) << qPrintable(bad.err);
}
