#include "FakeSysfs.h"
#include "TestSupport.h"

#include "drives/local/LocalWmiProvider.h"
#include "foundation/Environment.h"
#include "foundation/LogSystem.h"

#include <gtest/gtest.h>

#include <map>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using valmora::drives::local::TLocalWmiProvider;
using valmora::drives::local::TSmartSectors;
using valmora::drives::EWmiError;
using valmora::drives::TWmiInstances;

namespace {

// Sectors by device path, counting the reads; a path in `refused` fails as a
// device opened without rights does, one in `failing` as libatasmart failing
// on a drive does, with the reason given.
class FakeSmartSource final : public drives::local::TSmartSource
{
public:
    drives::local::TSmartReading ReadSectors(const QString &devicePath) override
    {
        ++reads;
        if (refused.contains(devicePath))
            throw EWmiError(u"Cannot open \"%1\": Permission denied"_s.arg(devicePath));
        if (const auto f = failing.find(devicePath); f != failing.end())
            return {std::nullopt, f->second};
        if (const auto it = sectors.find(devicePath); it != sectors.end())
            return {it->second, QString()};
        return {};
    }
    std::map<QString, TSmartSectors> sectors;
    std::map<QString, QString> failing;
    QStringList refused;
    int reads = 0;
};

TSmartSectors Numbered(char fill)
{
    return {QByteArray(512, fill), QByteArray(512, static_cast<char>(fill + 1))};
}

TWmiInstances Query(TLocalWmiProvider &p, const QString &nameSpace, const QString &cls)
{
    p.Connect(u"."_s, nameSpace, QString(), QString());
    return p.Query(u"."_s, nameSpace, QString(), QString(), u"SELECT * FROM "_s + cls);
}

} // namespace

TEST(LocalProvider, DiskDrivesFromSysfs)
{
    test::FakeSysfs tree;
    TLocalWmiProvider provider(tree.sys(), tree.dev(), std::make_unique<FakeSmartSource>());
    const TWmiInstances drives = Query(provider, u"root\\CIMV2"_s, u"Win32_DiskDrive"_s);
    ASSERT_EQ(drives.size(), 4u);
    QStringList names;
    for (const auto &d : drives)
        names << d.ReadText(u"Name"_s);
    EXPECT_EQ(names, (QStringList{tree.dev() + u"/nvme0n1"_s, tree.dev() + u"/sda"_s, tree.dev() + u"/sdb"_s,
                                  tree.dev() + u"/vda"_s}));

    struct Expect
    {
        QString model, maker, interface, media, firmware;
        qint64 size, bytesPerSector, partitions;
    };
    const Expect expected[] = {
        {u"SAMSUNG MZVLB512HAJQ-000L7"_s, u"Samsung"_s, u"SCSI"_s, u"Fixed hard disk media"_s, u"4L2QEXA7"_s,
         1000215216LL * 512, 4096, 3},
        {u"FUJITSU MHY2120BH"_s, u"Fujitsu"_s, u"IDE"_s, u"Fixed hard disk media"_s, u"0084"_s, 234441648LL * 512,
         512, 2},
        {u"Generic Flash Disk"_s, u"Generic"_s, u"USB"_s, u"Removable Media"_s, u"8.07"_s, 15728640LL * 512, 512, 1},
        {u"VirtIO Block Device"_s, u"Red Hat"_s, u"SCSI"_s, u"Fixed hard disk media"_s, QString(), 536870912LL * 512,
         512, 0},
    };
    QStringList ids;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto &d = drives[i];
        const Expect &e = expected[i];
        SCOPED_TRACE(e.model.toStdString());
        EXPECT_EQ(d.ReadText(u"Model"_s), e.model);
        EXPECT_EQ(d.ReadText(u"Manufacturer"_s), e.maker);
        EXPECT_EQ(d.ReadText(u"InterfaceType"_s), e.interface);
        EXPECT_EQ(d.ReadText(u"MediaType"_s), e.media);
        EXPECT_EQ(d.ReadText(u"FirmwareRevision"_s), e.firmware);
        EXPECT_EQ(d.ReadInt64(u"Size"_s), e.size);
        EXPECT_EQ(d.ReadInt64(u"BytesPerSector"_s), e.bytesPerSector);
        EXPECT_EQ(d.ReadInt64(u"Partitions"_s), e.partitions);
        EXPECT_EQ(d.ReadText(u"Status"_s), u"OK"_s);
        EXPECT_EQ(d.ReadText(u"DeviceId"_s), d.ReadText(u"Name"_s));
        // Geometry as Windows derives it for a device that gives none.
        const qint64 cylinders = e.size / (255 * 63 * e.bytesPerSector);
        EXPECT_EQ(d.ReadInt64(u"TotalHeads"_s), 255);
        EXPECT_EQ(d.ReadInt64(u"TracksPerCylinder"_s), 255);
        EXPECT_EQ(d.ReadInt64(u"SectorsPerTrack"_s), 63);
        EXPECT_EQ(d.ReadInt64(u"TotalCylinders"_s), cylinders);
        EXPECT_EQ(d.ReadInt64(u"TotalTracks"_s), cylinders * 255);
        EXPECT_EQ(d.ReadInt64(u"TotalSectors"_s), cylinders * 255 * 63);
        ids << d.ReadText(u"PNPDeviceID"_s);
    }
    // Identifiers are unique, and none begins another, so S.M.A.R.T. instances
    // ("<id>_0") find their own drive only.
    for (const QString &a : ids)
        for (const QString &b : ids)
            if (&a != &b) {
                EXPECT_FALSE(QString(b + u"_0"_s).startsWith(a)) << qPrintable(a) << " " << qPrintable(b);
            }

    // Stable: the same tree gives the same identifiers.
    TLocalWmiProvider again(tree.sys(), tree.dev(), std::make_unique<FakeSmartSource>());
    EXPECT_EQ(Query(again, u"root\\cimv2"_s, u"win32_diskdrive"_s)[1].ReadText(u"PNPDeviceID"_s), ids[1]);
}

