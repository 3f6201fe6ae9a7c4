// The verdict rules beyond the thresholds: bad-sector counts, raw fields read
// as the drive family means them, growth over the baseline and its
// acknowledgement, reasons in words.
#include "SectorBuilder.h"
#include "TestSupport.h"

#include "drivedata/SmartTypes.h"
#include "drivedata/Verdicts.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <gtest/gtest.h>

#include <iostream>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

// Texts in failure messages as text.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct Attr
{
    int id;
    bool preFailure;
    int current, worst, threshold;
    std::int64_t raw;
};

TDriveInformation Drive(std::initializer_list<Attr> attrs, const QString &model = u"TEST DRIVE"_s,
                        const QString &serial = u"SN1"_s)
{
    TDriveInformation d;
    d.Model = model;
    d.SerialNumber = serial;
    d.FirmwareRevision = u"1.0"_s;
    d.BytesPerSector = 512;
    d.Size = 500'107'862'016LL; // 976,773,168 sectors
    for (const Attr &a : attrs) {
        const auto i = static_cast<std::size_t>(d.AttributeCount++);
        d.AttrId[i] = a.id;
        d.AttrPreFailure[i] = a.preFailure;
        d.AttrCurrent[i] = a.current;
        d.AttrWorst[i] = a.worst;
        d.AttrThreshold[i] = a.threshold;
        d.AttrRaw[i] = a.raw;
    }
    return d;
}

// The six raw bytes, low byte first, as a drive sends them.
std::int64_t RawBytes(std::array<std::uint8_t, 6> b)
{
    std::int64_t v = 0;
    for (int i = 5; i >= 0; --i)
        v = (v << 8) | b[static_cast<std::size_t>(i)];
    return v;
}

QString Day(QDate d)
{
    return QLocale::c().toString(d, u"d MMM yyyy"_s);
}

// A small drive database in the layout of drivedb.h.
const QString kDatabase = uR"(/*
 * comment with "a quoted word" and { a brace
 */
  { "VERSION: 7.3 test", "-", "-", "Version information", "" },
  { "DEFAULT",
    "-", "-",
    "Default settings",
    "-v 5,raw16(raw16),Reallocated_Sector_Ct " // a comment between literals
    "-v 9,raw24(raw8),Power_On_Hours "
    "-v 197,raw48,Current_Pending_Sector "
    "-v 198,raw48,Offline_Uncorrectable"
  },
  { "USB: Some bridge", "0x1234:0x5678", "", "", "-d sat" },
  { "$Switched off", "OFF.*", "", "", "-v 197,raw16" },
  { "Minute Drives", // power-on in minutes, counts in the low word
    "MINUTE MD(10|20)0",
    "", "",
    "-v 9,minutes -v 197,raw16,Current_Pending_Sector -F samsung"
  },
  { "Firmware Specific",
    "FIRM FS100",
    "2\\.0.*", "",
    "-v 197,increasing"
  },
  { "Solid State",
    "SOLID S1",
    "", "",
    "-v 198,raw48,Host_Reads_GiB -v N,raw48:54321 -v 300,raw48 -v 5,bogus"
  },
)"_s;

} // namespace

