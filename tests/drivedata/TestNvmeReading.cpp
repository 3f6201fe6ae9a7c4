// NVMe drives through the drive reader: this computer's (fake sysfs, health
// log pages as a controller gives them) and recorded Windows computers with
// the storage classes.
#include "HealthLogBuilder.h"
#include "SectorBuilder.h"
#include "TestSupport.h"
#include "drives/local/FakeSysfs.h"

#include "drivedata/Verdicts.h"
#include "drivedata/WmiDriveReader.h"
#include "drives/local/LocalWmiProvider.h"
#include "drives/recordings/WmiRecordings.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using valmora::drives::local::TLocalWmiProvider;
using valmora::drives::local::TNvmeLogPageSource;

namespace {

// The ATA disk sda of the fake tree with healthy sectors, or nothing.
class AtaSource final : public drives::local::TSmartSource
{
public:
    explicit AtaSource(QString path)
        : m_path(std::move(path))
    {
    }
    drives::local::TSmartReading ReadSectors(const QString &devicePath) override
    {
        if (m_path.isEmpty() || devicePath != m_path)
            return {};
        test::Sector data, thresholds;
        data.Attribute(0, 1, 0x000F, 100, 100).Attribute(1, 194, 0x0022, 31, 45, {31, 0, 18, 0, 45, 0});
        thresholds.Threshold(0, 1, 36).Threshold(1, 194, 0);
        auto bytes = [](const test::Sector &s) {
            return QByteArray(reinterpret_cast<const char *>(s.bytes.data()), 512);
        };
        return {drives::local::TSmartSectors{bytes(data), bytes(thresholds), true}, QString()};
    }

private:
    QString m_path;
};

struct Reading
{
    int result = -1;
    QString reason;
    TDriveList list;
};

void Read(Reading &r, const test::FakeSysfs &tree, bool withAta, std::unique_ptr<TNvmeLogPageSource> nvme)
{
    TLocalWmiProvider provider(tree.sys(), tree.dev(),
                               std::make_unique<AtaSource>(withAta ? tree.dev() + u"/sda"_s : QString()), XLogSystem(),
                               std::move(nvme));
    r.result = ReadComputerDrives(provider, u"localhost"_s, r.list, QString(), QString(), &r.reason);
}

const TDriveInformation *NvmeDrive(const TDriveList &list)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Items(i).Name.endsWith(u"/nvme0n1"_s))
            return &list.Items(i);
    return nullptr;
}

QString RecordingsFolder()
{
    return test::OwnFixture(u"drivedata/recordings"_s);
}

} // namespace

