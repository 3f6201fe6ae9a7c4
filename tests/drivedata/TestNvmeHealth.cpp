// The NVMe health log and the storage classes' figures: decoding, verdicts,
// and their block in the readout file.
#include "HealthLogBuilder.h"
#include "SectorBuilder.h"
#include "TestSupport.h"

#include "drivedata/DriveInformationStream.h"
#include "drivedata/NvmeHealth.h"
#include "drivedata/Verdicts.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

std::span<const std::uint8_t> Span(const QByteArray &a)
{
    return {reinterpret_cast<const std::uint8_t *>(a.constData()), static_cast<std::size_t>(a.size())};
}

TDriveHealth Decoded(const test::HealthLog &log)
{
    const auto h = DecodeHealthLog(Span(log.bytes));
    EXPECT_TRUE(h.has_value());
    return h.value_or(TDriveHealth{});
}

std::int32_t StateOf(const TDriveHealth &h, THealthField f)
{
    return h.StateOf(f);
}

constexpr std::int32_t kOk = 0, kFailing = 1, kWarning = 3;

} // namespace

TEST(NvmeHealthLog, DecodesTheFieldsOfARealDrive)
{
    const TDriveHealth h = Decoded(test::HealthLog::Pm981());
    const std::pair<THealthField, std::uint64_t> expected[] = {
        {THealthField::CriticalWarning, 0},       {THealthField::CompositeTemperature, 37},
        {THealthField::AvailableSpare, 100},      {THealthField::AvailableSpareThreshold, 10},
        {THealthField::PercentageUsed, 2},        {THealthField::DataUnitsRead, 24568431},
        {THealthField::DataUnitsWritten, 19243110}, {THealthField::PowerCycles, 1402},
        {THealthField::PowerOnHours, 3276},       {THealthField::UnsafeShutdowns, 87},
        {THealthField::MediaErrors, 0},           {THealthField::ErrorLogEntries, 1895},
        {THealthField::WarningTemperatureTime, 0}, {THealthField::CriticalTemperatureTime, 0},
    };
    for (const auto &[field, value] : expected)
        EXPECT_EQ(h.Value(field), value) << HealthFieldName(field).toStdString();
    EXPECT_FALSE(h.Value(THealthField::HealthStatus).has_value());
    EXPECT_TRUE(h.HasLog());
    EXPECT_FALSE(h.HasStorage());
}