// Sector counts under "SectorWarnings": each row one drive with one
// attribute, judged with the built-in formats.
TEST(Verdicts, SectorCountRules)
{
    struct Case
    {
        Attr attr;
        bool sectorWarnings;
        TAttributeState state;
        const char16_t *reason;
    };
    const Case cases[] = {
        {{197, false, 100, 100, 0, 0}, true, TAttributeState::Ok, u""},
        {{197, false, 100, 100, 0, 1}, true, TAttributeState::Warning, u"1 sector waits to be remapped"},
        {{197, false, 100, 100, 0, 529}, true, TAttributeState::Warning, u"529 sectors wait to be remapped"},
        {{197, false, 100, 100, 0, 1850}, true, TAttributeState::Warning, u"1,850 sectors wait to be remapped"},
        {{198, false, 100, 100, 0, 0}, true, TAttributeState::Ok, u""},
        {{198, false, 100, 100, 0, 1}, true, TAttributeState::Warning, u"1 sector could not be read or corrected"},
        {{198, false, 100, 100, 0, 7}, true, TAttributeState::Warning, u"7 sectors could not be read or corrected"},
        // Switched off: the results of the seed rules alone.
        {{197, false, 100, 100, 0, 529}, false, TAttributeState::Ok, u""},
        {{198, false, 100, 100, 0, 7}, false, TAttributeState::Ok, u""},
        // Added after the seed rules, never lowering them; both reasons are told.
        {{197, true, 20, 20, 36, 3}, true, TAttributeState::Failing,
         u"current 20 is at or below the threshold 36; 3 sectors wait to be remapped"},
        {{197, true, 70, 50, 60, 3}, true, TAttributeState::FailedInPast,
         u"worst 50 fell to the threshold in the past; 3 sectors wait to be remapped"},
        // Vendor data: more sectors than the drive has is no count.
        {{197, false, 100, 100, 0, RawBytes({0x02, 0x00, 0x22, 0xfd, 0x4b, 0x6d})}, true, TAttributeState::Ok, u""},
        {{198, false, 100, 100, 0, 976'773'169}, true, TAttributeState::Ok, u""},
        {{198, false, 100, 100, 0, 976'773'168}, true, TAttributeState::Warning,
         u"976,773,168 sectors could not be read or corrected"},
        // Reallocated sectors and reallocation events.
        {{5, true, 100, 100, 36, 0}, true, TAttributeState::Ok, u""},
        {{5, true, 100, 100, 36, 1}, true, TAttributeState::Warning, u"1 sector was reallocated"},
        {{5, true, 100, 100, 36, 4}, true, TAttributeState::Warning, u"4 sectors were reallocated"},
        {{5, true, 100, 100, 36, 4}, false, TAttributeState::Ok, u""},
        {{5, true, 100, 100, 36, 1850}, true, TAttributeState::Warning, u"1,850 reallocated sectors (more than 500)"},
        {{5, true, 100, 100, 36, RawBytes({0, 0, 0, 0, 0xd0, 0x07})}, true, TAttributeState::Ok, u""}, // low word 0
        {{196, false, 100, 100, 0, 1}, true, TAttributeState::Warning, u"1 reallocation event"},
        {{196, false, 100, 100, 0, 63}, true, TAttributeState::Warning, u"63 reallocation events"},
    };
    for (const Case &c : cases) {
        TDriveInformation d = Drive({c.attr});
        TVerdictRules rules;
        rules.SectorWarnings = c.sectorWarnings;
        SCOPED_TRACE(testing::Message() << "id " << c.attr.id << " raw " << c.attr.raw << " warnings "
                                        << c.sectorWarnings);
        const bool healthy = EvaluateDrive(d, rules);
        EXPECT_EQ(d.State(0), c.state);
        EXPECT_EQ(healthy, c.state == TAttributeState::Ok);
        EXPECT_EQ(d.AttrReason[0], QString::fromUtf16(c.reason));
    }
}

// A drive that gives no size is bounded by a count no drive of today reaches.
TEST(Verdicts, VendorDataWithoutDriveSize)
{
    TDriveInformation d = Drive({{197, false, 100, 100, 0, RawBytes({0x02, 0x00, 0x22, 0xfd, 0x4b, 0x6d})},
                                 {198, false, 100, 100, 0, RawBytes({0x02, 0x00, 0x22, 0xfd, 0x4b, 0x6d})},
                                 {197, false, 100, 100, 0, 5}}); // a second entry of one number is not judged again
    d.Size = 0;
    d.TotalSectors = 0;
    EXPECT_TRUE(EvaluateDrive(d, TVerdictRules{}));
    EXPECT_EQ(d.AttributeCount, 3);
}