TEST(NvmeLocalReading, HealthLogsJudged)
{
    test::FakeSysfs tree;
    const QString nvme = tree.dev() + u"/nvme0n1"_s;
    struct Row
    {
        const char *what;
        test::HealthLog log;
        bool withAta;
        int result;
        QStringList reasons;
    };
    const Row rows[] = {
        {"healthy beside an ATA disk", test::HealthLog::Pm981(), true, kReadGood, {}},
        // Nothing but NVMe: read, not "S.M.A.R.T not supported".
        {"healthy alone", test::HealthLog::Pm981(), false, kReadGood, {}},
        {"critical warning 0x5", test::HealthLog::Qemu(0x05), true, kReadFlagged,
         {u"available spare below threshold"_s, u"reliability degraded"_s}},
        {"critical warning 0x5 alone", test::HealthLog::Qemu(0x05), false, kReadFlagged,
         {u"available spare below threshold"_s, u"reliability degraded"_s}},
        {"worn out", test::HealthLog::Pm981().PercentageUsed(97), false, kReadFlagged,
         {u"97 % of the rated life used"_s}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        auto source = std::make_unique<TNvmeLogPageSource>();
        source->Add(nvme, row.log.bytes);
        Reading r;
        Read(r, tree, row.withAta, std::move(source));
        EXPECT_EQ(r.result, row.result) << r.reason.toStdString();
        const TDriveInformation *d = NvmeDrive(r.list);
        ASSERT_TRUE(d);
        EXPECT_TRUE(d->Health.HasLog());
        EXPECT_EQ(d->Health.Value(THealthField::BusType), kBusTypeNvme);
        EXPECT_EQ(d->IsFlagged(), row.result == kReadFlagged);
        for (const QString &reason : row.reasons)
            EXPECT_TRUE(d->DriveReason.contains(reason)) << d->DriveReason.toStdString();
        // The other disks carry no health of their own.
        for (int i = 0; i < r.list.Count(); ++i) {
            if (&r.list.Items(i) != d) {
                EXPECT_TRUE(r.list.Items(i).Health.Empty());
            }
        }
    }
}

TEST(NvmeLocalReading, ControllerThatCannotBeAsked)
{
    test::FakeSysfs tree;
    const QString nvme = tree.dev() + u"/nvme0n1"_s;
    const QString noRights = u"reading the health log of \"%1\" needs root or CAP_SYS_ADMIN: Permission denied"_s.arg(nvme);
    {
        // Alone it leaves the computer without health data, and says why.
        auto source = std::make_unique<TNvmeLogPageSource>();
        source->Fail(nvme, noRights);
        Reading r;
        Read(r, tree, false, std::move(source));
        EXPECT_EQ(r.result, kReadNoSmart);
        EXPECT_TRUE(r.reason.contains(noRights)) << r.reason.toStdString();
        EXPECT_TRUE(r.reason.contains(u"MSFT_StorageReliabilityCounter"_s)) << r.reason.toStdString();
    }
    {
        // Beside a readable ATA disk the computer is read; the reason stays.
        auto source = std::make_unique<TNvmeLogPageSource>();
        source->Fail(nvme, noRights);
        Reading r;
        Read(r, tree, true, std::move(source));
        EXPECT_EQ(r.result, kReadGood);
        EXPECT_TRUE(r.reason.contains(noRights));
        EXPECT_FALSE(NvmeDrive(r.list)->Health.HasFigures());
    }
    {
        // The kernel's own answer for a device node that is no NVMe controller.
        Reading r;
        TLocalWmiProvider provider(tree.sys(), tree.dev(), std::make_unique<AtaSource>(QString()));
        r.result = ReadComputerDrives(provider, u"localhost"_s, r.list, QString(), QString(), &r.reason);
        EXPECT_EQ(r.result, kReadNoSmart);
        EXPECT_TRUE(r.reason.contains(u"\"%1\" does not take NVMe admin commands"_s.arg(nvme))) << r.reason.toStdString();
    }
}

TEST(NvmeRecordings, WindowsComputerWithAnNvmeDrive)
{
    test::ScopedSandbox sandbox;
    drives::recordings::TWmiRecordingProvider replay(RecordingsFolder());
    TDriveList list;
    QString reason;
    // HealthStatus Unhealthy: a failing drive.
    EXPECT_EQ(ReadComputerDrives(replay, u"NVME-PC"_s, list, QString(), QString(), &reason), kReadFlagged);
    ASSERT_EQ(list.Count(), 1);
    const TDriveInformation &d = list.Items(0);
    EXPECT_EQ(d.DriveReason, u"the system reports the drive unhealthy"_s);
    EXPECT_EQ(d.Health.StateOf(THealthField::HealthStatus), 1);
    EXPECT_EQ(d.Health.Value(THealthField::Wear), 12u);
    EXPECT_EQ(d.Health.Value(THealthField::PowerOnHours), 8812u);
    EXPECT_EQ(d.Health.Value(THealthField::Temperature), 44u);
    EXPECT_EQ(d.Health.Value(THealthField::StartStopCycleCount), 1287u);
    EXPECT_EQ(d.Health.OperationalStatus, u"OK"_s);
    EXPECT_FALSE(d.Health.HasLog());
}

TEST(NvmeRecordings, VariantsOfTheStorageNamespace)
{
    const std::optional<QByteArray> bytes = test::ReadBytes(RecordingsFolder() + u"/NVME-PC.json"_s);
    ASSERT_TRUE(bytes);
    const QJsonObject base = QJsonDocument::fromJson(*bytes).object();
    const QString storage = u"root\\Microsoft\\Windows\\Storage"_s;
    const auto edit = [&](const std::function<void(QJsonObject &)> &change) {
        QJsonObject namespaces = base.value(u"Namespaces"_s).toObject();
        QJsonObject ns = namespaces.value(storage).toObject();
        change(ns);
        if (ns.isEmpty())
            namespaces.remove(storage);
        else
            namespaces.insert(storage, ns);
        QJsonObject recording = base;
        recording.insert(u"Namespaces"_s, namespaces);
        return recording;
    };
    const auto disk = [](QJsonObject &ns, const QString &property, const QJsonValue &value) {
        QJsonObject classes = ns.value(u"Classes"_s).toObject();
        QJsonArray disks = classes.value(u"MSFT_PhysicalDisk"_s).toArray();
        QJsonObject d = disks.at(0).toObject();
        d.insert(property, value);
        disks[0] = d;
        classes.insert(u"MSFT_PhysicalDisk"_s, disks);
        ns.insert(u"Classes"_s, classes);
    };
    struct Row
    {
        const char *what;
        QJsonObject recording;
        int result;
        QString reason; // contained in the reading's or the drive's reasons
    };
    const Row rows[] = {
        {"healthy", edit([&](QJsonObject &ns) { disk(ns, u"HealthStatus"_s, 0); }), kReadGood, QString()},
        {"warning", edit([&](QJsonObject &ns) { disk(ns, u"HealthStatus"_s, 1); }), kReadFlagged,
         u"the system reports a warning for the drive"_s},
        {"predictive failure", edit([&](QJsonObject &ns) {
             disk(ns, u"HealthStatus"_s, 0);
             disk(ns, u"OperationalStatus"_s, QJsonArray{2, 5});
         }),
         kReadFlagged, u"the system predicts the drive's failure"_s},
        // Windows 7: no such namespace, and the drive reads as it always did.
        {"no storage namespace", edit([](QJsonObject &ns) { ns = QJsonObject(); }), kReadNoSmart,
         u"Invalid namespace"_s},
        {"counters refused", edit([&](QJsonObject &ns) {
             disk(ns, u"HealthStatus"_s, 0);
             QJsonObject byDisk;
             const QString id = ns.value(u"Classes"_s).toObject().value(u"MSFT_PhysicalDisk"_s).toArray().at(0)
                                    .toObject().value(u"ObjectId"_s).toString();
             byDisk.insert(id, QJsonObject{{u"QueryError"_s, u"Access denied"_s}});
             ns.insert(u"Associations"_s, QJsonObject{{u"MSFT_PhysicalDiskToStorageReliabilityCounter"_s, byDisk}});
         }),
         kReadGood, u"health of \\\\.\\PHYSICALDRIVE0 (MSFT_StorageReliabilityCounter of root\\Microsoft\\Windows\\Storage): Access denied"_s},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        test::ScopedSandbox sandbox;
        QTemporaryDir dir;
        QFile f(dir.filePath(u"NVME-PC.json"_s));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(row.recording).toJson());
        f.close();
        drives::recordings::TWmiRecordingProvider replay(dir.path());
        TDriveList list;
        QString reason;
        EXPECT_EQ(ReadComputerDrives(replay, u"NVME-PC"_s, list, QString(), QString(), &reason), row.result);
        ASSERT_EQ(list.Count(), 1);
        const QString all = reason + u" | "_s + list.Items(0).DriveReason;
        if (!row.reason.isEmpty()) {
            EXPECT_TRUE(all.contains(row.reason)) << all.toStdString();
        }
    }
}