TEST(NvmeHealthLog, EdgesOfTheLayout)
{
    // 128-bit counters with a high half saturate; 32-bit times are read whole.
    test::HealthLog log = test::HealthLog::Pm981();
    log.Number(160, 8, 5).Byte(168, 1).TemperatureTimes(0xFFFFFFFF, 7);
    TDriveHealth h = Decoded(log);
    EXPECT_EQ(h.Value(THealthField::MediaErrors), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(h.Value(THealthField::WarningTemperatureTime), 0xFFFFFFFFu);
    EXPECT_EQ(h.Value(THealthField::CriticalTemperatureTime), 7u);
    // No composite temperature reported; below freezing reads 0 °C, not a wrapped figure.
    EXPECT_FALSE(Decoded(test::HealthLog::Pm981().TemperatureKelvin(0)).Value(THealthField::CompositeTemperature));
    EXPECT_EQ(Decoded(test::HealthLog::Pm981().TemperatureKelvin(263)).Value(THealthField::CompositeTemperature), 0u);
    // Only a whole page is a page.
    const QByteArray page = test::HealthLog::Pm981().bytes;
    EXPECT_FALSE(DecodeHealthLog(Span(page.left(511))));
    EXPECT_FALSE(DecodeHealthLog(Span(page + '\0')));
    EXPECT_FALSE(DecodeHealthLog({}));
}

TEST(NvmeHealthVerdicts, Table)
{
    struct Row
    {
        const char *what;
        test::HealthLog log;
        THealthField field;
        std::int32_t state;
        QString reason; // contained in the drive's reasons; empty: none
    };
    const Row rows[] = {
        {"healthy drive", test::HealthLog::Pm981(), THealthField::CriticalWarning, kOk, QString()},
        {"spare and reliability bits", test::HealthLog::Qemu(0x05), THealthField::CriticalWarning, kFailing,
         u"available spare below threshold; reliability degraded"_s},
        {"temperature bit", test::HealthLog::Qemu(0x02), THealthField::CriticalWarning, kFailing,
         u"temperature outside its thresholds"_s},
        {"read-only media", test::HealthLog::Qemu(0x08), THealthField::CriticalWarning, kFailing,
         u"media in read-only mode"_s},
        {"volatile backup and PMR", test::HealthLog::Qemu(0x30), THealthField::CriticalWarning, kFailing,
         u"volatile memory backup failed; persistent memory region read-only"_s},
        {"a reserved bit is still named", test::HealthLog::Qemu(0x80), THealthField::CriticalWarning, kFailing,
         u"critical warning bit 7"_s},
        {"spare below its threshold", test::HealthLog::Pm981().Spare(9, 10), THealthField::AvailableSpare, kFailing,
         u"available spare 9 % below its threshold of 10 %"_s},
        {"spare at its threshold", test::HealthLog::Pm981().Spare(10, 10), THealthField::AvailableSpare, kOk,
         QString()},
        {"worn at 89 %", test::HealthLog::Pm981().PercentageUsed(89), THealthField::PercentageUsed, kOk, QString()},
        {"worn at 90 %", test::HealthLog::Pm981().PercentageUsed(90), THealthField::PercentageUsed, kWarning,
         u"90 % of the rated life used"_s},
        {"beyond the rated life", test::HealthLog::Pm981().PercentageUsed(255), THealthField::PercentageUsed,
         kWarning, u"255 % of the rated life used"_s},
        {"media errors", test::HealthLog::Pm981().MediaErrors(3), THealthField::MediaErrors, kWarning,
         u"3 media and data-integrity errors"_s},
        // Error-log entries count commands the host got wrong as well: many drives report thousands.
        {"error-log entries alone", test::HealthLog::Pm981().ErrorLogEntries(120000), THealthField::ErrorLogEntries,
         kOk, QString()},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        TDriveHealth h = Decoded(row.log);
        EXPECT_EQ(JudgeHealth(h, {}), row.state == kOk);
        EXPECT_EQ(StateOf(h, row.field), row.state);
        if (row.reason.isEmpty()) {
            EXPECT_EQ(h.ReasonText(), QString());
        } else {
            EXPECT_TRUE(h.ReasonText().contains(row.reason)) << h.ReasonText().toStdString();
        }
    }
}

TEST(NvmeHealthVerdicts, StorageClassesOfWindows)
{
    struct Row
    {
        const char *what;
        std::optional<std::uint64_t> healthStatus;
        QString operational;
        std::optional<std::uint64_t> wear, readUncorrected, writeUncorrected;
        std::int32_t state; // the worst of the drive
        QString reason;
    };
    const Row rows[] = {
        {"healthy", 0, u"OK"_s, 3, 0, 0, kOk, QString()},
        {"unhealthy", 2, u"OK"_s, 3, 0, 0, kFailing, u"the system reports the drive unhealthy"_s},
        {"warning", 1, u"OK"_s, 3, 0, 0, kWarning, u"the system reports a warning for the drive"_s},
        {"unknown health is no verdict", 5, QString(), std::nullopt, std::nullopt, std::nullopt, kOk, QString()},
        {"predictive failure", 0, u"OK, Predictive Failure"_s, 3, 0, 0, kFailing,
         u"the system predicts the drive's failure"_s},
        {"worn", 0, u"OK"_s, 93, 0, 0, kWarning, u"wear at 93 %"_s},
        {"uncorrected reads", 0, u"OK"_s, 3, 12, 0, kWarning, u"12 uncorrected read errors"_s},
        {"uncorrected writes", 0, u"OK"_s, 3, 0, 1, kWarning, u"1 uncorrected write errors"_s},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        TDriveHealth h;
        h.Set(THealthField::HealthStatus, row.healthStatus);
        h.OperationalStatus = row.operational;
        h.Set(THealthField::Wear, row.wear);
        h.Set(THealthField::ReadErrorsUncorrected, row.readUncorrected);
        h.Set(THealthField::WriteErrorsUncorrected, row.writeUncorrected);
        EXPECT_TRUE(h.HasFigures());
        EXPECT_EQ(JudgeHealth(h, {}), row.state == kOk);
        std::int32_t worst = h.OperationalState;
        for (const std::int32_t s : h.States)
            if (s == kFailing || (s == kWarning && worst == kOk))
                worst = s;
        EXPECT_EQ(worst, row.state);
        EXPECT_EQ(h.ReasonText(), row.reason);
    }
    // The bus and media type alone tell nothing of health.
    TDriveHealth bus;
    bus.Set(THealthField::BusType, kBusTypeNvme);
    bus.Set(THealthField::MediaType, 4);
    EXPECT_FALSE(bus.HasFigures());
    EXPECT_EQ(bus.ValueText(THealthField::BusType), u"NVMe"_s);
    EXPECT_EQ(bus.ValueText(THealthField::MediaType), u"SSD"_s);
}

TEST(NvmeHealthVerdicts, MediaErrorsAgainstTheBaseline)
{
    test::ScopedSandbox sandbox;
    QTemporaryDir dir;
    TVerdictRules rules;
    rules.Baseline = std::make_shared<TDriveBaseline>(dir.filePath(u"baseline.json"_s));
    rules.Today = QDate(2026, 3, 1);
    TDriveInformation drive;
    drive.Model = u"SAMSUNG MZVLB512HAJQ-000L7"_s;
    drive.SerialNumber = u"S3TNNX0K123456"_s;
    drive.Health = Decoded(test::HealthLog::Pm981().MediaErrors(2));

    // First seen with 2: warns until acknowledged.
    EXPECT_FALSE(EvaluateDrive(drive, rules));
    EXPECT_EQ(drive.DriveReason, u"2 media and data-integrity errors"_s);
    EXPECT_TRUE(drive.IsFlagged());
    ASSERT_TRUE(AcknowledgeWarnings(drive, 0, rules));
    EXPECT_FALSE(drive.IsFlagged());
    EXPECT_EQ(drive.DriveReason, QString());

    // Grown since: warns again and says from what.
    rules.Today = QDate(2026, 4, 1);
    drive.Health = Decoded(test::HealthLog::Pm981().MediaErrors(5));
    EXPECT_FALSE(EvaluateDrive(drive, rules));
    EXPECT_EQ(drive.DriveReason,
              u"5 media and data-integrity errors; media and data-integrity errors grew from 2 to 5 since 1 Mar 2026"_s);
    // The baseline survives in its file.
    rules.Baseline->Flush();
    TDriveBaseline again(dir.filePath(u"baseline.json"_s));
    EXPECT_EQ(again.Peek(drive.Model, drive.SerialNumber).at(kBaselineMediaErrors).Count, 2u);
}

TEST(NvmeHealthFile, RoundTripAndOlderLoaders)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"PC.wci"_s);
    TDriveList list;
    list.ComputerName = u"PC"_s;
    auto ata = std::make_unique<TDriveInformation>();
    ata->Model = u"ST9100821AS"_s;
    ata->AttributeCount = 1;
    ata->AttrId[0] = 194;
    auto nvme = std::make_unique<TDriveInformation>();
    nvme->Model = u"SAMSUNG MZVLB512HAJQ-000L7"_s;
    nvme->Health = Decoded(test::HealthLog::Pm981());
    auto windows = std::make_unique<TDriveInformation>();
    windows->Health.Set(THealthField::HealthStatus, kHealthUnhealthy);
    windows->Health.Set(THealthField::ReadErrorsUncorrected, 0);
    windows->Health.OperationalStatus = u"OK, Predictive Failure"_s;
    list.Add(std::move(ata));
    list.Add(std::move(nvme));
    list.Add(std::move(windows));
    EvaluateDrives(list);
    list.SaveToFile(path);

    const QByteArray bytes = test::ReadBytes(path).value_or(QByteArray());
    const qsizetype records = 208 + 3 * 9796;
    ASSERT_GT(bytes.size(), records);
    // A loader that knows nothing of the block counts three records and
    // ignores the rest as trailing bytes.
    EXPECT_LT(bytes.size() - records, 9796);
    EXPECT_EQ((bytes.size() - 208) / 9796, 3);
    EXPECT_EQ(bytes.mid(records, 4), QByteArray("VMHB"));
    // The records themselves are those of a file without health.
    TDriveList plain;
    plain.ComputerName = u"PC"_s;
    for (int i = 0; i < list.Count(); ++i) {
        auto d = std::make_unique<TDriveInformation>(list.Items(i));
        d->Health = TDriveHealth{};
        plain.Add(std::move(d));
    }
    plain.SaveToFile(dir.filePath(u"plain.wci"_s));
    const QByteArray plainBytes = test::ReadBytes(dir.filePath(u"plain.wci"_s)).value_or(QByteArray());
    EXPECT_EQ(plainBytes.size(), records);
    EXPECT_EQ(plainBytes.mid(8), bytes.mid(8, records - 8));

    TDriveList loaded;
    loaded.LoadFromFile(path);
    ASSERT_EQ(loaded.Count(), 3);
    EXPECT_TRUE(loaded.Items(0).Health.Empty());
    EXPECT_EQ(loaded.Items(1).Health.Values, list.Items(1).Health.Values);
    EXPECT_EQ(loaded.Items(2).Health.Values, list.Items(2).Health.Values);
    EXPECT_EQ(loaded.Items(2).Health.OperationalStatus, u"OK, Predictive Failure"_s);
    // Judged anew after loading, as a rebuilt list is.
    EvaluateDrives(loaded);
    EXPECT_FALSE(loaded.Items(1).IsFlagged());
    EXPECT_TRUE(loaded.Items(2).IsFlagged());

    // A file of today's programs loads unchanged, without health.
    TDriveList old;
    old.LoadFromFile(dir.filePath(u"plain.wci"_s));
    ASSERT_EQ(old.Count(), 3);
    EXPECT_TRUE(old.Items(1).Health.Empty());
    EXPECT_EQ(old.Items(0).AttrId[0], 194);
}

