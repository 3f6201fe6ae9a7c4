// One refresh cycle of valmora-cli against a small network that exists only in
// a namespace of the test's own: hosts are addresses of its loopback, names come
// from a dnsmasq there, pings to some hosts are dropped by a firewall rule, and
// every host answers the drive reading from its recording.
#include "drivedata/SmartTypes.h"
#include "foundation/Environment.h"
#include "foundation/TextFile.h"

#include "NetNamespace.h"
#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

struct Host
{
    QString address;
    QString name;
};

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

// The states of one `scan --json` output, by computer name.
std::map<QString, int> states(const QByteArray &json)
{
    std::map<QString, int> result;
    const QJsonArray computers = QJsonDocument::fromJson(json).object().value(u"Computers"_s).toArray();
    for (const QJsonValue &c : computers)
        result[c.toObject().value(u"Name"_s).toString()] = c.toObject().value(u"State"_s).toInt();
    return result;
}

} // namespace

TEST(EndToEnd, OneCycleGivesEveryHostItsStateAndKeepsTheLastReadout)
{
    if (const QString why = test::NetNamespaceUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    if (const QString why = missingTool(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();

    test::ScopedSandbox box;
    const QString dataFolder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
    const QString resolv = box.path(u"resolv.conf"_s);
    ASSERT_TRUE(WriteFileAtomically(resolv, "nameserver 127.0.0.53\n"));

    QStringList dnsmasq{u"dnsmasq --keep-in-foreground --no-resolv --no-hosts --bind-interfaces"_s,
                        u"--listen-address=127.0.0.53 --port=53 --pid-file="_s + box.path(u"dnsmasq.pid"_s)};
    for (const Host &h : kHosts) {
        const QStringList octets = h.address.split(u'.');
        dnsmasq << u"--ptr-record=%1.%2.%3.%4.in-addr.arpa,%5"_s.arg(octets[3], octets[2], octets[1], octets[0], h.name)
                << u"--host-record=%1,%2"_s.arg(h.name, h.address);
    }
    const QString scan = QString::fromUtf8(VALMORA_CLI) + u" scan --source ip --ranges 127.0.0.10-127.0.0.15"
                                                           " --dns-server 127.0.0.53 --json --recordings "_s
        + test::OwnFixture(u"network"_s);
    // Dropped on the way in, so the ping waits out its whole time-out as for a
    // computer that is switched off.
    const QString dropPing = u"nft add rule ip valmora in ip daddr %1 icmp type echo-request drop"_s;
    const QString good = dataFolder + u"good.valmora.test.wci"_s;
    const QString script = QStringList{
        u"set -e"_s,
        u"mount --make-rprivate /"_s,
        u"mount --bind "_s + resolv + u" /etc/resolv.conf"_s,
        u"ip link set lo up"_s,
        u"nft add table ip valmora"_s,
        u"nft add chain ip valmora in '{ type filter hook input priority 0 ; }'"_s,
        dropPing.arg(u"127.0.0.14"_s),
        u"PATH=$PATH:/usr/sbin:/sbin "_s + dnsmasq.join(u' ') + u" &"_s,
        u"trap 'kill $! 2>/dev/null' EXIT"_s,
        u"for i in $(seq 50); do [ -s "_s + box.path(u"dnsmasq.pid"_s) + u" ] && break; sleep 0.1; done"_s,
        u"t0=$(date +%s%N)"_s,
        scan + u" > "_s + box.path(u"first.json"_s) + u" || true"_s,
        u"t1=$(date +%s%N)"_s,
        u"cp "_s + good + u" "_s + box.path(u"good-after-first.wci"_s),
        dropPing.arg(u"127.0.0.10"_s),
        u"t2=$(date +%s%N)"_s,
        scan + u" > "_s + box.path(u"second.json"_s) + u" || true"_s,
        u"t3=$(date +%s%N)"_s,
        u"echo \"cycle 1: $(( (t1 - t0) / 1000000 )) ms, cycle 2: $(( (t3 - t2) / 1000000 )) ms\""_s,
    }.join(u'\n');

    QProcess run;
    run.start(u"unshare"_s, {u"--net"_s, u"--mount"_s, u"sh"_s, u"-c"_s, script});
    ASSERT_TRUE(run.waitForFinished(120000)) << "the scenario did not end in time";
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    std::printf("%s", run.readAllStandardOutput().constData()); // the cycles' wall times, for the record

    const std::map<QString, int> first = states(*ReadWholeFile(box.path(u"first.json"_s)));
    const std::map<QString, int> expected{{u"good.valmora.test"_s, 5},    {u"failing.valmora.test"_s, 1},
                                          {u"nosmart.valmora.test"_s, 3}, {u"refused.valmora.test"_s, 2},
                                          {u"silent.valmora.test"_s, 4}};
    EXPECT_EQ(first, expected) << run.readAllStandardError().toStdString();
    EXPECT_TRUE(QFile::exists(dataFolder + u"failing.valmora.test.wci"_s));
    EXPECT_TRUE(QFile::exists(dataFolder + u"nosmart.valmora.test.wci"_s));
    EXPECT_TRUE(QFile::exists(dataFolder + u"silent.valmora.test.wci!"_s));
    EXPECT_FALSE(QFile::exists(dataFolder + u"silent.valmora.test.wci"_s));

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