TEST(NvmeRecordings, RecordedFromThisComputer)
{
    // A user's readout of an NVMe computer replays to the same health.
    test::FakeSysfs tree;
    const auto provider = [&] {
        auto source = std::make_unique<TNvmeLogPageSource>();
        source->Add(tree.dev() + u"/nvme0n1"_s, test::HealthLog::Qemu(0x05).bytes);
        return std::make_unique<TLocalWmiProvider>(tree.sys(), tree.dev(),
                                                   std::make_unique<AtaSource>(tree.dev() + u"/sda"_s), XLogSystem(),
                                                   std::move(source));
    };
    test::ScopedSandbox sandbox;
    TDriveList direct;
    EXPECT_EQ(ReadComputerDrives(*provider(), u"PC9"_s, direct, QString(), QString()), kReadFlagged);
    const QJsonObject recording = drives::recordings::RecordComputer(*provider(), u"PC9"_s, QString(), QString());
    QTemporaryDir dir;
    QFile f(dir.filePath(u"PC9.json"_s));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(recording).toJson());
    f.close();
    drives::recordings::TWmiRecordingProvider replay(dir.path());
    TDriveList replayed;
    EXPECT_EQ(ReadComputerDrives(replay, u"PC9"_s, replayed, QString(), QString()), kReadFlagged);
    ASSERT_EQ(replayed.Count(), direct.Count());
    for (int i = 0; i < direct.Count(); ++i)
        EXPECT_EQ(replayed.Items(i).Health.Values, direct.Items(i).Health.Values);
    ASSERT_TRUE(NvmeDrive(replayed));
    EXPECT_TRUE(NvmeDrive(replayed)->DriveReason.contains(u"reliability degraded"_s));
}
