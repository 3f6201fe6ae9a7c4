#include "SectorBuilder.h"
#include "TestSupport.h"

#include "drivedata/SmartTypes.h"
#include "drivedata/Verdicts.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using valmora::test::Sector;

namespace {

class OtherPersistent final : public TPersistent
{
};

TDriveInformation DriveWithSlot(int id, bool preFailure, int current, int worst, int threshold, std::int64_t raw)
{
    TDriveInformation d;
    d.AttributeCount = 1;
    d.AttrId[0] = id;
    d.AttrPreFailure[0] = preFailure;
    d.AttrCurrent[0] = current;
    d.AttrWorst[0] = worst;
    d.AttrThreshold[0] = threshold;
    d.AttrRaw[0] = raw;
    return d;
}

} // namespace

TEST(DriveModel, NewDriveIsEmptyAndNotFlagged)
{
    const TDriveInformation d;
    EXPECT_EQ(d.AttributeCount, 0);
    EXPECT_FALSE(d.HasFlaggedAttribute());
    EXPECT_EQ(d.TemperatureCurrent + d.TemperatureWorst + d.TemperatureLow, 0);
    EXPECT_EQ(d.Size, 0);
    EXPECT_TRUE(d.Model.isEmpty());
}

TEST(DriveModel, FlaggedLooksAtAllSlots)
{
    TDriveInformation d;
    d.AttributeCount = 3;
    d.SetState(200, TAttributeState::Warning);
    EXPECT_TRUE(d.HasFlaggedAttribute());
    d.AttrState[200] = 0;
    d.AttrState[255] = 7;
    EXPECT_TRUE(d.HasFlaggedAttribute());
}

TEST(DriveModel, AssignCopiesEverySlotAndIgnoresOtherKinds)
{
    TDriveInformation source;
    source.Model = u"Model X"_s;
    source.Size = 1'000'000'000'000;
    source.AttributeCount = 2;
    source.AttrId[0] = 5;
    source.AttrRaw[255] = 42; // beyond the used slots
    source.AttrState[300 % 256] = 2;
    source.TemperatureWorst = 55;

    TDriveInformation target;
    target.Assign(source);
    EXPECT_EQ(target, source);
    EXPECT_EQ(target.AttrRaw[255], 42);

    TDriveInformation before = target;
    target.Assign(OtherPersistent{});
    EXPECT_EQ(target, before);
    target.Assign(target); // self
    EXPECT_EQ(target, before);
}

TEST(DriveModel, ListOwnsItsDrivesAndChecksIndices)
{
    TDriveList list;
    list.ComputerName = u"\\\\PC1"_s;
    list.ReadoutTime = 42005.5;
    list.ClearDrives(); // empty: nothing happens
    EXPECT_EQ(list.Count(), 0);

    auto d = std::make_unique<TDriveInformation>();
    d->Model = u"first"_s;
    EXPECT_EQ(list.Add(std::move(d)), 0);
    EXPECT_EQ(list.Add(std::make_unique<TDriveInformation>()), 1);
    EXPECT_EQ(list.Items(0).Model, u"first"_s);

    for (int bad : {-1, 2, 1000}) {
        try {
            (void)list.Items(bad);
            ADD_FAILURE() << "index " << bad << " was accepted";
        } catch (const EListError &e) {
            EXPECT_EQ(e.message(), u"Argument out of range"_s);
        }
    }

    list.ClearDrives();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ComputerName, u"\\\\PC1"_s);
    EXPECT_EQ(list.ReadoutTime, 42005.5);
}

TEST(DriveModel, StateWordsAndStoredNumbers)
{
    for (auto state : {TAttributeState::Ok, TAttributeState::Failing, TAttributeState::FailedInPast,
                       TAttributeState::Warning})
        EXPECT_EQ(AttributeStateFromNumber(AttributeStateNumber(state)), state);
    EXPECT_EQ(AttributeStateNumber(TAttributeState::Warning), 3); // the readout files' number
    EXPECT_EQ(AttributeStateFromNumber(7), std::nullopt);
    EXPECT_EQ(AttributeStateText(TAttributeState::FailedInPast), u"Failed in past"_s);
    EXPECT_EQ(AttributeStateText(0), u"OK"_s);
    EXPECT_EQ(AttributeStateText(1), u"Failing"_s);
    EXPECT_EQ(AttributeStateText(2), u"Failed in past"_s);
    EXPECT_EQ(AttributeStateText(3), u"Warning"_s);
    EXPECT_EQ(AttributeStateText(4), u"Nieznany stan"_s);
    EXPECT_EQ(AttributeStateText(-1), u"Nieznany stan"_s);
}

