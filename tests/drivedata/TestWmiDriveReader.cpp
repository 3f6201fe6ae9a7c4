#include "ScriptedWmi.h"
#include "SectorBuilder.h"
#include "TestSupport.h"

#include "drivedata/WmiDriveReader.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using valmora::test::Sector;
using valmora::test::WmiScript;
using valmora::drives::TWmiInstance;
using valmora::drives::TWmiNull;

namespace {

const QString kMedia = u"Win32_PhysicalMedia"_s;
const QString kDrives = u"Win32_DiskDrive"_s;
const QString kData = u"MSStorageDriver_FailurePredictData"_s;
const QString kThresholds = u"MSStorageDriver_FailurePredictThresholds"_s;
const QString kStatus = u"MSStorageDriver_FailurePredictStatus"_s;

std::vector<std::int64_t> Array(const Sector &s, std::size_t size = 512)
{
    std::vector<std::int64_t> v(s.bytes.begin(), s.bytes.end());
    v.resize(size, 0);
    return v;
}

Sector DataSector(std::uint8_t reallocatedCurrent = 100)
{
    Sector s;
    s.Attribute(0, 1, 0x000F, 100, 100)
        .Attribute(1, 5, 0x0033, reallocatedCurrent, reallocatedCurrent)
        .Attribute(2, 194, 0x0022, 40, 40, {40, 0, 20, 0, 50, 0});
    return s;
}

Sector ThresholdSector()
{
    Sector s;
    s.Threshold(0, 1, 36).Threshold(1, 5, 36).Threshold(2, 194, 0);
    return s;
}

TWmiInstance Instance(std::initializer_list<std::pair<QString, drives::TWmiValue>> properties)
{
    TWmiInstance i;
    for (const auto &[name, value] : properties)
        i.Set(name, value);
    return i;
}

TWmiInstance Drive(const QString &pnp, const QString &deviceId, std::int64_t size)
{
    return Instance({{u"BytesPerSector"_s, std::int64_t{512}},
                     {u"FirmwareRevision"_s, u"1.0"_s},
                     {u"InterfaceType"_s, u"IDE"_s},
                     {u"Manufacturer"_s, u"(Standard disk drives)"_s},
                     {u"MediaType"_s, u"Fixed hard disk media"_s},
                     {u"Model"_s, u"Disk "_s + pnp},
                     {u"Name"_s, deviceId},
                     {u"Partitions"_s, std::int64_t{2}},
                     {u"PNPDeviceID"_s, pnp},
                     {u"SectorsPerTrack"_s, std::int64_t{63}},
                     {u"DeviceId"_s, deviceId},
                     {u"Size"_s, size},
                     {u"Status"_s, u"OK"_s},
                     {u"TotalCylinders"_s, std::int64_t{60801}},
                     {u"TotalHeads"_s, std::int64_t{255}},
                     {u"TotalSectors"_s, std::int64_t{976768065}},
                     {u"TotalTracks"_s, std::int64_t{15504255}},
                     {u"TracksPerCylinder"_s, std::int64_t{255}}});
}

TWmiInstance Smart(const QString &instanceName, std::vector<std::int64_t> bytes, std::optional<int> length = 512)
{
    TWmiInstance i = Instance({{u"InstanceName"_s, instanceName}, {u"VendorSpecific"_s, std::move(bytes)}});
    if (length)
        i.Set(u"Length"_s, std::int64_t{*length});
    return i;
}

// Two drives, both healthy; letter case differs between tags and device ids,
// and between identifiers and instance names.
WmiScript TwoDrives()
{
    WmiScript s;
    s.classes[kMedia] = {Instance({{u"Tag"_s, u"\\\\.\\PHYSICALDRIVE0"_s}, {u"SerialNumber"_s, u"  SN0"_s}}),
                         Instance({{u"Tag"_s, u"\\\\.\\PHYSICALDRIVE1"_s}, {u"SerialNumber"_s, u"SN=1"_s}})};
    s.classes[kDrives] = {Drive(u"IDE\\DISKA\\5&1&0"_s, u"\\\\.\\physicaldrive0"_s, 500'107'862'016LL),
                          Drive(u"IDE\\DISKB\\5&2&0"_s, u"\\\\.\\PHYSICALDRIVE1"_s, 1'000'204'886'016LL)};
    s.classes[kData] = {Smart(u"ide\\diska\\5&1&0_0"_s, Array(DataSector())),
                        Smart(u"IDE\\DISKB\\5&2&0_0"_s, Array(DataSector()))};
    s.classes[kThresholds] = {Smart(u"IDE\\DISKA\\5&1&0_0"_s, Array(ThresholdSector()), std::nullopt),
                              Smart(u"IDE\\DISKB\\5&2&0_0"_s, Array(ThresholdSector()), std::nullopt)};
    return s;
}

int Read(WmiScript &script, TDriveList &list, const QString &computer = u"\\\\PC1"_s)
{
    test::ScopedSandbox sandbox;
    test::ScriptedProvider provider(script);
    const int result = ReadComputerDrives(provider, computer, list, u"dom\\admin"_s, u"secret"_s);
    EXPECT_EQ(script.live, 0) << "objects of the platform left unreleased";
    return result;
}

bool AnyState(const TDriveList &list)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Items(i).HasFlaggedAttribute())
            return true;
    return false;
}

} // namespace

