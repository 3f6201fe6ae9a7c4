// valmora-monitor itself, against a small network that exists only in a
// namespace of the test's own: hosts are addresses of its loopback, their
// names come from a dnsmasq there, pings to some are dropped by a firewall
// rule, and every host answers the drive reading from its recording. The test
// joins the namespace to scrape /metrics and to ask a real Prometheus.
#include "MonitorTestSupport.h"
#include "NetNamespace.h"
#include "TestSupport.h"

#include "discovery/ThisComputer.h"
#include "drivedata/SmartTypes.h"
#include "foundation/DataPaths.h"
#include "foundation/Environment.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"
#include "foundation/TextFile.h"
#include "refresh/ComputerCheck.h"
#include "refresh/DataFolderLock.h"
#include "refresh/StateFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>
#include <cmath>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

const QString kMetrics = u"http://127.0.0.1:9748"_s;

struct Host
{
    QString address;
    QString name;
    QString recording; // the fixture it answers with
};

QString missingTool()
{
    if (const QString why = test::NetNamespaceUnavailable(); !why.isEmpty())
        return why;
    for (const char *tool : {"unshare", "nft", "mount"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return u"needs "_s + QString::fromLatin1(tool);
    if (QStandardPaths::findExecutable(u"dnsmasq"_s, {u"/usr/sbin"_s, u"/sbin"_s, u"/usr/bin"_s}).isEmpty())
        return u"needs dnsmasq (package dnsmasq-base)"_s;
    return QString();
}

// The monitor's settings, written by the program's own settings code into
// the sandbox's settings file, which the monitor is then given.
QString writeSettings(const QString &ranges, int interval, const QString &listen = u"127.0.0.1:9748"_s)
{
    TOptions::WriteSearchKind(2);
    TOptions::WriteIPRanges({ranges});
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"Interval"_s, TRootKey::CurrentUser, interval);
    TRegistryHelper::WriteString(TOptions::KeyPath, u"MetricsListen"_s, TRootKey::CurrentUser, listen);
    return TRegistryStore::FileName(TRootKey::CurrentUser);
}

// One monitor in a namespace of its own, with dnsmasq (and, when asked, a
// Prometheus) beside it. Everything it started ends with it.
class Scenario
{
public:
    explicit Scenario(test::ScopedSandbox &box)
        : m_box(box)
    {
    }
    ~Scenario()
    {
        if (m_monitor.state() != QProcess::NotRunning) {
            m_monitor.kill();
            m_monitor.waitForFinished(10000);
        }
        for (const QString &name : {u"dnsmasq.pid"_s, u"prometheus.pid"_s}) {
            const auto pid = ReadWholeFile(m_box.path(name));
            if (pid && pid->trimmed().toLongLong() > 0)
                ::kill(static_cast<pid_t>(pid->trimmed().toLongLong()), SIGTERM);
        }
    }

    QString recordings() const { return m_box.path(u"recordings"_s); }

    // Copies the hosts' recordings and starts dnsmasq, the extra commands and
    // the monitor; true when the monitor serves.
    bool start(const std::vector<Host> &hosts, const QStringList &extra, const QString &settings)
    {
        QDir().mkpath(recordings());
        for (const Host &h : hosts)
            if (!h.recording.isEmpty())
                setRecording(h.name, h.recording);
        const QString resolv = m_box.path(u"resolv.conf"_s);
        WriteFileAtomically(resolv, "nameserver 127.0.0.53\n");
        QStringList dnsmasq{u"PATH=$PATH:/usr/sbin:/sbin dnsmasq --keep-in-foreground --no-resolv --no-hosts"_s,
                            u"--bind-interfaces --listen-address=127.0.0.53 --port=53 --pid-file="_s
                                + m_box.path(u"dnsmasq.pid"_s)};
        for (const Host &h : hosts) {
            const QStringList o = h.address.split(u'.');
            dnsmasq << u"--ptr-record=%1.%2.%3.%4.in-addr.arpa,%5"_s.arg(o[3], o[2], o[1], o[0], h.name)
                    << u"--host-record=%1,%2"_s.arg(h.name, h.address);
        }
        QStringList script{
            u"set -e"_s,
            u"mount --make-rprivate /"_s,
            u"mount --bind "_s + resolv + u" /etc/resolv.conf"_s,
            u"ip link set lo up"_s,
            u"nft add table ip valmora"_s,
            u"nft add chain ip valmora in '{ type filter hook input priority 0 ; }'"_s,
            dnsmasq.join(u' ') + u" >/dev/null 2>&1 &"_s,
            u"for i in $(seq 50); do [ -s "_s + m_box.path(u"dnsmasq.pid"_s) + u" ] && break; sleep 0.1; done"_s,
        };
        script += extra;
        script << u"exec "_s + QString::fromUtf8(VALMORA_MONITOR) + u" --foreground --settings "_s + settings;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VALMORA_RECORDINGS"_s, recordings());
        env.insert(u"VALMORA_LOG_TRACE"_s, u"1"_s);
        m_monitor.setProcessEnvironment(env);
        m_monitor.setProcessChannelMode(QProcess::SeparateChannels);
        m_monitor.start(u"unshare"_s, {u"--net"_s, u"--mount"_s, u"sh"_s, u"-c"_s, script.join(u'\n')});
        if (!m_monitor.waitForStarted(10000))
            return false;
        // The monitor says where it serves once it listens, in the namespace.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            m_monitor.waitForReadyRead(200);
            m_stderr += m_monitor.readAllStandardError();
            if (m_stderr.contains("metrics at http://"))
                return true;
            if (m_monitor.state() == QProcess::NotRunning)
                return false;
        }
        return false;
    }

    // The host answers with another recording from now on.
    void setRecording(const QString &host, const QString &fixture)
    {
        QJsonObject recording =
            QJsonDocument::fromJson(*ReadWholeFile(test::OwnFixture(u"network/"_s + fixture))).object();
        recording.insert(u"ComputerName"_s, host);
        WriteFileAtomically(recordings() + u'/' + host + u".json"_s, QJsonDocument(recording).toJson());
    }

    test::HttpAnswer get(const QString &url)
    {
        test::HttpAnswer answer;
        const QString failed = test::RunInNamespaceOf(m_monitor.processId(), [&] { answer = test::HttpRequest(url); });
        if (!failed.isEmpty())
            answer.error = failed;
        return answer;
    }

    // Scrapes until the samples satisfy the test (at most timeoutMs); the last scrape.
    QByteArray scrapeUntil(const std::function<bool(const std::map<QByteArray, double> &)> &done, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        QByteArray body;
        while (timer.elapsed() < timeoutMs && m_monitor.state() == QProcess::Running) {
            const test::HttpAnswer a = get(kMetrics + u"/metrics"_s);
            if (a.error.isEmpty() && a.status == 200) {
                body = a.body;
                if (done(test::Samples(body)))
                    return body;
            }
            QThread::msleep(200);
        }
        return body;
    }

    void signal(int number) { ::kill(static_cast<pid_t>(m_monitor.processId()), number); }

    // Waits for the end; its time in ms, or -1 when it did not end in time.
    qint64 waitEnd(int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        if (!m_monitor.waitForFinished(timeoutMs))
            return -1;
        m_stderr += m_monitor.readAllStandardError();
        return timer.elapsed();
    }
    int exitCode() const { return m_monitor.exitStatus() == QProcess::NormalExit ? m_monitor.exitCode() : -1; }
    QString output() { return QString::fromUtf8(m_stderr + m_monitor.readAllStandardError()); }
    qint64 pid() const { return m_monitor.processId(); }

private:
    test::ScopedSandbox &m_box;
    QProcess m_monitor;
    QByteArray m_stderr;
};