TEST(NvmeHealthFile, DamagedOrForeignBlocks)
{
    QTemporaryDir dir;
    TDriveList list;
    auto nvme = std::make_unique<TDriveInformation>();
    nvme->Health = Decoded(test::HealthLog::Pm981());
    list.Add(std::move(nvme));
    list.SaveToFile(dir.filePath(u"a.wci"_s));
    const QByteArray whole = test::ReadBytes(dir.filePath(u"a.wci"_s)).value_or(QByteArray());
    const qsizetype block = 208 + 9796;
    struct Row
    {
        const char *what;
        QByteArray bytes;
        bool health;
    };
    QByteArray otherVersion = whole;
    otherVersion[block + 4] = 2;
    QByteArray unknownFields = whole;
    unknownFields[block + 8 + 2 + 3] = char(0x80); // a field bit beyond those known
    const Row rows[] = {
        {"whole", whole, true},
        {"cut in its values", whole.left(block + 40), false},
        {"cut after its magic", whole.left(block + 5), false},
        {"another version", otherVersion, false},
        {"fields this program does not know", unknownFields, false},
        {"plain trailing bytes", whole.left(block) + QByteArray(100, '\x55'), false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const QString path = dir.filePath(u"b.wci"_s);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(row.bytes);
        f.close();
        TDriveList loaded;
        loaded.LoadFromFile(path);
        ASSERT_EQ(loaded.Count(), 1);
        EXPECT_EQ(!loaded.Items(0).Health.Empty(), row.health);
    }
}