TEST(Evaluate, VerdictRules)
{
    struct Case
    {
        int id;
        bool preFailure;
        int current, worst, threshold;
        std::int64_t raw;
        TAttributeState state;
        const char16_t *reason = nullptr; // checked where given
    };
    const Case cases[] = {
        // The worked examples.
        // middle mark 36 + 64/2 = 68
        {1, true, 60, 55, 36, 0, TAttributeState::Warning, u"in the lower half between threshold 36 and 100"},
        {1, true, 70, 55, 36, 0, TAttributeState::Ok, u""},
        {1, true, 35, 35, 36, 0, TAttributeState::Failing, u"current 35 is at or below the threshold 36"},
        {1, true, 70, 30, 36, 0, TAttributeState::FailedInPast, u"worst 30 fell to the threshold in the past"},
        {5, true, 100, 100, 36, 501, TAttributeState::Warning, u"501 reallocated sectors (more than 500)"},
        {5, true, 100, 100, 36, 1850, TAttributeState::Warning, u"1,850 reallocated sectors (more than 500)"},
        {5, true, 100, 100, 36, 500, TAttributeState::Ok, u""},
        {3, true, 240, 240, 20, 0, TAttributeState::Ok}, // best 253: middle mark 136
        {3, true, 200, 200, 20, 0, TAttributeState::Ok}, // best 100: middle mark 60
        {7, true, 253, 253, 0, 0, TAttributeState::Ok},  // no threshold
        // A value at its threshold has crossed it (the ATA rule); the middle mark is strict and truncates.
        {1, true, 36, 36, 36, 0, TAttributeState::Failing, u"current 36 is at or below the threshold 36"},
        {1, true, 1, 1, 1, 0, TAttributeState::Failing, u"current 1 is at or below the threshold 1"},
        {1, true, 70, 36, 36, 0, TAttributeState::FailedInPast, u"worst 36 fell to the threshold in the past"},
        {1, true, 68, 37, 36, 0, TAttributeState::Ok},      // exactly at the middle mark
        {1, true, 67, 37, 36, 0, TAttributeState::Warning},
        {1, true, 66, 66, 35, 0, TAttributeState::Warning},   // 35 + 65/2 truncates to 67
        {1, true, 67, 67, 35, 0, TAttributeState::Ok},
        {4, true, 231, 231, 220, 0, TAttributeState::Warning}, // above 230: best 253, mark 220 + 33/2 = 236
        {4, true, 230, 230, 220, 0, TAttributeState::Ok},      // best 100: negative half-margin
        {1, true, 150, 150, 120, 0, TAttributeState::Ok},     // threshold above best: negative half-margin
        // Usage (old-age) attributes: at the threshold a warning, only in the past a reason alone.
        {4, false, 1, 1, 36, 0, TAttributeState::Warning, u"usage attribute at its threshold"},
        {190, false, 45, 45, 45, 0, TAttributeState::Warning, u"usage attribute at its threshold"},
        {190, false, 66, 40, 45, 0, TAttributeState::Ok, u"usage attribute at its threshold in the past"},
        {190, false, 1, 1, 0, 0, TAttributeState::Ok, u""}, // no threshold, never judged
        {190, false, 60, 50, 45, 0, TAttributeState::Ok, u""}, // no middle mark for usage attributes
        // Reallocated sectors are the low 32 bits of the raw value.
        {5, true, 100, 100, 36, 0x07D000000000LL, TAttributeState::Ok}, // raw bytes 00 00 00 00 d0 07
        {5, true, 100, 100, 36, 0x0001000001F5LL, TAttributeState::Warning},
        {5, true, 100, 100, 36, 0xFFFFFFFFFFFFLL, TAttributeState::Warning},
        {5, false, 100, 100, 36, 100000, TAttributeState::Ok},
        {6, true, 100, 100, 36, 100000, TAttributeState::Ok}, // the raw rule is attribute 5's only
        // Values no drive reports, from a damaged file: judged without overflow.
        {1, true, 100, 100, INT32_MIN, 0, TAttributeState::Ok},
        {1, true, INT32_MIN, INT32_MIN, INT32_MAX, 0, TAttributeState::Failing},
        {1, true, INT32_MAX, INT32_MAX, INT32_MAX, 0, TAttributeState::Failing},
        {4, true, INT32_MAX, INT32_MAX, -5, 0, TAttributeState::Ok},
    };
    // The rules of the thresholds and the middle mark alone: counts are judged in TestVerdicts.
    TVerdictRules thresholdsOnly;
    thresholdsOnly.SectorWarnings = false;
    for (const Case &c : cases) {
        TDriveInformation d = DriveWithSlot(c.id, c.preFailure, c.current, c.worst, c.threshold, c.raw);
        const bool healthy = EvaluateDrive(d, thresholdsOnly);
        SCOPED_TRACE(testing::Message() << "id " << c.id << " current " << c.current << " worst " << c.worst
                                        << " threshold " << c.threshold << " raw " << c.raw);
        EXPECT_EQ(d.State(0), c.state);
        EXPECT_EQ(healthy, c.state == TAttributeState::Ok);
        if (c.reason) {
            EXPECT_EQ(d.AttrReason[0], QString::fromUtf16(c.reason));
        }
    }
}