TEST(DriveReader, ReadsTwoDrivesThroughFiveConnections)
{
    WmiScript script = TwoDrives();
    TDriveList list;
    list.Add(std::make_unique<TDriveInformation>()); // emptied first
    EXPECT_EQ(Read(script, list), kReadGood);
    EXPECT_EQ(list.ComputerName, u"\\\\PC1"_s);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_GT(list.ReadoutTime, 0);

    const TDriveInformation &a = list.Items(0);
    EXPECT_EQ(a.SerialNumber, u"  SN0"_s); // kept as delivered
    EXPECT_EQ(a.Size, 500'107'862'016LL);
    EXPECT_EQ(a.BytesPerSector, 512u);
    EXPECT_EQ(a.TotalCylinders, 60801);
    EXPECT_EQ(a.TracksPerCylinder, 255u);
    EXPECT_EQ(a.Model, u"Disk IDE\\DISKA\\5&1&0"_s);
    EXPECT_EQ(a.AttributeCount, 3);
    EXPECT_EQ(a.AttrThreshold[1], 36);
    EXPECT_EQ(a.TemperatureCurrent, 40);
    EXPECT_EQ(list.Items(1).SerialNumber, u"SN=1"_s); // the text after the first "="

    // The storage classes last, after the S.M.A.R.T. stages.
    ASSERT_EQ(script.connections.size(), 6u);
    const QString spaces[] = {u"root\\CIMV2"_s, u"root\\CIMV2"_s, u"root\\WMI"_s,
                              u"root\\WMI"_s,   u"root\\WMI"_s,   u"root\\Microsoft\\Windows\\Storage"_s};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(script.connections[i].server, u"PC1"_s);
        EXPECT_EQ(script.connections[i].nameSpace, spaces[i]);
        EXPECT_EQ(script.connections[i].user, u"dom\\admin"_s);
        EXPECT_EQ(script.connections[i].password, u"secret"_s);
    }
    ASSERT_EQ(script.queries.size(), 6u);
    const QString queries[] = {u"SELECT * FROM Win32_PhysicalMedia"_s, u"SELECT * FROM Win32_DiskDrive"_s,
                               u"SELECT * FROM MSStorageDriver_FailurePredictData"_s,
                               u"SELECT * FROM MSStorageDriver_FailurePredictThresholds"_s,
                               u"SELECT * FROM MSStorageDriver_FailurePredictStatus"_s,
                               u"SELECT * FROM MSFT_PhysicalDisk"_s};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(script.queries[i].text, queries[i]);
        EXPECT_EQ(script.queries[i].language, u"WQL"_s);
        EXPECT_EQ(script.queries[i].flags, 32);
    }
    EXPECT_EQ(script.locators, 6);
}