TEST(LocalProvider, PhysicalMediaSerials)
{
    test::FakeSysfs tree;
    TLocalWmiProvider provider(tree.sys(), tree.dev(), std::make_unique<FakeSmartSource>());
    const TWmiInstances media = Query(provider, u"root\\CIMV2"_s, u"Win32_PhysicalMedia"_s);
    ASSERT_EQ(media.size(), 4u);
    const std::pair<QString, std::optional<QString>> expected[] = {
        {u"/nvme0n1"_s, u"S3TNNX0K123456"_s},
        {u"/sda"_s, u"K434T81257SL"_s},
        {u"/sdb"_s, std::nullopt},
        {u"/vda"_s, u"overlayblk"_s},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(media[i].ReadText(u"Tag"_s), tree.dev() + expected[i].first);
        const drives::TWmiValue *serial = media[i].Find(u"SerialNumber"_s);
        ASSERT_NE(serial, nullptr);
        if (expected[i].second) {
            EXPECT_EQ(std::get<QString>(*serial), *expected[i].second);
        } else {
            EXPECT_TRUE(std::holds_alternative<drives::TWmiNull>(*serial));
        }
    }
}

TEST(LocalProvider, SmartSectorsOfAtaDrivesOnly)
{
    test::FakeSysfs tree;
    auto source = std::make_unique<FakeSmartSource>();
    FakeSmartSource &smart = *source;
    smart.sectors[tree.dev() + u"/sda"_s] = Numbered(0x10);
    smart.sectors[tree.dev() + u"/nvme0n1"_s] = Numbered(0x20); // never asked: no ATA
    TLocalWmiProvider provider(tree.sys(), tree.dev(), std::move(source));
    const QString sdaId = Query(provider, u"root\\CIMV2"_s, u"Win32_DiskDrive"_s)[1].ReadText(u"PNPDeviceID"_s);

    const TWmiInstances data = Query(provider, u"root\\WMI"_s, u"MSStorageDriver_FailurePredictData"_s);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].ReadText(u"InstanceName"_s), sdaId + u"_0"_s);
    EXPECT_EQ(data[0].ReadInt32(u"Length"_s), 512);
    EXPECT_EQ(data[0].ReadArrayByte(u"VendorSpecific"_s, 511), 0x10);
    EXPECT_THROW(data[0].ReadArrayByte(u"VendorSpecific"_s, 512), EWmiError);
    const TWmiInstances thresholds = Query(provider, u"root\\WMI"_s, u"MSStorageDriver_FailurePredictThresholds"_s);
    ASSERT_EQ(thresholds.size(), 1u);
    EXPECT_EQ(thresholds[0].ReadText(u"InstanceName"_s), sdaId + u"_0"_s);
    EXPECT_EQ(thresholds[0].ReadArrayByte(u"VendorSpecific"_s, 0), 0x11);
    // One reading opens each drive once: sda and sdb, for both queries.
    EXPECT_EQ(smart.reads, 2);
}