TEST(Evaluate, ResetsEveryStateAndBoundsTheCount)
{
    TDriveInformation d;
    d.AttrState.fill(AttributeStateNumber(TAttributeState::Failing));
    EXPECT_TRUE(EvaluateDrive(d));
    EXPECT_FALSE(d.HasFlaggedAttribute());

    // A damaged file may carry any count: only the 256 slots are walked.
    for (int count : {1000, -5, 256}) {
        TDriveInformation big;
        big.AttributeCount = count;
        big.AttrId.fill(1);
        big.AttrPreFailure.fill(true);
        big.AttrThreshold.fill(50);
        big.AttrCurrent.fill(10);
        const bool healthy = EvaluateDrive(big);
        EXPECT_EQ(healthy, count <= 0) << count;
        EXPECT_EQ(big.State(255), count <= 0 ? TAttributeState::Ok : TAttributeState::Failing) << count;
    }
}

TEST(Evaluate, ReadoutTimeMovesOnlyWithAHealthyDrive)
{
    auto flagged = [] {
        auto d = std::make_unique<TDriveInformation>(DriveWithSlot(1, true, 10, 10, 50, 0));
        return d;
    };
    TDriveList list;
    list.ReadoutTime = 1.0;
    EXPECT_TRUE(EvaluateDrives(list)); // empty list
    EXPECT_EQ(list.ReadoutTime, 1.0);

    list.Add(flagged());
    list.Add(flagged());
    EXPECT_FALSE(EvaluateDrives(list));
    EXPECT_EQ(list.ReadoutTime, 1.0);

    list.Add(std::make_unique<TDriveInformation>());
    const TDateTime before = Now();
    EXPECT_FALSE(EvaluateDrives(list));
    EXPECT_GE(list.ReadoutTime, before);
    EXPECT_EQ(list.Items(0).State(0), TAttributeState::Failing);
}

TEST(Decode, WalksTheThirtyEntriesSkippingEmptyOnes)
{
    Sector s;
    s.Attribute(0, 1, 0x000F, 100, 99, {1, 2, 3, 4, 5, 6});
    // position 1 left empty
    s.Attribute(2, 9, 0x0032, 96, 96, {0xA0, 0x08});
    s.Attribute(29, 240, 0x0018, 200, 200); // last entry of the table
    // Bytes 362 on are the sector's status fields; a non-zero byte there is no attribute.
    s.bytes[362] = 0x82;
    s.bytes[363] = 0x01;
    s.bytes[374] = 0x7B;

    TDriveInformation d;
    DecodeAttributeData(d, s.span());
    ASSERT_EQ(d.AttributeCount, 3);
    EXPECT_EQ(d.AttrId[0], 1);
    EXPECT_TRUE(d.AttrPreFailure[0]);
    EXPECT_TRUE(d.AttrFlagBit3[0]);
    EXPECT_FALSE(d.AttrFlagBit4[0]);
    EXPECT_EQ(d.AttrCurrent[0], 100);
    EXPECT_EQ(d.AttrWorst[0], 99);
    EXPECT_EQ(d.AttrRaw[0], 0x060504030201LL);
    EXPECT_EQ(d.AttrId[1], 9);
    EXPECT_FALSE(d.AttrPreFailure[1]);
    EXPECT_TRUE(d.AttrFlagBit4[1]);
    EXPECT_EQ(d.AttrRaw[1], 2208);
    EXPECT_EQ(d.AttrId[2], 240);
    EXPECT_TRUE(d.AttrFlagBit4[2] && d.AttrFlagBit3[2]);
    EXPECT_EQ(d.AttrId[3], 0);
}