// The drive's own prediction flags it with no attribute crossing its
// threshold; a computer without the status class reads as before.
TEST(DriveReader, DrivesOwnFailurePrediction)
{
    for (const drives::TWmiValue &predicts : {drives::TWmiValue(true), drives::TWmiValue(u"True"_s)}) {
        WmiScript script = TwoDrives();
        script.classes[kStatus] = {Instance({{u"InstanceName"_s, u"IDE\\DISKA\\5&1&0_0"_s}}), // no verdict given
                                   Instance({{u"InstanceName"_s, u"IDE\\DISKA\\5&1&0_0"_s}, {u"PredictFailure"_s, false}}),
                                   Instance({{u"InstanceName"_s, u"IDE\\DISKB\\5&2&0_0"_s}, {u"PredictFailure"_s, predicts}})};
        TDriveList list;
        EXPECT_EQ(Read(script, list), kReadFlagged);
        ASSERT_EQ(list.Count(), 2);
        EXPECT_FALSE(list.Items(0).IsFlagged());
        const TDriveInformation &b = list.Items(1);
        EXPECT_FALSE(b.HasFlaggedAttribute());
        EXPECT_TRUE(b.IsFlagged());
        EXPECT_EQ(b.Status, u"Pred Fail"_s); // what the readout file keeps
        EXPECT_EQ(b.DriveReason, u"the drive itself predicts its failure"_s);
    }
    WmiScript refused = TwoDrives();
    refused.failQuery.insert(kStatus);
    TDriveList list;
    EXPECT_EQ(Read(refused, list), kReadGood);
    EXPECT_EQ(list.Items(1).Status, u"OK"_s);
}

TEST(DriveReader, ServerNames)
{
    for (const auto &[computer, server] : {std::pair{u"\\\\HOST"_s, u"HOST"_s}, std::pair{u"10.0.0.7"_s, u"10.0.0.7"_s},
                                          std::pair{u"plain"_s, u"plain"_s}}) {
        WmiScript script = TwoDrives();
        TDriveList list;
        Read(script, list, computer);
        EXPECT_EQ(list.ComputerName, computer);
        ASSERT_FALSE(script.connections.empty());
        EXPECT_EQ(script.connections[0].server, server);
    }
}

