// One refresh cycle of valmora-cli against a small network that exists only in
// a namespace of the test's own: hosts are addresses of its loopback, names come
// from a dnsmasq there, pings to some hosts are dropped by a firewall rule, and
// every host answers the drive reading from its recording.
#include "drivedata/SmartTypes.h"
#include "foundation/Environment.h"
#include "foundation/TextFile.h"

#include "NetNamespace.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

struct Host
{
    QString address;
    QString name;
};

// How a host of the larger network answers: its recording, or dropped pings.
const char *const kKinds[] = {"good", "failing", "nosmart", "refused"};
const int kKindStates[] = {5, 1, 3, 2};

const Host kHosts[] = {
    {u"127.0.0.10"_s, u"good.valmora.test"_s},    {u"127.0.0.11"_s, u"failing.valmora.test"_s},
    {u"127.0.0.12"_s, u"nosmart.valmora.test"_s}, {u"127.0.0.13"_s, u"refused.valmora.test"_s},
    {u"127.0.0.14"_s, u"silent.valmora.test"_s},
};

QString missingTool()
{
    for (const char *tool : {"unshare", "nft", "ip", "mount"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return u"needs "_s + QString::fromLatin1(tool);
    if (QStandardPaths::findExecutable(u"dnsmasq"_s).isEmpty()
        && QStandardPaths::findExecutable(u"dnsmasq"_s, {u"/usr/sbin"_s, u"/sbin"_s}).isEmpty())
        return u"needs dnsmasq (package dnsmasq-base)"_s;
    return QString();
}

QString scenarioUnavailable()
{
    const QString why = test::NetNamespaceUnavailable();
    return why.isEmpty() ? missingTool() : why;
}

// Runs the script in a network and mount namespace of its own and prints what
// it says (the wall times, for the record). Empty when it ran, else why not.
QString runScenario(const QString &script, int timeoutMs)
{
    QProcess run;
    run.start(u"unshare"_s, {u"--net"_s, u"--mount"_s, u"sh"_s, u"-c"_s, script});
    if (!run.waitForFinished(timeoutMs))
        return u"the scenario did not end in time"_s;
    if (run.exitCode() != 0)
        return u"the scenario failed: "_s + QString::fromLocal8Bit(run.readAllStandardError());
    std::printf("%s", run.readAllStandardOutput().constData());
    return QString();
}

// dnsmasq on 127.0.0.53 of the namespace, answering the PTR and A records of the hosts.
QString dnsmasqCommand(const std::vector<Host> &hosts, const QString &pidFile)
{
    QStringList dnsmasq{u"PATH=$PATH:/usr/sbin:/sbin dnsmasq --keep-in-foreground --no-resolv --no-hosts"_s,
                        u"--bind-interfaces --listen-address=127.0.0.53 --port=53 --pid-file="_s + pidFile};
    for (const Host &h : hosts) {
        const QStringList octets = h.address.split(u'.');
        dnsmasq << u"--ptr-record=%1.%2.%3.%4.in-addr.arpa,%5"_s.arg(octets[3], octets[2], octets[1], octets[0], h.name)
                << u"--host-record=%1,%2"_s.arg(h.name, h.address);
    }
    return dnsmasq.join(u' ');
}

// The first lines of a scenario in a fresh namespace: the resolver
// configuration pointed at the namespace's dnsmasq, which is then started (and
// ended with the script). Pings to an address are dropped with dropPing.arg(address).
QStringList namespacePrologue(const test::ScopedSandbox &box, const std::vector<Host> &hosts)
{
    const QString resolv = box.path(u"resolv.conf"_s);
    if (!WriteFileAtomically(resolv, "nameserver 127.0.0.53\n"))
        return {u"false"_s};
    const QString pid = box.path(u"dnsmasq.pid"_s);
    return {
        u"set -e"_s,
        u"mount --make-rprivate /"_s,
        u"mount --bind "_s + resolv + u" /etc/resolv.conf"_s,
        u"ip link set lo up"_s,
        u"nft add table ip valmora"_s,
        u"nft add chain ip valmora in '{ type filter hook input priority 0 ; }'"_s,
        dnsmasqCommand(hosts, pid) + u" &"_s,
        u"trap 'kill $! 2>/dev/null' EXIT"_s,
        u"for i in $(seq 50); do [ -s "_s + pid + u" ] && break; sleep 0.1; done"_s,
    };
}

// Dropped on the way in, so the ping waits out its whole time-out as for a
// computer that is switched off.
const QString dropPing = u"nft add rule ip valmora in ip daddr %1 icmp type echo-request drop"_s;

// The states of one `scan --json` output, by computer name.
std::map<QString, int> states(const QByteArray &json)
{
    std::map<QString, int> result;
    const QJsonArray computers = QJsonDocument::fromJson(json).object().value(u"Computers"_s).toArray();
    for (const QJsonValue &c : computers)
        result[c.toObject().value(u"Name"_s).toString()] = c.toObject().value(u"State"_s).toInt();
    return result;
}

// The "Error" of every computer of one `scan --json` output.
std::map<QString, QJsonValue> errors(const QByteArray &json)
{
    std::map<QString, QJsonValue> result;
    const QJsonArray computers = QJsonDocument::fromJson(json).object().value(u"Computers"_s).toArray();
    for (const QJsonValue &c : computers)
        result[c.toObject().value(u"Name"_s).toString()] = c.toObject().value(u"Error"_s);
    return result;
}

} // namespace

TEST(EndToEnd, OneCycleGivesEveryHostItsStateAndKeepsTheLastReadout)
{
    if (const QString why = scenarioUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();

    test::ScopedSandbox box;
    const QString dataFolder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
    const std::vector<Host> hosts(std::begin(kHosts), std::end(kHosts));
    const QString scan = QString::fromUtf8(VALMORA_CLI) + u" scan --source ip --ranges 127.0.0.10-127.0.0.15"
                                                           " --dns-server 127.0.0.53 --json --recordings "_s
        + test::OwnFixture(u"network"_s);
    const QString good = dataFolder + u"good.valmora.test.wci"_s;
    const QString script = (namespacePrologue(box, hosts) + QStringList{
        dropPing.arg(u"127.0.0.14"_s),
        u"t0=$(date +%s%N)"_s,
        scan + u" > "_s + box.path(u"first.json"_s) + u" 2> "_s + box.path(u"first.err"_s) + u" || true"_s,
        u"t1=$(date +%s%N)"_s,
        u"cp "_s + good + u" "_s + box.path(u"good-after-first.wci"_s),
        dropPing.arg(u"127.0.0.10"_s),
        u"t2=$(date +%s%N)"_s,
        scan + u" > "_s + box.path(u"second.json"_s) + u" 2> "_s + box.path(u"second.err"_s) + u" || true"_s,
        u"t3=$(date +%s%N)"_s,
        QString::fromUtf8(VALMORA_CLI) + u" check refused.valmora.test --recordings "_s + test::OwnFixture(u"network"_s)
            + u" > "_s + box.path(u"check.txt"_s) + u" 2>/dev/null || true"_s,
        u"echo \"cycle 1: $(( (t1 - t0) / 1000000 )) ms, cycle 2: $(( (t3 - t2) / 1000000 )) ms\""_s,
    }).join(u'\n');

    const QString failed = runScenario(script, 120000);
    ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();

    const std::map<QString, int> first = states(*ReadWholeFile(box.path(u"first.json"_s)));
    const std::map<QString, int> expected{{u"good.valmora.test"_s, 5},    {u"failing.valmora.test"_s, 1},
                                          {u"nosmart.valmora.test"_s, 3}, {u"refused.valmora.test"_s, 2},
                                          {u"silent.valmora.test"_s, 4}};
    EXPECT_EQ(first, expected);
    EXPECT_TRUE(QFile::exists(dataFolder + u"failing.valmora.test.wci"_s));
    EXPECT_TRUE(QFile::exists(dataFolder + u"nosmart.valmora.test.wci"_s));
    EXPECT_TRUE(QFile::exists(dataFolder + u"silent.valmora.test.wci!"_s));
    EXPECT_FALSE(QFile::exists(dataFolder + u"silent.valmora.test.wci"_s));

    // Every computer that is not Good says why; a failed read reaches the log
    // once, not again in the next cycle, as the reason survives in the state file.
    const QString refusal = u"media (Win32_PhysicalMedia of root\\CIMV2): The RPC server is unavailable."_s;
    std::map<QString, QJsonValue> why = errors(*ReadWholeFile(box.path(u"first.json"_s)));
    EXPECT_TRUE(why[u"good.valmora.test"_s].isNull());
    EXPECT_EQ(why[u"refused.valmora.test"_s].toString(), refusal);
    EXPECT_TRUE(why[u"silent.valmora.test"_s].toString().startsWith(u"no echo reply to the ping"_s));
    EXPECT_TRUE(why[u"failing.valmora.test"_s].toString().startsWith(u"flagged drive: "_s));
    EXPECT_TRUE(why[u"nosmart.valmora.test"_s].toString().startsWith(u"S.M.A.R.T. data ("_s));
    const QString logged = u"Place: 2002. refused.valmora.test: "_s + refusal;
    EXPECT_TRUE(QString::fromUtf8(*ReadWholeFile(box.path(u"first.err"_s))).contains(logged));
    EXPECT_FALSE(QString::fromUtf8(*ReadWholeFile(box.path(u"second.err"_s))).contains(u"Place: 2002. refused"_s));
    EXPECT_FALSE(QString::fromUtf8(*ReadWholeFile(box.path(u"first.err"_s))).contains(u"Place: 2002. silent"_s));
    const QString checked = QString::fromUtf8(*ReadWholeFile(box.path(u"check.txt"_s)));
    EXPECT_TRUE(checked.contains(u"refused.valmora.test: RPC server unavailable\nReason: "_s + refusal + u'\n'))
        << checked.toStdString();

    // "good" stopped answering: unavailable now, its last readout untouched.
    const std::map<QString, int> second = states(*ReadWholeFile(box.path(u"second.json"_s)));
    EXPECT_EQ(second.at(u"good.valmora.test"_s), 4);
    EXPECT_EQ(second.at(u"failing.valmora.test"_s), 1);
    EXPECT_EQ(*ReadWholeFile(good), *ReadWholeFile(box.path(u"good-after-first.wci"_s)));
    EXPECT_TRUE(QFile::exists(good + u'!'));
    TDriveList kept;
    kept.LoadFromFile(good);
    ASSERT_EQ(kept.Count(), 1);
    EXPECT_GT(kept.ReadoutTime, 0.0);
}

TEST(EndToEnd, FortyHostsHalfSilentGiveTheSameStatesOneAtATimeAndAtOnce)
{
    if (const QString why = scenarioUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();

    test::ScopedSandbox box;
    // Every second host drops pings; the others answer from one of the four recordings.
    std::vector<Host> hosts;
    std::map<QString, int> expected;
    const QString recordings = box.path(u"recordings"_s);
    ASSERT_TRUE(QDir().mkpath(recordings));
    QStringList drops;
    for (int i = 1; i <= 40; ++i) {
        const Host h{u"127.0.1.%1"_s.arg(i), u"host%1.valmora.test"_s.arg(i, 2, 10, QChar(u'0'))};
        hosts.push_back(h);
        const int kind = (i / 2) % 4;
        const QString fixture = test::OwnFixture(u"network/%1.valmora.test.json"_s.arg(QLatin1StringView(kKinds[kind])));
        ASSERT_TRUE(QFile::copy(fixture, recordings + u'/' + h.name + u".json"_s));
        if (i % 2 == 0)
            drops.append(dropPing.arg(h.address));
        expected[h.name] = i % 2 == 0 ? 4 : kKindStates[kind];
    }
    // Each run with a data folder of its own, so neither sees the other's readouts.
    const auto scan = [&](const QString &label, const QString &atOnce) -> QString {
        return u"VALMORA_COMMON_APPDATA="_s + box.path(label) + u" "_s + QString::fromUtf8(VALMORA_CLI)
            + u" scan --source ip --ranges 127.0.1.1-127.0.1.40 --dns-server 127.0.0.53 --json --recordings "_s
            + recordings + atOnce + u" > "_s + box.path(label + u".json"_s) + u" 2>/dev/null || true"_s;
    };
    const QString script = (namespacePrologue(box, hosts) + drops + QStringList{
        u"t0=$(date +%s%N)"_s,
        scan(u"one"_s, u" --at-once 1"_s),
        u"t1=$(date +%s%N)"_s,
        scan(u"default"_s, QString()),
        u"t2=$(date +%s%N)"_s,
        u"echo \"40 hosts, 20 silent: --at-once 1 $(( (t1 - t0) / 1000000 )) ms, default $(( (t2 - t1) / 1000000 )) ms\""_s,
    }).join(u'\n');

    const QString failed = runScenario(script, 240000);
    ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();

    EXPECT_EQ(states(*ReadWholeFile(box.path(u"one.json"_s))), expected);
    EXPECT_EQ(states(*ReadWholeFile(box.path(u"default.json"_s))), expected);
}

TEST(EndToEnd, AtOnceOutsideItsRangeIsAUsageError)
{
    test::ScopedSandbox box;
    const std::pair<QStringList, QString> cases[] = {
        {{u"check"_s, u"--at-once"_s, u"0"_s, u"pc"_s}, u"\"0\""_s},
        {{u"check"_s, u"--at-once=257"_s, u"pc"_s}, u"\"257\""_s},
        {{u"scan"_s, u"--source"_s, u"this"_s, u"--at-once"_s, u"many"_s}, u"\"many\""_s},
        {{u"scan"_s, u"--at-once"_s}, u"needs a value"_s},
    };
    for (const auto &[arguments, named] : cases) {
        QProcess cli;
        cli.start(QString::fromUtf8(VALMORA_CLI), arguments);
        ASSERT_TRUE(cli.waitForFinished(30000));
        const QString error = QString::fromUtf8(cli.readAllStandardError());
        EXPECT_EQ(cli.exitCode(), 2) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(error.contains(u"--at-once"_s) && error.contains(named)) << error.toStdString();
    }
}