TEST(Decode, NeverReadsPastTheBlock)
{
    Sector s;
    for (int i = 0; i < 30; ++i)
        s.Attribute(i, static_cast<std::uint8_t>(i + 1), 1, 100, 100);
    struct Case
    {
        std::size_t size;
        int count;
    };
    for (const Case c : {Case{0, 0}, Case{1, 0}, Case{13, 0}, Case{14, 1}, Case{25, 1}, Case{26, 2}, Case{362, 30},
                         Case{512, 30}}) {
        TDriveInformation d;
        DecodeAttributeData(d, s.span().first(c.size));
        EXPECT_EQ(d.AttributeCount, c.count) << c.size;
        TDriveInformation t = d;
        DecodeThresholdData(t, s.span().first(c.size));
        EXPECT_EQ(t.AttributeCount, c.count) << c.size;
    }
}

TEST(Decode, AppendsButNeverBeyondTheTable)
{
    Sector s;
    for (int i = 0; i < 30; ++i)
        s.Attribute(i, static_cast<std::uint8_t>(i + 1), 1, 100, 100, {static_cast<std::uint8_t>(i)});
    TDriveInformation d;
    DecodeAttributeData(d, s.span());
    DecodeAttributeData(d, s.span());
    EXPECT_EQ(d.AttributeCount, 60);
    EXPECT_EQ(d.AttrId[30], 1);
    for (int k = 0; k < 8; ++k)
        DecodeAttributeData(d, s.span());
    EXPECT_EQ(d.AttributeCount, 256);
    EXPECT_EQ(d.AttrId[255], 16); // slot 255 is entry 15 of the ninth block
}

TEST(Decode, Temperature)
{
    struct Case
    {
        std::uint8_t current, worst;
        int tCurrent, tWorst, tLow;
    };
    // Raw bytes 2D 00 14 00 37 00.
    for (const Case c : {Case{100, 100, 45, 55, 20}, Case{45, 50, 45, 50, 20}}) {
        Sector s;
        s.Attribute(0, 194, 0x0022, c.current, c.worst, {0x2D, 0, 0x14, 0, 0x37, 0});
        TDriveInformation d;
        DecodeAttributeData(d, s.span());
        EXPECT_EQ(d.TemperatureCurrent, c.tCurrent);
        EXPECT_EQ(d.TemperatureWorst, c.tWorst);
        EXPECT_EQ(d.TemperatureLow, c.tLow);
    }
    // The last attribute 194 wins; a block without one leaves the temperatures.
    Sector twice;
    twice.Attribute(0, 194, 0, 100, 100, {30, 0, 10, 0, 40, 0}).Attribute(3, 194, 0, 100, 100, {33, 0, 11, 0, 44, 0});
    TDriveInformation d;
    DecodeAttributeData(d, twice.span());
    EXPECT_EQ(d.TemperatureCurrent, 33);
    EXPECT_EQ(d.TemperatureLow, 11);
    EXPECT_EQ(d.TemperatureWorst, 44);
    DecodeAttributeData(d, Sector{}.span());
    EXPECT_EQ(d.TemperatureCurrent, 33);
    EXPECT_EQ(d.AttributeCount, 2);
}

TEST(Decode, ThresholdsAreMatchedByAttributeNumber)
{
    Sector data;
    data.Attribute(0, 1, 1, 100, 100).Attribute(1, 5, 1, 100, 100).Attribute(2, 7, 1, 100, 100).Attribute(
        3, 194, 0, 40, 40);
    Sector thresholds; // another order, a gap, an extra number, none for 194
    thresholds.Threshold(0, 7, 30).Threshold(2, 1, 51).Threshold(3, 200, 99).Threshold(4, 5, 140).Threshold(5, 1, 77);
    TDriveInformation d;
    d.AttrThreshold[3] = 12; // a stale value is replaced
    d.AttrThreshold[4] = 13; // an unused slot is left alone
    DecodeAttributeData(d, data.span());
    DecodeThresholdData(d, thresholds.span());
    EXPECT_EQ(d.AttrThreshold[0], 51); // the first entry for a number counts
    EXPECT_EQ(d.AttrThreshold[1], 140);
    EXPECT_EQ(d.AttrThreshold[2], 30);
    EXPECT_EQ(d.AttrThreshold[3], 0);
    EXPECT_EQ(d.AttrThreshold[4], 13);
    EXPECT_EQ(d.AttributeCount, 4);
    // Judged against its own threshold (140), attribute 5 at 100 fails.
    EXPECT_FALSE(EvaluateDrive(d));
    EXPECT_EQ(d.State(1), TAttributeState::Failing);
    EXPECT_EQ(d.State(0), TAttributeState::Ok);
}