// What fails where, and what the list and the result are then.
TEST(DriveReader, FailuresAndTheirResults)
{
    struct Case
    {
        const char *what;
        std::function<void(WmiScript &)> script;
        int result;
        int drives;
        int attributes;  // of the first drive, -1 when there is none
        bool states;     // any state set
        bool readoutSet; // ReadoutTime moved
    };
    const Case cases[] = {
        {"no locator for stage A", [](WmiScript &s) { s.failLocator = {0}; }, kReadNoCimv2, 0, -1, false, false},
        {"stage A connection refused", [](WmiScript &s) { s.failConnect = {0}; }, kReadNoCimv2, 0, -1, false, false},
        {"stage A query refused", [](WmiScript &s) { s.failQuery = {kMedia}; }, kReadNoCimv2, 0, -1, false, false},
        {"stage A walk fails", [](WmiScript &s) { s.failNext[kMedia] = 1; }, kReadNoCimv2, 0, -1, false, false},
        {"stage B connection refused", [](WmiScript &s) { s.failConnect = {1}; }, kReadNoCimv2, 0, -1, false, false},
        {"stage B walk fails at the second drive", [](WmiScript &s) { s.failNext[kDrives] = 1; }, kReadNoCimv2, 1, 0,
         false, false},
        {"root\\WMI refused", [](WmiScript &s) { s.failConnect = {2}; }, kReadNoSmart, 2, 0, false, false},
        {"data query refused", [](WmiScript &s) { s.failQuery = {kData}; }, kReadNoSmart, 2, 0, false, false},
        {"data walk fails at once", [](WmiScript &s) { s.failNext[kData] = 0; }, kReadNoSmart, 2, 0, false, false},
        {"no data instance: verdicts on drives without attributes",
         [](WmiScript &s) { s.classes[kData].clear(); }, kReadGood, 2, 0, false, true},
        {"data walk fails after an instance", [](WmiScript &s) { s.failNext[kData] = 1; }, kReadGood, 2, 3, false,
         false},
        {"Length 0", [](WmiScript &s) { s.classes[kData][0].Set(u"Length"_s, std::int64_t{0}); }, kReadGood, 2, 0,
         false, false},
        {"Length beyond the array",
         [](WmiScript &s) { s.classes[kData][0].Set(u"Length"_s, std::int64_t{600}); }, kReadGood, 2, 0, false,
         false},
        {"Length missing", [](WmiScript &s) { s.classes[kData][0].Set(u"Length"_s, TWmiNull{}); }, kReadGood, 2, 0,
         false, false},
        {"instance name unreadable",
         [](WmiScript &s) { s.classes[kData][0].Set(u"InstanceName"_s, std::vector<std::int64_t>{1}); }, kReadGood,
         2, 0, false, false},
        {"second root\\WMI connection refused, first drive failing",
         [](WmiScript &s) {
             s.failConnect = {3};
             s.classes[kData][0].Set(u"VendorSpecific"_s, Array(DataSector(30)));
         },
         kReadGood, 2, 3, false, false},
        {"threshold array of 300 elements",
         [](WmiScript &s) { s.classes[kThresholds][0].Set(u"VendorSpecific"_s, Array(ThresholdSector(), 300)); },
         kReadGood, 2, 3, false, false},
        {"threshold query refused", [](WmiScript &s) { s.failQuery = {kThresholds}; }, kReadGood, 2, 3, false, false},
        // A drive whose thresholds did arrive is judged even when a later one's fail.
        {"second threshold array short, first drive failing",
         [](WmiScript &s) {
             s.classes[kData][0].Set(u"VendorSpecific"_s, Array(DataSector(30)));
             s.classes[kThresholds][1].Set(u"VendorSpecific"_s, Array(ThresholdSector(), 300));
         },
         kReadFlagged, 2, 3, true, false},
        {"one drive failing", [](WmiScript &s) { s.classes[kData][1].Set(u"VendorSpecific"_s, Array(DataSector(30))); },
         kReadFlagged, 2, 3, true, true},
        {"both drives failing",
         [](WmiScript &s) {
             for (auto &i : s.classes[kData])
                 i.Set(u"VendorSpecific"_s, Array(DataSector(30)));
         },
         kReadFlagged, 2, 3, true, false},
        {"no drives but S.M.A.R.T. instances", [](WmiScript &s) { s.classes[kDrives].clear(); }, kReadGood, 0, -1,
         false, false},
        {"no drives, no instances",
         [](WmiScript &s) {
             s.classes[kDrives].clear();
             s.classes[kData].clear();
         },
         kReadNoSmart, 0, -1, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WmiScript script = TwoDrives();
        c.script(script);
        TDriveList list;
        list.ComputerName = u"old"_s;
        const int result = Read(script, list);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(list.ComputerName, u"\\\\PC1"_s);
        ASSERT_EQ(list.Count(), c.drives);
        if (c.attributes >= 0) {
            EXPECT_EQ(list.Items(0).AttributeCount, c.attributes);
        }
        EXPECT_EQ(AnyState(list), c.states);
        EXPECT_EQ(list.ReadoutTime > 0, c.readoutSet);
    }
}

TEST(DriveReader, PerObjectAndPerPropertyFailuresAreSkipped)
{
    WmiScript script = TwoDrives();
    // A medium whose tag cannot be read is left out; the other still gives its serial.
    script.classes[kMedia][0].Set(u"Tag"_s, std::vector<std::int64_t>{1, 2});
    script.classes[kMedia].push_back(Instance({{u"Tag"_s, u"\\\\.\\PHYSICALDRIVE9"_s}, {u"SerialNumber"_s, TWmiNull{}}}));
    TWmiInstance &b = script.classes[kDrives][1];
    b.Set(u"Size"_s, u"not a number"_s);
    b.Set(u"BytesPerSector"_s, TWmiNull{});
    b.Set(u"Model"_s, std::vector<std::int64_t>{7});
    b.Set(u"TotalHeads"_s, std::int64_t{0x1'0000'00FF}); // kept as its low 32 bits
    TDriveList list;
    EXPECT_EQ(Read(script, list), kReadGood);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0).SerialNumber, QString());
    const TDriveInformation &d = list.Items(1);
    EXPECT_EQ(d.SerialNumber, u"SN=1"_s);
    EXPECT_EQ(d.Size, 0);
    EXPECT_EQ(d.BytesPerSector, 0u);
    EXPECT_EQ(d.Model, QString());
    EXPECT_EQ(d.TotalHeads, 255u);
    EXPECT_EQ(d.Status, u"OK"_s);
    EXPECT_EQ(d.AttributeCount, 3);
    // What was left out is counted beside the result: the medium, and Size,
    // BytesPerSector and Model of the second drive, beyond what the script
    // leaves out anyway.
    WmiScript unchanged = TwoDrives();
    TDriveList plain;
    Read(unchanged, plain);
    EXPECT_EQ(list.SkippedObjects - plain.SkippedObjects, 1);
    EXPECT_EQ(list.SkippedProperties - plain.SkippedProperties, 3);
    // A new reading counts afresh.
    WmiScript again = TwoDrives();
    Read(again, list);
    EXPECT_EQ(list.SkippedObjects, plain.SkippedObjects);
    EXPECT_EQ(list.SkippedProperties, plain.SkippedProperties);

    // A null serial number gives the drive an empty one.
    WmiScript nulls = TwoDrives();
    nulls.classes[kMedia][1].Set(u"SerialNumber"_s, TWmiNull{});
    TDriveList other;
    Read(nulls, other);
    EXPECT_EQ(other.Items(1).SerialNumber, QString());
}