TEST(DriveDatabase, ParsesEntriesPresetsAndAliases)
{
    QString error;
    const auto db = TDriveDatabase::Parse(kDatabase, &error);
    ASSERT_TRUE(db) << qPrintable(error);
    EXPECT_EQ(db->EntryCount(), 3); // no version line, USB bridge or switched-off entry

    const TDrivePresets minute = db->PresetsFor(u"MINUTE MD100"_s, u"X"_s);
    EXPECT_EQ(db->FamilyFor(u"MINUTE MD100"_s, u"X"_s), u"Minute Drives"_s);
    EXPECT_EQ(minute[9].Format, u"min2hour"_s); // the old alias "9,minutes"
    EXPECT_EQ(minute[9].Name, u"Power_On_Minutes"_s);
    EXPECT_EQ(minute[197].Format, u"raw16"_s);
    EXPECT_EQ(minute[5].Format, u"raw16(raw16)"_s); // the DEFAULT entry below it
    // The model must match whole; Windows' " ATA Device" is tried without.
    EXPECT_EQ(db->FamilyFor(u"MINUTE MD1000"_s, u"X"_s), QString());
    EXPECT_EQ(db->FamilyFor(u"MINUTE MD200 ATA Device"_s, u"X"_s), u"Minute Drives"_s);

    // Firmware narrows an entry.
    EXPECT_TRUE(db->PresetsFor(u"FIRM FS100"_s, u"2.0A"_s)[197].Increasing);
    EXPECT_EQ(db->PresetsFor(u"FIRM FS100"_s, u"2.0A"_s)[197].Name, u"Total_Pending_Sectors"_s);
    EXPECT_FALSE(db->PresetsFor(u"FIRM FS100"_s, u"1.0"_s)[197].Increasing);

    // "N,..." sets every attribute; unknown formats and numbers are skipped.
    const TDrivePresets solid = db->PresetsFor(u"SOLID S1"_s, QString());
    EXPECT_EQ(solid[198].Name, u"Host_Reads_GiB"_s);
    EXPECT_EQ(solid[5].ByteOrder, u"54321"_s);
    EXPECT_EQ(solid[5].Name, u"Reallocated_Sector_Ct"_s); // a format without a name keeps the name
    EXPECT_EQ(solid[5].Format, u"raw48"_s);

    EXPECT_EQ(TDriveDatabase::Parse(u"/* nothing */"_s, &error), nullptr);
    EXPECT_EQ(error, u"no drive entries"_s);
    EXPECT_EQ(TDriveDatabase::Load(u"/nonexistent/drivedb.h"_s, &error), nullptr);
    EXPECT_TRUE(error.contains(u"/nonexistent/drivedb.h"_s)) << qPrintable(error);
}

// Raw fields as the family means them: counts in the low word, a renamed
// attribute that counts something else, a total that only grows, and
// power-on time in minutes.
TEST(DriveDatabase, VerdictsFollowTheFamily)
{
    TVerdictRules rules;
    rules.Database = TDriveDatabase::Parse(kDatabase);
    ASSERT_TRUE(rules.Database);
    // 197 raw 00 00 07 00 00 00 as raw48 is 458,752; as raw16 it is 0.
    const std::int64_t highWordOnly = RawBytes({0x00, 0x00, 0x07, 0x00, 0x00, 0x00});
    TDriveInformation plain = Drive({{197, false, 100, 100, 0, highWordOnly}});
    EXPECT_FALSE(EvaluateDrive(plain, rules));
    EXPECT_EQ(plain.AttrReason[0], u"458,752 sectors wait to be remapped"_s);
    TDriveInformation minute = Drive({{197, false, 100, 100, 0, highWordOnly + 2}}, u"MINUTE MD100"_s);
    EXPECT_FALSE(EvaluateDrive(minute, rules));
    EXPECT_EQ(minute.AttrReason[0], u"2 sectors wait to be remapped"_s);
    EXPECT_TRUE(PowerOnInMinutes(minute, rules));
    EXPECT_FALSE(PowerOnInMinutes(plain, rules));

    TDriveInformation solid = Drive({{198, false, 100, 100, 0, 4096}}, u"SOLID S1"_s);
    EXPECT_TRUE(EvaluateDrive(solid, rules));
    TDriveInformation total = Drive({{197, false, 100, 100, 0, 12}}, u"FIRM FS100"_s);
    total.FirmwareRevision = u"2.0"_s;
    EXPECT_TRUE(EvaluateDrive(total, rules));
}