// The real sectors, checked against values read by hand from their bytes.
class RealSectors : public testing::Test
{
protected:
    void Load(const char *drive)
    {
        const QString root = valmora::test::SharedFixtures();
        if (root.isEmpty())
            GTEST_SKIP() << "shared fixtures absent: no real S.M.A.R.T. sectors to check";
        const QString dir = root + u"/smart/"_s + QString::fromUtf8(drive);
        const auto data = valmora::test::ReadBytes(dir + u"/data.bin"_s);
        const auto thresholds = valmora::test::ReadBytes(dir + u"/thresholds.bin"_s);
        if (!data || !thresholds)
            GTEST_SKIP() << "no sectors in " << qPrintable(dir);
        ASSERT_EQ(data->size(), 512);
        ASSERT_EQ(thresholds->size(), 512);
        DecodeAttributeData(d, valmora::test::Bytes(*data));
        DecodeThresholdData(d, valmora::test::Bytes(*thresholds));
        healthy = EvaluateDrive(d);
        TDriveInformation seedOnly = d;
        TVerdictRules rules;
        rules.SectorWarnings = false;
        healthyWithoutSectorWarnings = EvaluateDrive(seedOnly, rules);
    }
    int Slot(int id) const
    {
        for (int i = 0; i < d.AttributeCount; ++i)
            if (d.AttrId[static_cast<std::size_t>(i)] == id)
                return i;
        return -1;
    }
    TDriveInformation d;
    bool healthy = false;
    bool healthyWithoutSectorWarnings = false;
};

TEST_F(RealSectors, FujitsuAttributesAfterGapsAndVendorBytesInRaw)
{
    Load("FUJITSU_MHY2120BH--0084000D");
    if (IsSkipped())
        return;
    EXPECT_EQ(d.AttributeCount, 21);
    // Entries 18 and 19 empty, then 203; 21 to 23 empty, then 240.
    EXPECT_EQ(d.AttrId[19], 203);
    EXPECT_EQ(d.AttrId[20], 240);
    EXPECT_EQ(d.AttrRaw[19], 0x0064FAD70376LL); // 76 03 d7 fa 64 00
    // Attribute 5: 05 33 00 64 64 00 00 00 00 d0 07, threshold 24: zero sectors.
    const int five = Slot(5);
    ASSERT_EQ(five, 4);
    EXPECT_EQ(d.AttrRaw[4], 0x07D000000000LL);
    EXPECT_EQ(d.AttrThreshold[4], 24);
    EXPECT_EQ(d.State(4), TAttributeState::Ok);
    // 194: 1c 00 0f 00 36 00, normalised 100.
    EXPECT_EQ(d.TemperatureCurrent, 28);
    EXPECT_EQ(d.TemperatureLow, 15);
    EXPECT_EQ(d.TemperatureWorst, 54);
    EXPECT_EQ(d.AttrThreshold[static_cast<std::size_t>(Slot(200))], 60);
    EXPECT_TRUE(healthy);
}