TEST(DriveReader, JoinOfInstancesToDrives)
{
    WmiScript script = TwoDrives();
    // The first drive has no identifier: it never matches. The second's
    // identifier begins both instance names, so both go to it, the first
    // drive matching being taken.
    script.classes[kDrives] = {Drive(QString(), u"\\\\.\\PHYSICALDRIVE0"_s, 1),
                               Drive(u"SCSI\\DISK"_s, u"\\\\.\\PHYSICALDRIVE1"_s, 2),
                               Drive(u"SCSI\\DISK&X"_s, u"\\\\.\\PHYSICALDRIVE2"_s, 3)};
    Sector other;
    other.Attribute(0, 9, 0x0032, 99, 99);
    script.classes[kData] = {Smart(u"scsi\\disk&x_0"_s, Array(DataSector())), Smart(u"nobody_0"_s, Array(other)),
                             Smart(u"SCSI\\DISK_0"_s, Array(other))};
    script.classes[kThresholds].clear();
    TDriveList list;
    EXPECT_EQ(Read(script, list), kReadGood);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(0).AttributeCount, 0);
    EXPECT_EQ(list.Items(1).AttributeCount, 4);
    EXPECT_EQ(list.Items(1).AttrId[3], 9);
    EXPECT_EQ(list.Items(2).AttributeCount, 0);

    // An instance that matches no drive still counts as S.M.A.R.T. data.
    WmiScript unmatched = TwoDrives();
    unmatched.classes[kData] = {Smart(u"elsewhere_0"_s, Array(DataSector()))};
    TDriveList none;
    EXPECT_EQ(Read(unmatched, none), kReadGood);
    EXPECT_EQ(none.Items(0).AttributeCount, 0);
}
