// The drive reader over this computer's provider (on a fake sysfs tree with
// real libatasmart blobs) and over recordings.
#include "SectorBuilder.h"
#include "TestSupport.h"
#include "drives/local/FakeSysfs.h"

#include "drivedata/Verdicts.h"
#include "drivedata/WmiDriveReader.h"
#include "drives/WmiProviders.h"
#include "drives/local/LocalWmiProvider.h"
#include "drives/recordings/WmiRecordings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using valmora::drives::local::TLocalWmiProvider;

namespace {

std::optional<QByteArray> Blob(const char *drive)
{
    const QString fixtures = test::SharedFixtures();
    if (fixtures.isEmpty())
        return std::nullopt;
    return test::ReadBytes(fixtures + u"/smart/"_s + QString::fromLatin1(drive) + u"/blob.bin"_s);
}

void WriteJson(const QString &path, const QJsonObject &object)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(object).toJson());
}

// Sectors handed over as they are, for recordings made without the fixtures.
class FixedSource final : public drives::local::TSmartSource
{
public:
    explicit FixedSource(QString path, drives::local::TSmartSectors sectors)
        : m_path(std::move(path))
        , m_sectors(std::move(sectors))
    {
    }
    drives::local::TSmartReading ReadSectors(const QString &devicePath) override
    {
        if (devicePath != m_path)
            return {};
        return {m_sectors, QString()};
    }

private:
    QString m_path;
    drives::local::TSmartSectors m_sectors;
};

drives::local::TSmartSectors FailingSectors()
{
    test::Sector data, thresholds;
    data.Attribute(0, 1, 0x000F, 100, 100).Attribute(1, 5, 0x0033, 20, 20, {0x40, 0x01});
    thresholds.Threshold(0, 1, 36).Threshold(1, 5, 36);
    auto bytes = [](const test::Sector &s) {
        return QByteArray(reinterpret_cast<const char *>(s.bytes.data()), 512);
    };
    return {bytes(data), bytes(thresholds)};
}

} // namespace

TEST(LocalReading, FakeMachineWithARealAtaDrive)
{
    const auto blob = Blob("FUJITSU_MHY2120BH--0084000D");
    if (!blob)
        GTEST_SKIP() << "shared fixtures absent: no libatasmart blob";
    test::FakeSysfs tree;
    auto source = std::make_unique<drives::local::TAtaSmartBlobSource>();
    source->Add(tree.dev() + u"/sda"_s, *blob);
    TLocalWmiProvider provider(tree.sys(), tree.dev(), std::move(source));
    TDriveList list;
    EXPECT_EQ(ReadComputerDrives(provider, u"localhost"_s, list, QString(), QString()), kReadGood);
    ASSERT_EQ(list.Count(), 4);
    const TDriveInformation &sda = list.Items(1);
    EXPECT_EQ(sda.Name, tree.dev() + u"/sda"_s);
    EXPECT_EQ(sda.SerialNumber, u"K434T81257SL"_s);
    EXPECT_EQ(sda.AttributeCount, 21);
    EXPECT_EQ(sda.AttrId[20], 240);
    EXPECT_EQ(sda.AttrThreshold[0], 46);
    EXPECT_EQ(sda.TemperatureCurrent, 28);
    EXPECT_FALSE(sda.HasFlaggedAttribute());
    // The blob's SMART RETURN STATUS: the drive does not predict its failure.
    const drives::TWmiInstances status = provider.Query(u"localhost"_s, u"root\\WMI"_s, QString(), QString(),
                                                     u"SELECT * FROM MSStorageDriver_FailurePredictStatus"_s);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].ReadText(u"InstanceName"_s), sda.PNPDeviceID + u"_0"_s);
    EXPECT_EQ(status[0].ReadInt64(u"PredictFailure"_s), 0);
    EXPECT_EQ(sda.Status, u"OK"_s);
    for (int i : {0, 2, 3})
        EXPECT_EQ(list.Items(i).AttributeCount, 0);
}