TEST_F(RealSectors, SeagateTemperatureInNormalisedValue)
{
    Load("ST9100821AS--3.CME");
    if (IsSkipped())
        return;
    EXPECT_EQ(d.AttributeCount, 24);
    // 194: c2 12 00 22 35 22 00 00 00 14 00: current 34 = raw byte 0, so worst = normalised 53.
    EXPECT_EQ(d.TemperatureCurrent, 34);
    EXPECT_EQ(d.TemperatureWorst, 53);
    EXPECT_EQ(d.TemperatureLow, 0);
    // 9: 09 32 00 60 60 19 11 00 00 b3 70.
    EXPECT_EQ(d.AttrRaw[static_cast<std::size_t>(Slot(9))], 0x70B300001119LL);
    // 4: current 1 below threshold 20, a usage attribute: it warns, with or without the sector rules.
    const auto four = static_cast<std::size_t>(Slot(4));
    EXPECT_EQ(d.AttrCurrent[four], 1);
    EXPECT_EQ(d.AttrThreshold[four], 20);
    EXPECT_FALSE(d.AttrPreFailure[four]);
    EXPECT_EQ(d.State(four), TAttributeState::Warning);
    EXPECT_EQ(d.AttrReason[four], u"usage attribute at its threshold"_s);
    // 196: 31 08 00 00 97 5a, reallocation events in the low word.
    EXPECT_EQ(d.AttrReason[static_cast<std::size_t>(Slot(196))], u"2,097 reallocation events"_s);
    // 1 at 97 and 7 at 78 stand above their middle marks.
    EXPECT_EQ(d.State(Slot(1)), TAttributeState::Ok);
    EXPECT_EQ(d.State(Slot(7)), TAttributeState::Ok);
    EXPECT_EQ(d.AttrId[23], 254);
    EXPECT_FALSE(healthy);
    EXPECT_FALSE(healthyWithoutSectorWarnings);
}

TEST_F(RealSectors, MaxtorFullTableIdsNotAscending)
{
    Load("Maxtor_96147H8--BAC51KJ0");
    if (IsSkipped())
        return;
    EXPECT_EQ(d.AttributeCount, 30);
    EXPECT_EQ(d.AttrId[23], 209);
    EXPECT_EQ(d.AttrId[24], 96);
    EXPECT_EQ(d.AttrId[29], 101);
    // 8: 08 27 00 fa ef 93 2c 0d 00 54 e0, threshold 187.
    const auto eight = static_cast<std::size_t>(Slot(8));
    EXPECT_EQ(d.AttrCurrent[eight], 250);
    EXPECT_EQ(d.AttrWorst[eight], 239);
    EXPECT_EQ(d.AttrRaw[eight], 0xE054000D2C93LL);
    EXPECT_EQ(d.AttrThreshold[eight], 187);
    EXPECT_EQ(d.AttrThreshold[static_cast<std::size_t>(Slot(203))], 180);
    // Two sectors wait to be remapped (197: 02 00 00 00 00 00).
    EXPECT_EQ(d.State(Slot(197)), TAttributeState::Warning);
    EXPECT_EQ(d.AttrReason[static_cast<std::size_t>(Slot(197))], u"2 sectors wait to be remapped"_s);
    EXPECT_EQ(d.AttrReason[static_cast<std::size_t>(Slot(5))], u"69 sectors were reallocated"_s);
    EXPECT_FALSE(healthy);
    EXPECT_TRUE(healthyWithoutSectorWarnings);
}

TEST_F(RealSectors, WesternDigitalPlainDesktopDrive)
{
    Load("WDC_WD5000AAKS--00TMA0-12.01C01");
    if (IsSkipped())
        return;
    EXPECT_EQ(d.AttributeCount, 17);
    // 5: 05 33 00 c0 c0 3f 00 ..., threshold 140.
    const auto five = static_cast<std::size_t>(Slot(5));
    EXPECT_EQ(d.AttrCurrent[five], 192);
    EXPECT_EQ(d.AttrRaw[five], 63);
    EXPECT_EQ(d.AttrThreshold[five], 140);
    // 194: c2 22 00 6e 51 28 00 00 00 00 00.
    EXPECT_EQ(d.TemperatureCurrent, 40);
    EXPECT_EQ(d.TemperatureWorst, 0);
    EXPECT_EQ(d.TemperatureLow, 0);
    // 529 pending sectors (197: 11 02 00 00 00 00) beside 63 reallocated ones.
    EXPECT_EQ(d.State(Slot(197)), TAttributeState::Warning);
    EXPECT_EQ(d.AttrReason[static_cast<std::size_t>(Slot(197))], u"529 sectors wait to be remapped"_s);
    EXPECT_EQ(d.AttrReason[static_cast<std::size_t>(Slot(5))], u"63 sectors were reallocated"_s);
    EXPECT_EQ(d.AttrReason[static_cast<std::size_t>(Slot(196))], u"63 reallocation events"_s);
    EXPECT_FALSE(healthy);
    EXPECT_TRUE(healthyWithoutSectorWarnings);
}