// The database smartmontools installs, where it is installed.
TEST(DriveDatabase, TheInstalledDatabase)
{
    QString error;
    const auto db = TDriveDatabase::Load(TDriveDatabase::DefaultPath(), &error);
    if (!db)
        GTEST_SKIP() << "no drive database: " << qPrintable(error);
    EXPECT_GT(db->EntryCount(), 100);
    EXPECT_EQ(db->FamilyFor(u"FUJITSU MHY2120BH"_s, u"0085000B"_s), u"Fujitsu MHY BH"_s);
    TVerdictRules rules;
    rules.Database = db;
    // The vendor bytes of this family in 197 and 198 are no counts.
    const std::int64_t vendor = RawBytes({0x02, 0x00, 0x22, 0xfd, 0x4b, 0x6d});
    TDriveInformation fujitsu =
        Drive({{197, false, 100, 100, 0, vendor}, {198, false, 100, 100, 0, vendor}}, u"FUJITSU MHY2120BH"_s);
    fujitsu.FirmwareRevision = u"0085000B"_s;
    fujitsu.Size = 120'034'123'776LL;
    EXPECT_TRUE(EvaluateDrive(fujitsu, rules));
    EXPECT_EQ(fujitsu.State(0), TAttributeState::Ok);
    EXPECT_EQ(fujitsu.State(1), TAttributeState::Ok);
}