TEST(LocalReading, NoSmartOrNoRights)
{
    test::FakeSysfs tree;
    {
        // Virtual and NVMe disks only report themselves: "S.M.A.R.T not supported".
        TLocalWmiProvider provider(tree.sys(), tree.dev(), std::make_unique<drives::local::TAtaSmartBlobSource>());
        TDriveList list;
        EXPECT_EQ(ReadComputerDrives(provider, u"."_s, list, QString(), QString()), kReadNoSmart);
        EXPECT_EQ(list.Count(), 4);
        EXPECT_EQ(list.Items(3).Size, 536870912LL * 512);
    }
    if (::geteuid() != 0) {
        // The real source on a device file that may not be opened.
        QFile::setPermissions(tree.dev() + u"/sda"_s, QFileDevice::Permissions());
        TLocalWmiProvider provider(tree.sys(), tree.dev(), std::make_unique<drives::local::TAtaSmartSource>());
        TDriveList list;
        EXPECT_EQ(ReadComputerDrives(provider, u"."_s, list, QString(), QString()), kReadNoSmart);
        EXPECT_EQ(list.Count(), 4);
    }
}

namespace {

// A drive that fails while its S.M.A.R.T. data is read, as a dying disk does.
class FailingReadSource final : public drives::local::TSmartSource
{
public:
    explicit FailingReadSource(QString device)
        : m_device(std::move(device))
    {
    }
    drives::local::TSmartReading ReadSectors(const QString &devicePath) override
    {
        if (devicePath == m_device)
            throw drives::EWmiError(u"%1: SMART READ DATA failed: Input/output error"_s.arg(devicePath));
        return {};
    }

private:
    QString m_device;
};

} // namespace

TEST(LocalReading, UnreadableDisksGiveTheirReason)
{
    test::FakeSysfs tree;
    const QString sda = tree.dev() + u"/sda"_s, sdb = tree.dev() + u"/sdb"_s;
    const QString stage = u"S.M.A.R.T. data (MSStorageDriver_FailurePredictData of root\\WMI): "_s;
    struct Row
    {
        const char *what;
        std::function<std::unique_ptr<drives::local::TSmartSource>()> source;
        QString reason;
    };
    const Row rows[] = {
        // libatasmart itself on device nodes that speak no ATA.
        {"no drive answers ATA commands", [] { return std::make_unique<drives::local::TAtaSmartSource>(); },
         stage + u"Cannot open \"%1\" for ATA commands: "_s.arg(sda)},
        {"SMART READ DATA fails", [&] { return std::make_unique<FailingReadSource>(sdb); },
         stage + u"%1: SMART READ DATA failed: Input/output error"_s.arg(sdb)},
    };
    for (const QString &node : {sda, sdb}) {
        QFile f(node);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        TLocalWmiProvider provider(tree.sys(), tree.dev(), row.source());
        TDriveList list;
        QString reason;
        EXPECT_EQ(ReadComputerDrives(provider, u"."_s, list, QString(), QString(), &reason), kReadNoSmart);
        EXPECT_EQ(list.Count(), 4);
        EXPECT_TRUE(reason.startsWith(row.reason)) << reason.toStdString();
    }
}

// record -> read gives the same drives as reading directly.
TEST(Recordings, RoundTrip)
{
    test::FakeSysfs tree;
    auto provider = [&] {
        return TLocalWmiProvider(tree.sys(), tree.dev(),
                                 std::make_unique<FixedSource>(tree.dev() + u"/sda"_s, FailingSectors()));
    };
    TLocalWmiProvider direct = provider();
    TDriveList expected;
    EXPECT_EQ(ReadComputerDrives(direct, u"PC7"_s, expected, QString(), QString()), kReadFlagged);

    TLocalWmiProvider recorded = provider();
    const QJsonObject recording = drives::recordings::RecordComputer(recorded, u"PC7"_s, QString(), QString());
    test::ScopedSandbox sandbox;
    WriteJson(sandbox.path(u"pc7.json"_s), recording); // found without regard to letter case

    drives::recordings::TWmiRecordingProvider replay(sandbox.path());
    TDriveList list;
    EXPECT_EQ(ReadComputerDrives(replay, u"\\\\PC7"_s, list, u"u"_s, u"p"_s), kReadFlagged);
    ASSERT_EQ(list.Count(), expected.Count());
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.Items(i), expected.Items(i)) << i;
    EXPECT_EQ(AttributeStateText(list.Items(1).AttrState[1]), u"Failing"_s);
    // Null stays null: the USB stick has no serial number.
    const QJsonArray media =
        recording[u"Namespaces"_s][u"root\\CIMV2"_s][u"Classes"_s][u"Win32_PhysicalMedia"_s].toArray();
    ASSERT_EQ(media.size(), 4);
    EXPECT_TRUE(media[2].toObject().value(u"SerialNumber"_s).isNull());
}