double sampleOr(const std::map<QByteArray, double> &samples, const QByteArray &series, double otherwise = std::nan(""))
{
    const auto found = samples.find(series);
    return found == samples.end() ? otherwise : found->second;
}

QByteArray flagged(const QString &computer, const QString &serial)
{
    return "valmora_drive_flagged{computer=\"" + computer.toUtf8()
        + R"(",drive="\\\\.\\PHYSICALDRIVE0",model="VALMORA TESTDISK 500",serial=")" + serial.toUtf8() + "\"}";
}

QByteArray state(const QString &computer, const char *name)
{
    return "valmora_computer_state{computer=\"" + computer.toUtf8() + "\",state=\"" + name + "\"}";
}

const Host kGood{u"127.0.0.10"_s, u"good.valmora.test"_s, u"good.valmora.test.json"_s};
const Host kFailing{u"127.0.0.11"_s, u"failing.valmora.test"_s, u"failing.valmora.test.json"_s};
const Host kSilent{u"127.0.0.14"_s, u"silent.valmora.test"_s, u"silent.valmora.test.json"_s};

} // namespace

TEST(MonitorProgram, ServesTheRecordedNetworkFollowsItsChangesAndReloadsItsSettings)
{
    if (const QString why = missingTool(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    test::ScopedSandbox box;
    const QString dataFolder = DataPaths::DataFolder();
    // The alerts of the cycles go to a command that notes each one.
    const QString alertsSeen = box.path(u"alerts.txt"_s);
    const QString command = box.path(u"note-alert.sh"_s);
    WriteFileAtomically(command, "#!/bin/sh\necho \"$VALMORA_EVENT $VALMORA_COMPUTER\" >> '" + alertsSeen.toUtf8() + "'\n");
    QFile::setPermissions(command, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    TRegistryHelper::WriteString(TOptions::KeyPath + u"\\Alerts"_s, u"Command"_s, TRootKey::CurrentUser, command);
    const auto alertLines = [&alertsSeen](const QString &expected, int timeoutMs) {
        QStringList lines;
        for (QElapsedTimer t; !t.isValid() || t.elapsed() < timeoutMs; QThread::msleep(100)) {
            if (!t.isValid())
                t.start();
            lines = QString::fromUtf8(ReadWholeFile(alertsSeen).value_or(QByteArray())).split(u'\n', Qt::SkipEmptyParts);
            if (lines.contains(expected))
                break;
        }
        return lines;
    };
    Scenario scenario(box);
    ASSERT_TRUE(scenario.start({kGood, kFailing}, {}, writeSettings(u"127.0.0.10-127.0.0.11"_s, 2)))
        << scenario.output().toStdString();

    const auto cycled = [](int cycles) {
        return [cycles](const std::map<QByteArray, double> &s) { return sampleOr(s, "valmora_cycles_total", 0) >= cycles; };
    };
    QByteArray body = scenario.scrapeUntil(cycled(1), 30000);
    auto samples = test::Samples(body);
    ASSERT_GE(sampleOr(samples, "valmora_cycles_total", 0), 1) << scenario.output().toStdString();
    EXPECT_EQ(sampleOr(samples, flagged(kFailing.name, u"VT-FAILING-0001"_s)), 1);
    EXPECT_EQ(sampleOr(samples, state(kFailing.name, "suspected")), 1);
    EXPECT_EQ(sampleOr(samples, state(kGood.name, "good")), 1);
    EXPECT_EQ(sampleOr(samples, flagged(kGood.name, u"VT-GOOD-0001"_s)), 0);
    EXPECT_EQ(sampleOr(samples, "valmora_last_cycle_computers_checked"), 2);
    EXPECT_GT(sampleOr(samples, "valmora_computer_last_readout_timestamp_seconds{computer=\"good.valmora.test\"}"), 0);
    if (test::PromtoolMissing().isEmpty()) {
        EXPECT_EQ(test::PromtoolProblem(body), QString());
    }
    // Readouts and states are kept as the window keeps them.
    EXPECT_TRUE(QFile::exists(dataFolder + u"failing.valmora.test.wci"_s));
    EXPECT_EQ(ReadComputerState(dataFolder, kFailing.name), StateSuspected);
    EXPECT_EQ(ReadComputerState(dataFolder, kGood.name), StateGood);
    // The bad-sector counts first seen are kept at once, not only at the end.
    EXPECT_TRUE(ReadWholeFile(dataFolder + u"baseline.json"_s).value_or(QByteArray()).contains("VT-FAILING-0001"));
    const test::HttpAnswer health = scenario.get(kMetrics + u"/healthz"_s);
    EXPECT_EQ(health.status, 200);

    // The good computer's drive starts failing: the next cycle says so.
    scenario.setRecording(kGood.name, kFailing.recording);
    body = scenario.scrapeUntil(
        [&](const std::map<QByteArray, double> &s) { return sampleOr(s, state(kGood.name, "suspected"), 0) == 1; }, 30000);
    samples = test::Samples(body);
    EXPECT_EQ(sampleOr(samples, state(kGood.name, "suspected")), 1) << scenario.output().toStdString();
    EXPECT_EQ(sampleOr(samples, flagged(kGood.name, u"VT-FAILING-0001"_s)), 1);
    // One alert per change: the failing computer's once over all the cycles
    // so far, the one that turned failing once more.
    const QStringList alerted = alertLines(u"failing "_s + kGood.name, 20000);
    EXPECT_EQ(alerted, (QStringList{u"failing "_s + kFailing.name, u"failing "_s + kGood.name}))
        << scenario.output().toStdString();

    // SIGHUP: the settings now name the failing host alone, and the good one leaves the metrics.
    writeSettings(u"127.0.0.11-127.0.0.11"_s, 2);
    scenario.signal(SIGHUP);
    body = scenario.scrapeUntil([&](const std::map<QByteArray, double> &s) { return !s.count(state(kGood.name, "suspected")); },
                                30000);
    samples = test::Samples(body);
    EXPECT_EQ(samples.count(state(kGood.name, "suspected")), 0U) << scenario.output().toStdString();
    EXPECT_EQ(sampleOr(samples, flagged(kFailing.name, u"VT-FAILING-0001"_s)), 1);
    EXPECT_EQ(sampleOr(samples, "valmora_last_cycle_computers_checked"), 1);

    scenario.signal(SIGTERM);
    EXPECT_GE(scenario.waitEnd(20000), 0);
    EXPECT_EQ(scenario.exitCode(), 0) << scenario.output().toStdString();
}

TEST(MonitorProgram, SigtermDuringACycleEndsWithinTheCheckTimeOutsAndLeavesWholeReadouts)
{
    if (const QString why = missingTool(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    test::ScopedSandbox box;
    const QString dataFolder = DataPaths::DataFolder();
    Scenario scenario(box);
    // The silent host's ping waits out its 5 s: the first cycle is in flight meanwhile.
    const QStringList drop{u"nft add rule ip valmora in ip daddr 127.0.0.14 icmp type echo-request drop"_s};
    ASSERT_TRUE(scenario.start({kGood, kFailing, kSilent}, drop, writeSettings(u"127.0.0.10-127.0.0.14"_s, 60)))
        << scenario.output().toStdString();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 4000 && !(QFile::exists(dataFolder + u"good.valmora.test.wci"_s)
                                       && QFile::exists(dataFolder + u"failing.valmora.test.wci"_s)))
        QThread::msleep(20);
    ASSERT_LT(timer.elapsed(), 4000) << "the answering hosts were not read before the silent one's time-out";
    scenario.signal(SIGTERM);
    const qint64 took = scenario.waitEnd(15000);
    ASSERT_GE(took, 0) << "the monitor did not end";
    // The ping in flight ends within its 5 s; the program ends right after it.
    EXPECT_LT(took, 5000 + 2000) << "more than the ping's time-out after the signal";
    EXPECT_EQ(scenario.exitCode(), 0) << scenario.output().toStdString();

    // Nothing half-written: only whole files of the program's own names, and every readout loads.
    const QRegularExpression known(u"^(.+\\.wci!?|baseline\\.json|cycles\\.lock)$"_s);
    for (const QFileInfo &file : QDir(dataFolder).entryInfoList(QDir::Files | QDir::Hidden)) {
        EXPECT_TRUE(known.match(file.fileName()).hasMatch()) << "stray file " << file.fileName().toStdString();
        if (file.fileName().endsWith(u".wci"_s)) {
            TDriveList list;
            EXPECT_NO_THROW(list.LoadFromFile(file.filePath())) << file.fileName().toStdString();
            EXPECT_EQ(list.Count(), 1) << file.fileName().toStdString();
        }
    }
    EXPECT_FALSE(QFile::exists(dataFolder + u"silent.valmora.test.wci"_s));
}

TEST(MonitorProgram, RealPrometheusScrapesItAndAnswersForTheFlaggedDrive)
{
    if (const QString why = missingTool(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    if (!QFile::exists(u"/usr/bin/prometheus"_s))
        GTEST_SKIP() << "needs prometheus (package prometheus)";
    test::ScopedSandbox box;
    const QString config = box.path(u"prometheus.yml"_s);
    WriteFileAtomically(config, "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                "scrape_configs:\n  - job_name: valmora\n    static_configs:\n"
                                "      - targets: ['127.0.0.1:9748']\n");
    const QStringList prometheus{
        u"/usr/bin/prometheus --config.file="_s + config + u" --storage.tsdb.path="_s + box.path(u"tsdb"_s)
            + u" --web.listen-address=127.0.0.1:9090 > "_s + box.path(u"prometheus.log"_s) + u" 2>&1 &"_s,
        u"echo $! > "_s + box.path(u"prometheus.pid"_s),
    };
    Scenario scenario(box);
    ASSERT_TRUE(scenario.start({kGood, kFailing}, prometheus, writeSettings(u"127.0.0.10-127.0.0.11"_s, 30)))
        << scenario.output().toStdString();

    const QString query = u"http://127.0.0.1:9090/api/v1/query?query="_s
        + QString::fromLatin1(QUrl::toPercentEncoding(u"valmora_drive_flagged{computer=\"failing.valmora.test\"}"_s));
    QElapsedTimer timer;
    timer.start();
    QJsonArray result;
    QByteArray last;
    while (timer.elapsed() < 90000 && result.isEmpty()) {
        const test::HttpAnswer a = scenario.get(query);
        last = a.body;
        if (a.status == 200)
            result = QJsonDocument::fromJson(a.body).object().value(u"data"_s).toObject().value(u"result"_s).toArray();
        if (result.isEmpty())
            QThread::msleep(500);
    }
    ASSERT_EQ(result.size(), 1) << last.constData() << "\n" << ReadWholeFile(box.path(u"prometheus.log"_s))->constData();
    const QJsonObject series = result.at(0).toObject();
    EXPECT_EQ(series.value(u"metric"_s).toObject().value(u"serial"_s).toString(), u"VT-FAILING-0001"_s);
    EXPECT_EQ(series.value(u"metric"_s).toObject().value(u"drive"_s).toString(), u"\\\\.\\PHYSICALDRIVE0"_s);
    EXPECT_EQ(series.value(u"value"_s).toArray().at(1).toString(), u"1"_s);

    // Prometheus read the answer it asked for (OpenMetrics) without complaint.
    const test::HttpAnswer targets = scenario.get(u"http://127.0.0.1:9090/api/v1/targets"_s);
    const QJsonArray active =
        QJsonDocument::fromJson(targets.body).object().value(u"data"_s).toObject().value(u"activeTargets"_s).toArray();
    ASSERT_EQ(active.size(), 1) << targets.body.constData();
    EXPECT_EQ(active.at(0).toObject().value(u"health"_s).toString(), u"up"_s);
    EXPECT_EQ(active.at(0).toObject().value(u"lastError"_s).toString(), QString());

    scenario.signal(SIGTERM);
    EXPECT_GE(scenario.waitEnd(20000), 0);
}

// Without a namespace: a monitor of this computer from its recording.
TEST(MonitorProgram, RefusesClearlyWhatItCannotRunWith)
{
    test::ScopedSandbox box;
    const QString recordings = box.path(u"recordings"_s);
    QDir().mkpath(recordings);
    const QString host = LocalComputerName();
    QFile::copy(test::OwnFixture(u"network/good.valmora.test.json"_s), recordings + u'/' + host + u".json"_s);
    TOptions::WriteSearchKind(0);
    TRegistryHelper::WriteInteger(TOptions::KeyPath, u"Interval"_s, TRootKey::CurrentUser, 60);
    TRegistryHelper::WriteString(TOptions::KeyPath, u"MetricsListen"_s, TRootKey::CurrentUser, u"127.0.0.1:0"_s);
    const QString settings = TRegistryStore::FileName(TRootKey::CurrentUser);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"VALMORA_RECORDINGS"_s, recordings);

    // The desktop program holds the data folder's lock while it runs: no monitor then.
    {
        TDataFolderLock desktop(DataPaths::DataFolder());
        ASSERT_TRUE(desktop.TryLock()) << desktop.Problem().toStdString();
        QProcess refused;
        refused.setProcessEnvironment(env);
        refused.start(QString::fromUtf8(VALMORA_MONITOR), {u"--settings"_s, settings});
        ASSERT_TRUE(refused.waitForFinished(15000));
        EXPECT_EQ(refused.exitCode(), 1);
        const QString err = QString::fromUtf8(refused.readAllStandardError());
        EXPECT_TRUE(err.contains(u"(process %1 on "_s.arg(QCoreApplication::applicationPid()))) << err.toStdString();
        EXPECT_TRUE(err.contains(u"only one program may run its refresh cycles"_s)) << err.toStdString();
    }

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QString::fromUtf8(VALMORA_MONITOR), {u"--settings"_s, settings});
    QByteArray said;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000 && !said.contains("metrics at http://") && first.state() != QProcess::NotRunning) {
        first.waitForReadyRead(200);
        said += first.readAllStandardError();
    }
    ASSERT_TRUE(said.contains("metrics at http://")) << said.constData();

    struct Case
    {
        QStringList args;
        int exitCode;
        QString says;
    };
    const QString bad = box.path(u"bad.reg"_s);
    WriteFileAtomically(bad, "[HKEY_CURRENT_USER\\Software\\Quillmoor\\VALMORA]\n\"MetricsListen\"=\"localhost:99999\"\n");
    const Case cases[] = {
        {{u"--settings"_s, settings},
         1,
         u"is in use by valmora-monitor (process %1 on "_s.arg(first.processId())},
        {{u"--settings"_s, box.path(u"missing.reg"_s)}, 2, u"the settings file %1 does not exist"_s.arg(box.path(u"missing.reg"_s))},
        {{u"--settings"_s}, 2, u"--settings needs a file"_s},
        {{u"--interval"_s, u"5"_s}, 2, u"unknown option \"--interval\""_s},
    };
    for (const Case &c : cases) {
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QString::fromUtf8(VALMORA_MONITOR), c.args);
        ASSERT_TRUE(second.waitForFinished(15000)) << c.args.join(u' ').toStdString();
        EXPECT_EQ(second.exitCode(), c.exitCode) << c.args.join(u' ').toStdString();
        const QString err = QString::fromUtf8(second.readAllStandardError());
        EXPECT_TRUE(err.contains(c.says)) << err.toStdString();
    }
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitCode(), 0);

    // With the data folder free again: an unusable listen address of the settings.
    QProcess third;
    third.setProcessEnvironment(env);
    third.start(QString::fromUtf8(VALMORA_MONITOR), {u"--settings"_s, bad});
    ASSERT_TRUE(third.waitForFinished(15000));
    EXPECT_EQ(third.exitCode(), 2);
    EXPECT_TRUE(third.readAllStandardError().contains(
        "setting \"MetricsListen\": \"localhost:99999\" is no listen address"));
}