TEST(Verdicts, GrowthAndAcknowledgementAcrossChecks)
{
    test::ScopedSandbox sandbox;
    const QString file = TDriveBaseline::PathIn(sandbox.path() + u"/"_s);
    const QDate first(2026, 12, 3), second(2026, 12, 10);
    auto rulesOn = [&](QDate day) {
        TVerdictRules rules;
        rules.Baseline = std::make_shared<TDriveBaseline>(file);
        rules.Today = day;
        return rules;
    };
    auto check = [&](TVerdictRules &rules, std::int64_t reallocated, std::int64_t pending) {
        TDriveInformation d = Drive({{5, true, 100, 100, 36, reallocated}, {197, false, 100, 100, 0, pending}});
        EvaluateDrive(d, rules);
        return d;
    };

    // First check: the counts become the baseline; counts the drive came with warn at once.
    {
        TVerdictRules rules = rulesOn(first);
        const TDriveInformation d = check(rules, 2, 1);
        EXPECT_EQ(d.AttrReason[0], u"2 sectors were reallocated"_s);
        EXPECT_EQ(d.AttrReason[1], u"1 sector waits to be remapped"_s);
    } // the baseline is written when it goes at the latest
    ASSERT_TRUE(QFile::exists(file));

    // Second check, another object reading the file: 5 grew.
    TVerdictRules rules = rulesOn(second);
    TDriveInformation d = check(rules, 9, 1);
    EXPECT_EQ(d.State(0), TAttributeState::Warning);
    EXPECT_EQ(d.AttrReason[0], u"9 sectors were reallocated; grew from 2 to 9 since 3 Dec 2026"_s);

    // Acknowledged: both warnings end, and the file says so at once.
    ASSERT_TRUE(AcknowledgeWarnings(d, 0, rules));
    EXPECT_FALSE(d.HasFlaggedAttribute());
    EXPECT_TRUE(d.AttrReason[0].isEmpty());
    {
        TVerdictRules other = rulesOn(second);
        EXPECT_FALSE(check(other, 9, 1).HasFlaggedAttribute());
    }
    // They come back when a count grows again.
    d = check(rules, 10, 1);
    EXPECT_EQ(d.AttrReason[0], u"10 sectors were reallocated; grew from 9 to 10 since " + Day(second));
    EXPECT_EQ(d.State(1), TAttributeState::Ok);
    d = check(rules, 9, 4);
    EXPECT_EQ(d.State(0), TAttributeState::Ok);
    EXPECT_EQ(d.AttrReason[1], u"4 sectors wait to be remapped; grew from 1 to 4 since " + Day(second));

    // Pending sectors that were cleared lower the baseline: new ones are growth.
    check(rules, 9, 0);
    d = check(rules, 9, 2);
    EXPECT_EQ(d.AttrReason[1], u"2 sectors wait to be remapped; grew from 0 to 2 since " + Day(second));

    // Acknowledging one attribute leaves the other's warning.
    d = check(rules, 12, 3);
    ASSERT_TRUE(AcknowledgeWarnings(d, 197, rules));
    EXPECT_EQ(d.State(0), TAttributeState::Warning);
    EXPECT_EQ(d.State(1), TAttributeState::Ok);

    // A drive without a serial number keeps no baseline.
    TDriveInformation anonymous = Drive({{5, true, 100, 100, 36, 3}}, u"TEST DRIVE"_s, u"  "_s);
    EXPECT_FALSE(AcknowledgeWarnings(anonymous, 0, rules));
    rules.Baseline->Flush();
    EXPECT_TRUE(rules.Baseline->LastError().isEmpty()) << qPrintable(rules.Baseline->LastError());
    const auto bytes = test::ReadBytes(file);
    ASSERT_TRUE(bytes);
    const QJsonObject pending = QJsonDocument::fromJson(*bytes)
                                    .object()[u"Drives"_s][0][u"Counts"_s][u"197"_s]
                                    .toObject();
    EXPECT_EQ(pending[u"Count"_s].toInt(), 3);
    EXPECT_TRUE(pending[u"Acknowledged"_s].toBool());
    EXPECT_EQ(pending[u"Since"_s].toString(), u"2026-12-10"_s);
}