// A recorded computer whose drive has 529 pending sectors is flagged with
// the reason; with "SectorWarnings" off it reads as before. A drive whose
// SMART RETURN STATUS reports a threshold exceeded is flagged by itself.
TEST(Recordings, PendingSectorsAndTheDrivesOwnVerdict)
{
    test::Sector data, thresholds;
    data.Attribute(0, 1, 0x000F, 100, 100).Attribute(1, 197, 0x0032, 100, 100, {0x11, 0x02});
    thresholds.Threshold(0, 1, 36).Threshold(1, 197, 0);
    auto bytes = [](const test::Sector &s) { return QByteArray(reinterpret_cast<const char *>(s.bytes.data()), 512); };
    test::ScopedSandbox sandbox;
    test::FakeSysfs tree;
    for (const bool driveSaysGood : {true, false}) {
        TLocalWmiProvider local(tree.sys(), tree.dev(),
                                std::make_unique<FixedSource>(tree.dev() + u"/sda"_s,
                                                              drives::local::TSmartSectors{bytes(data), bytes(thresholds),
                                                                                      driveSaysGood}));
        const QString name = driveSaysGood ? u"pending"_s : u"predicting"_s;
        WriteJson(sandbox.path(name + u".json"_s), drives::recordings::RecordComputer(local, name, QString(), QString()));
    }
    drives::recordings::TWmiRecordingProvider replay(sandbox.path());
    TDriveList list;
    EXPECT_EQ(ReadComputerDrives(replay, u"pending"_s, list, QString(), QString()), kReadFlagged);
    const TDriveInformation &sda = list.Items(1);
    EXPECT_EQ(sda.State(1), TAttributeState::Warning);
    EXPECT_EQ(sda.AttrReason[1], u"529 sectors wait to be remapped"_s);
    EXPECT_TRUE(sda.DriveReason.isEmpty());

    TVerdictRules off;
    off.SectorWarnings = false;
    SetVerdictRules(off);
    EXPECT_EQ(ReadComputerDrives(replay, u"pending"_s, list, QString(), QString()), kReadGood);
    EXPECT_EQ(ReadComputerDrives(replay, u"predicting"_s, list, QString(), QString()), kReadFlagged);
    EXPECT_EQ(list.Items(1).Status, u"Pred Fail"_s);
    EXPECT_EQ(list.Items(1).DriveReason, u"the drive itself predicts its failure"_s);
    EXPECT_FALSE(list.Items(1).HasFlaggedAttribute());
    SetVerdictRules(TVerdictRules{});
}

TEST(Recordings, RecordedOutcomes)
{
    test::ScopedSandbox sandbox;
    test::FakeSysfs tree;
    TLocalWmiProvider local(tree.sys(), tree.dev(), std::make_unique<drives::local::TAtaSmartBlobSource>());
    const QJsonObject good = drives::recordings::RecordComputer(local, u"X"_s, QString(), QString());
    // This machine's tree has no S.M.A.R.T. drive: the failure is recorded.
    EXPECT_TRUE(good[u"Namespaces"_s][u"root\\WMI"_s][u"Classes"_s][u"MSStorageDriver_FailurePredictData"_s]
                    .toObject()
                    .contains(u"QueryError"_s));

    QJsonObject refused = good;
    QJsonObject namespaces = refused[u"Namespaces"_s].toObject();
    namespaces[u"root\\CIMV2"_s] = QJsonObject{{u"ConnectError"_s, u"The RPC server is unavailable."_s}};
    refused[u"Namespaces"_s] = namespaces;

    WriteJson(sandbox.path(u"nosmart.json"_s), good);
    WriteJson(sandbox.path(u"refused.json"_s), refused);
    QFile damaged(sandbox.path(u"damaged.json"_s));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("{ \"Namespaces\": ");
    damaged.close();

    struct Case
    {
        QString computer;
        int result;
        int drives;
    };
    for (const Case &c : {Case{u"nosmart"_s, kReadNoSmart, 4}, Case{u"refused"_s, kReadNoCimv2, 0},
                          Case{u"damaged"_s, kReadNoCimv2, 0}, Case{u"missing"_s, kReadNoCimv2, 0},
                          Case{u"../nosmart"_s, kReadNoCimv2, 0}}) {
        drives::recordings::TWmiRecordingProvider replay(sandbox.path());
        TDriveList list;
        EXPECT_EQ(ReadComputerDrives(replay, c.computer, list, QString(), QString()), c.result)
            << qPrintable(c.computer);
        EXPECT_EQ(list.Count(), c.drives) << qPrintable(c.computer);
    }
}