TEST(LocalProvider, FailuresOfTheSmartQueries)
{
    test::FakeSysfs tree;
    {
        // No drive with S.M.A.R.T.: the class cannot be queried, as on Windows.
        TLocalWmiProvider provider(tree.sys(), tree.dev(), std::make_unique<FakeSmartSource>());
        for (const QString &cls : {u"MSStorageDriver_FailurePredictData"_s, u"MSStorageDriver_FailurePredictThresholds"_s})
            EXPECT_THROW(Query(provider, u"root\\WMI"_s, cls), EWmiError) << qPrintable(cls);
    }
    {
        // A drive that cannot be opened for lack of rights fails the query, even
        // when another drive could be read.
        auto source = std::make_unique<FakeSmartSource>();
        source->sectors[tree.dev() + u"/sdb"_s] = Numbered(1);
        source->refused << tree.dev() + u"/sda"_s;
        TLocalWmiProvider provider(tree.sys(), tree.dev(), std::move(source));
        EXPECT_THROW(Query(provider, u"root\\WMI"_s, u"MSStorageDriver_FailurePredictData"_s), EWmiError);
    }
    TLocalWmiProvider provider(tree.sys(), tree.dev(), std::make_unique<FakeSmartSource>());
    EXPECT_THROW(provider.Connect(u"."_s, u"root\\default"_s, QString(), QString()), EWmiError);
    EXPECT_THROW(Query(provider, u"root\\CIMV2"_s, u"Win32_Process"_s), EWmiError);
    // A machine without a block folder has no disks.
    TLocalWmiProvider empty(tree.root() + u"/nothing"_s, tree.dev(), std::make_unique<FakeSmartSource>());
    EXPECT_TRUE(Query(empty, u"root\\CIMV2"_s, u"Win32_DiskDrive"_s).empty());
}

// The real blobs through libatasmart's own loader.
TEST(LocalProvider, LibatasmartBlobs)
{
    const QString fixtures = test::SharedFixtures();
    if (fixtures.isEmpty())
        GTEST_SKIP() << "shared fixtures absent: no libatasmart blobs";
    for (const char *drive : {"FUJITSU_MHY2120BH--0084000D", "ST9100821AS--3.CME", "Maxtor_96147H8--BAC51KJ0",
                              "WDC_WD5000AAKS--00TMA0-12.01C01"}) {
        SCOPED_TRACE(drive);
        const QString dir = fixtures + u"/smart/"_s + QString::fromLatin1(drive) + u'/';
        QFile blob(dir + u"blob.bin"_s), data(dir + u"data.bin"_s), thresholds(dir + u"thresholds.bin"_s);
        ASSERT_TRUE(blob.open(QIODevice::ReadOnly) && data.open(QIODevice::ReadOnly)
                    && thresholds.open(QIODevice::ReadOnly));
        drives::local::TAtaSmartBlobSource source;
        source.Add(u"/dev/sda"_s, blob.readAll());
        const auto reading = source.ReadSectors(u"/dev/sda"_s);
        ASSERT_TRUE(reading.sectors) << reading.failure.toStdString();
        const auto &sectors = reading.sectors;
        EXPECT_EQ(sectors->data, data.readAll());
        EXPECT_EQ(sectors->thresholds, thresholds.readAll());
        EXPECT_FALSE(source.ReadSectors(u"/dev/sdb"_s).sectors);
    }
    drives::local::TAtaSmartBlobSource damaged;
    damaged.Add(u"/dev/sda"_s, QByteArray("IDFY\x00\x00\x00\x02xy", 10));
    EXPECT_THROW(damaged.ReadSectors(u"/dev/sda"_s), EWmiError);
}