TEST(Verdicts, DamagedBaselineIsKeptAside)
{
    test::ScopedSandbox sandbox;
    const QString file = TDriveBaseline::PathIn(sandbox.path() + u"/"_s);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{ not json");
    f.close();
    TVerdictRules rules;
    rules.Baseline = std::make_shared<TDriveBaseline>(file);
    TDriveInformation d = Drive({{5, true, 100, 100, 36, 3}});
    EvaluateDrive(d, rules);
    EXPECT_EQ(d.AttrReason[0], u"3 sectors were reallocated"_s); // judged as first seen
    EXPECT_TRUE(rules.Baseline->LastError().contains(u"damaged"_s)) << qPrintable(rules.Baseline->LastError());
    EXPECT_TRUE(QFile::exists(file + u".damaged"_s));
}

// A stored readout keeps its stored states; the reasons are worked out again.
TEST(Verdicts, StoredVerdictsGetTheirReasons)
{
    TDriveList list;
    auto drive = std::make_unique<TDriveInformation>(
        Drive({{197, false, 100, 100, 0, 529}, {1, true, 60, 60, 36, 0}, {198, false, 100, 100, 0, 3}}));
    drive->SetState(0, TAttributeState::Warning);
    drive->SetState(1, TAttributeState::Warning);
    drive->Status = u"Pred Fail"_s;
    list.Add(std::move(drive)); // 198 stored as OK: judged before the rule existed
    ExplainStoredVerdicts(list, TVerdictRules{});
    const TDriveInformation &d = list.Items(0);
    EXPECT_EQ(d.AttrReason[0], u"529 sectors wait to be remapped"_s);
    EXPECT_EQ(d.AttrReason[1], u"in the lower half between threshold 36 and 100"_s);
    EXPECT_EQ(d.State(2), TAttributeState::Ok);
    EXPECT_TRUE(d.AttrReason[2].isEmpty());
    EXPECT_EQ(d.DriveReason, u"the drive itself predicts its failure"_s);
}

TEST(Decode, TemperatureFromAirflowWhenThereIsNo194)
{
    test::Sector airflow;
    airflow.Attribute(0, 190, 0x0022, 66, 47, {0x22, 0x00, 0x14, 0x00, 0x2d, 0x00});
    TDriveInformation d;
    DecodeAttributeData(d, airflow.span());
    EXPECT_EQ(d.TemperatureCurrent, 34);
    EXPECT_EQ(d.TemperatureLow, 20);
    EXPECT_EQ(d.TemperatureWorst, 45);

    test::Sector both = airflow;
    both.Attribute(1, 194, 0x0022, 100, 100, {0x28, 0x00, 0x10, 0x00, 0x30, 0x00});
    TDriveInformation e;
    DecodeAttributeData(e, both.span());
    EXPECT_EQ(e.TemperatureCurrent, 40);
}

// The middle mark is no sign on Seagate's packed error rates; elsewhere it
// still warns. Every warning can be acknowledged per attribute, and comes back
// when the value falls further.
TEST(Verdicts, MiddleMarkWithoutFalseAlarmsAndAcknowledgedValues)
{
    struct Case
    {
        const char16_t *model;
        int id;
        TAttributeState state;
    };
    TVerdictRules packed;
    packed.Database = TDriveDatabase::Parse(uR"({ "DEFAULT", "-", "-", "", "-v 5,raw16(raw16),Reallocated_Sector_Ct" },
                                               { "Packed", "PACKED P1", "", "", "-v 7,raw24/raw32" },)"_s);
    ASSERT_TRUE(packed.Database);
    for (const Case &c : {Case{u"ST3500418AS", 1, TAttributeState::Ok}, Case{u"ST3500418AS ATA Device", 7, TAttributeState::Ok},
                          Case{u"ST3500418AS", 195, TAttributeState::Ok}, Case{u"ST3500418AS", 3, TAttributeState::Warning},
                          Case{u"WDC WD5000AAKS-00TMA0", 1, TAttributeState::Warning},
                          Case{u"PACKED P1", 7, TAttributeState::Ok}, Case{u"PACKED P1", 1, TAttributeState::Warning}}) {
        TDriveInformation d = Drive({{c.id, true, 60, 60, 44, 0}}, QString::fromUtf16(c.model));
        EvaluateDrive(d, packed);
        EXPECT_EQ(d.State(0), c.state) << qPrintable(d.Model) << " attribute " << c.id;
    }

    test::ScopedSandbox sandbox;
    TVerdictRules rules;
    rules.Baseline = std::make_shared<TDriveBaseline>(TDriveBaseline::PathIn(sandbox.path() + u"/"_s));
    auto judge = [&rules](int current) {
        // 3 in the lower half, 190 a usage attribute at its threshold.
        TDriveInformation d = Drive({{3, true, current, current, 20, 0}, {190, false, current - 10, current - 10, 45, 0}});
        EvaluateDrive(d, rules);
        return d;
    };
    TDriveInformation d = judge(55);
    EXPECT_EQ(d.AttrReason[0], u"in the lower half between threshold 20 and 100"_s);
    EXPECT_EQ(d.AttrReason[1], u"usage attribute at its threshold"_s);
    ASSERT_TRUE(AcknowledgeWarnings(d, 3, rules));
    EXPECT_EQ(d.State(0), TAttributeState::Ok);
    EXPECT_EQ(d.State(1), TAttributeState::Warning); // acknowledged per attribute
    ASSERT_TRUE(AcknowledgeWarnings(d, 190, rules));
    EXPECT_FALSE(d.HasFlaggedAttribute());
    EXPECT_FALSE(judge(55).HasFlaggedAttribute());
    const TDriveInformation lower = judge(54); // fell further: both come back
    EXPECT_EQ(lower.State(0), TAttributeState::Warning);
    EXPECT_EQ(lower.State(1), TAttributeState::Warning);
}

// How our verdicts agree with the drive's own rule (an attribute with a
// non-zero threshold has failed when its value is at or below it, now or in
// the past), over the real tables and tables composed from the published
// layout: a pre-failure attribute that failed is "Failing" or "Failed in
// past", a usage one that fails now warns, one that failed only in the past
// is told without a flag, and nothing the drive calls sound fails.
TEST(Verdicts, AgreementWithTheDrivesOwnRule)
{
    std::vector<std::pair<QString, TDriveInformation>> tables;
    const QString root = test::SharedFixtures();
    for (const char *name : {"FUJITSU_MHY2120BH--0084000D", "ST9100821AS--3.CME", "Maxtor_96147H8--BAC51KJ0",
                             "WDC_WD5000AAKS--00TMA0-12.01C01"}) {
        const QString dir = root + u"/smart/"_s + QString::fromLatin1(name);
        const auto data = test::ReadBytes(dir + u"/data.bin"_s);
        const auto thresholds = test::ReadBytes(dir + u"/thresholds.bin"_s);
        if (root.isEmpty() || !data || !thresholds)
            continue;
        TDriveInformation d;
        DecodeAttributeData(d, test::Bytes(*data));
        DecodeThresholdData(d, test::Bytes(*thresholds));
        tables.emplace_back(QString::fromLatin1(name), d);
    }
    tables.emplace_back(u"composed: at thresholds"_s,
                        Drive({{1, true, 1, 1, 1, 0}, {5, true, 36, 36, 36, 0}, {7, true, 80, 30, 30, 0},
                               {190, false, 45, 45, 45, 0}, {190, false, 66, 40, 45, 0}, {194, false, 1, 1, 0, 0}}));
    tables.emplace_back(u"composed: a Seagate drive at home"_s,
                        Drive({{1, true, 60, 55, 44, 0}, {7, true, 65, 60, 30, 0}, {195, false, 55, 40, 0, 0}},
                              u"ST3500418AS"_s));

    int attributes = 0, failedNow = 0, failedPast = 0, agree = 0;
    for (auto &[name, d] : tables) {
        EvaluateDrive(d, TVerdictRules{});
        for (int s = 0; s < d.UsedSlots(); ++s) {
            const auto i = static_cast<std::size_t>(s);
            const bool judged = d.AttrThreshold[i] != 0;
            const bool now = judged && d.AttrCurrent[i] <= d.AttrThreshold[i];
            const bool past = judged && !now && d.AttrWorst[i] <= d.AttrThreshold[i];
            const auto state = d.State(s);
            bool ok = false;
            if (now)
                ok = d.AttrPreFailure[i] ? state == TAttributeState::Failing
                                         : state == TAttributeState::Warning && d.AttrReason[i].contains(u"usage"_s);
            else if (past)
                ok = d.AttrPreFailure[i] ? state == TAttributeState::FailedInPast
                                         : state == TAttributeState::Ok && !d.AttrReason[i].isEmpty();
            else
                ok = state != TAttributeState::Failing && state != TAttributeState::FailedInPast;
            EXPECT_TRUE(ok) << qPrintable(name) << " attribute " << d.AttrId[i] << ": "
                            << qPrintable(AttributeStateText(d.AttrState[i])) << " " << qPrintable(d.AttrReason[i]);
            ++attributes;
            failedNow += now;
            failedPast += past;
            agree += ok;
        }
    }
    std::cout << "[ figures  ] " << tables.size() << " tables, " << attributes << " attributes, " << failedNow
              << " failed now and " << failedPast << " in the past by the drive's rule; " << agree << " agree\n";
    RecordProperty("attributes", attributes);
    RecordProperty("agree", agree);
}