TEST(ProviderChoice, LocalRecordingsOrRemote)
{
    const QString host = QSysInfo::machineHostName();
    for (const QString &name : {u"."_s, u"localhost"_s, u"LocalHost"_s, host, host.toUpper(), host.section(u'.', 0, 0)})
        EXPECT_TRUE(drives::IsLocalComputerName(name)) << qPrintable(name);
    for (const QString &name : {u"otherpc"_s, u"10.0.0.7"_s, u"localhost2"_s, QString()})
        EXPECT_FALSE(drives::IsLocalComputerName(name)) << qPrintable(name);

    test::ScopedSandbox sandbox;
    EXPECT_NE(dynamic_cast<drives::recordings::TWmiRecordingProvider *>(
                  drives::ChooseWmiProvider(u"localhost"_s, sandbox.path()).get()),
              nullptr);
    EXPECT_NE(dynamic_cast<TLocalWmiProvider *>(drives::ChooseWmiProvider(u"."_s, QString()).get()), nullptr);

    // Any other computer is remote. One that refuses the connection reads as
    // "RPC server unavailable"; the address is on this machine's loopback and
    // the port a closed one, so nothing leaves the machine.
    qunsetenv("VALMORA_RECORDINGS");
    qputenv("VALMORA_WINRM_PORT", "9");
    TDriveList list;
    EXPECT_EQ(ReadComputerDrives(u"\\\\127.0.0.9"_s, list, u"dom\\u"_s, u"p"_s), kReadNoCimv2);
    EXPECT_EQ(list.ComputerName, u"\\\\127.0.0.9"_s);
    EXPECT_EQ(list.Count(), 0);
    const auto remote = drives::ChooseWmiProvider(u"127.0.0.9"_s, QString());
    EXPECT_EQ(dynamic_cast<TLocalWmiProvider *>(remote.get()), nullptr);
    EXPECT_EQ(dynamic_cast<drives::recordings::TWmiRecordingProvider *>(remote.get()), nullptr);
    try {
        auto services = remote->CreateLocator()->ConnectServer(u"127.0.0.9"_s, u"root\\CIMV2"_s, u"dom\\u"_s, u"p"_s);
        services->ExecQuery(u"SELECT * FROM Win32_DiskDrive"_s, u"WQL"_s, 32);
        ADD_FAILURE() << "a refused connection succeeded";
    } catch (const drives::EWmiError &e) {
        EXPECT_TRUE(e.message().contains(u"127.0.0.9"_s)) << qPrintable(e.message());
    }
    qunsetenv("VALMORA_WINRM_PORT");

    // $VALMORA_RECORDINGS points every name at the recordings.
    qputenv("VALMORA_RECORDINGS", sandbox.path().toLocal8Bit());
    EXPECT_EQ(drives::RecordingsFolderFromEnvironment(), sandbox.path());
    qunsetenv("VALMORA_RECORDINGS");
}

TEST(Recordings, SampleComputers)
{
    drives::recordings::TWmiRecordingProvider replay(test::OwnFixture(u"drivedata/recordings"_s));
    TDriveList failing;
    EXPECT_EQ(ReadComputerDrives(replay, u"FAILING-PC"_s, failing, QString(), QString()), kReadFlagged);
    ASSERT_EQ(failing.Count(), 1);
    const TDriveInformation &d = failing.Items(0);
    EXPECT_EQ(d.AttrId[1], 5);
    EXPECT_EQ(d.AttrRaw[1], 320);
    EXPECT_EQ(AttributeStateText(d.AttrState[1]), u"Failing"_s);
    EXPECT_EQ(d.SerialNumber, u"     WD-WCAPW0493929"_s);
    EXPECT_EQ(failing.ReadoutTime, 0); // no healthy drive: no readout time

    TDriveList unreachable;
    EXPECT_EQ(ReadComputerDrives(replay, u"UNREACHABLE-PC"_s, unreachable, QString(), QString()), kReadNoCimv2);
    EXPECT_EQ(unreachable.Count(), 0);
}