namespace {

// A log of its own in a sandbox, with the entries as the terminal would show them.
struct CapturedLog
{
    CapturedLog()
    {
        log.SetLogFolder(TWindowsFolders::CommonAppDataFolder(u"Log"_s));
        log.SetEcho([this](const QString &line) { lines.append(line); });
    }
    test::ScopedSandbox box;
    TXLogSystem log;
    QStringList lines;
};

} // namespace

TEST(LocalProvider, DrivesThatCannotBeReadAreLoggedWithTheReason)
{
    test::FakeSysfs tree;
    const QString sda = tree.dev() + u"/sda"_s, sdb = tree.dev() + u"/sdb"_s;
    const QString data = u"MSStorageDriver_FailurePredictData"_s;
    {
        SCOPED_TRACE("one drive fails, the other is read");
        CapturedLog captured;
        auto source = std::make_unique<FakeSmartSource>();
        source->failing[sda] = u"\"%1\" did not answer IDENTIFY DEVICE: Input/output error"_s.arg(sda);
        source->sectors[sdb] = Numbered(1);
        TLocalWmiProvider provider(tree.sys(), tree.dev(), std::move(source), captured.log);
        EXPECT_EQ(Query(provider, u"root\\WMI"_s, data).size(), 1u);
        ASSERT_EQ(captured.lines.size(), 1) << captured.lines.join(u'\n').toStdString();
        EXPECT_TRUE(captured.lines[0].endsWith(
            u": Place: 2004. \"%1\" did not answer IDENTIFY DEVICE: Input/output error"_s.arg(sda)))
            << captured.lines[0].toStdString();
    }
    {
        SCOPED_TRACE("no drive can be read");
        CapturedLog captured;
        auto source = std::make_unique<FakeSmartSource>();
        source->failing[sda] = u"Cannot open \"%1\" for ATA commands: No such device"_s.arg(sda);
        source->failing[sdb] = u"Cannot open \"%1\" for ATA commands: No such device"_s.arg(sdb);
        TLocalWmiProvider provider(tree.sys(), tree.dev(), std::move(source), captured.log);
        EXPECT_THROW(Query(provider, u"root\\WMI"_s, data), EWmiError);
        ASSERT_EQ(captured.lines.size(), 2) << captured.lines.join(u'\n').toStdString();
        EXPECT_TRUE(captured.lines[0].contains(sda) && captured.lines[1].contains(sdb));
    }
    {
        SCOPED_TRACE("a failure that ends the reading");
        CapturedLog captured;
        auto source = std::make_unique<FakeSmartSource>();
        source->refused << sda;
        TLocalWmiProvider provider(tree.sys(), tree.dev(), std::move(source), captured.log);
        EXPECT_THROW(Query(provider, u"root\\WMI"_s, data), EWmiError);
        ASSERT_EQ(captured.lines.size(), 1) << captured.lines.join(u'\n').toStdString();
        EXPECT_TRUE(captured.lines[0].endsWith(u"Cannot open \"%1\": Permission denied"_s.arg(sda)));
    }
    {
        SCOPED_TRACE("libatasmart itself, on a device node that is no block device");
        QFile node(sda);
        ASSERT_TRUE(node.open(QIODevice::WriteOnly));
        node.close();
        const auto reading = drives::local::TAtaSmartSource().ReadSectors(sda);
        EXPECT_FALSE(reading.sectors);
        EXPECT_TRUE(reading.failure.startsWith(u"Cannot open \"%1\" for ATA commands: "_s.arg(sda)))
            << reading.failure.toStdString();
        EXPECT_GT(reading.failure.size(), u"Cannot open \"%1\" for ATA commands: "_s.arg(sda).size());
    }
}
