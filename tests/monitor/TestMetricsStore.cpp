// The metrics of cycles, without HTTP: what a recorded failing drive gives,
// what the monitor makes of an unreachable computer, the counts of failed
// stages, and the exposition text as Prometheus' own tool reads it.
#include "MonitorTestSupport.h"
#include "TestSupport.h"

#include "drivedata/WmiDriveReader.h"
#include "monitor/MetricsStore.h"
#include "monitor/Monitor.h"
#include "refresh/StateFile.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

// The drive's labels, its name \\.\PHYSICALDRIVE0 escaped.
QByteArray driveLabels(const QString &computer, const TDriveInformation &drive)
{
    return "computer=\"" + computer.toUtf8() + R"(",drive="\\\\.\\PHYSICALDRIVE0",model=")" + drive.Model.toUtf8()
        + "\",serial=\"" + drive.SerialNumber.toUtf8() + '"';
}

// The drives of the recorded failing computer, and the reader's result.
int readFailing(TDriveList &list)
{
    return ReadComputerDrives(u"FAILING-PC"_s, list, {}, {}, nullptr,
                              test::OwnFixture(u"drivedata/recordings"_s));
}

std::unique_ptr<TAddedComputer> checked(const QString &name, int state)
{
    auto computer = std::make_unique<TAddedComputer>(name);
    computer->State = state;
    return computer;
}

const auto hours = [](const TDriveInformation &) { return false; };

// The sample of the series, or NaN (and a failure naming it) when missing.
double at(const std::map<QByteArray, double> &samples, const QByteArray &series)
{
    const auto found = samples.find(series);
    if (found != samples.end())
        return found->second;
    ADD_FAILURE() << "no sample " << series.constData();
    return std::nan("");
}

} // namespace

TEST(MetricsStore, FailingRecordingGivesItsDriveFlaggedAndItsComputerSuspected)
{
    TDriveList list;
    ASSERT_EQ(readFailing(list), kReadFlagged);
    ASSERT_EQ(list.Count(), 1);
    const TDriveInformation &drive = list.Items(0);
    const QByteArray kDrive = driveLabels(u"FAILING-PC"_s, drive);

    TMetricsStore store;
    store.ApplyCycle({MetricsOfComputer(u"FAILING-PC"_s, StateFromReadResult(kReadFlagged), list, 1000.5, hours)}, {},
                     2.25, 1001);
    const QByteArray text = store.Render(TExposition::Prometheus);
    const auto samples = test::Samples(text);

    EXPECT_EQ(at(samples, R"(valmora_computer_state{computer="FAILING-PC",state="suspected"})"), 1);
    EXPECT_EQ(at(samples, R"(valmora_computer_state{computer="FAILING-PC",state="good"})"), 0);
    EXPECT_EQ(at(samples, R"(valmora_computer_last_check_timestamp_seconds{computer="FAILING-PC"})"), 1000.5);
    EXPECT_EQ(at(samples, "valmora_drive_flagged{" + kDrive + "}"), 1);
    // Every used attribute with its five figures; 5 is the failing one.
    int failing = 0;
    for (int slot = 0; slot < drive.UsedSlots(); ++slot) {
        const auto s = static_cast<std::size_t>(slot);
        const QByteArray id = QByteArray::number(drive.AttrId[s]);
        const auto prefixed = [&](const char *name) {
            for (const auto &[series, value] : samples)
                if (series.startsWith(QByteArray(QByteArray(name) + '{' + kDrive + ",id=\"" + id + "\",attribute=\"")))
                    return value;
            ADD_FAILURE() << name << " of attribute " << id.constData() << " is missing";
            return -1.0;
        };
        EXPECT_EQ(prefixed("valmora_drive_attribute_value"), drive.AttrCurrent[s]);
        EXPECT_EQ(prefixed("valmora_drive_attribute_worst"), drive.AttrWorst[s]);
        EXPECT_EQ(prefixed("valmora_drive_attribute_threshold"), drive.AttrThreshold[s]);
        EXPECT_EQ(prefixed("valmora_drive_attribute_raw"), static_cast<double>(drive.AttrRaw[s]));
        EXPECT_EQ(prefixed("valmora_drive_attribute_verdict"), drive.AttrState[s]);
        failing += drive.AttrState[s] == 1 ? 1 : 0;
    }
    EXPECT_EQ(failing, 1);
    EXPECT_TRUE(text.contains(
        QByteArray("valmora_drive_attribute_verdict{" + kDrive + ",id=\"5\",attribute=\"Reallocated_Sector_Ct\"} 1\n")));
    EXPECT_EQ(at(samples, "valmora_drive_temperature_celsius{" + kDrive + ",kind=\"current\"}"), drive.TemperatureCurrent);
    EXPECT_GT(at(samples, "valmora_drive_power_on_seconds{" + kDrive + "}"), 0);
    EXPECT_EQ(at(samples, "valmora_cycles_total"), 1);
    EXPECT_EQ(at(samples, "valmora_last_cycle_duration_seconds"), 2.25);
    EXPECT_EQ(at(samples, "valmora_last_cycle_computers_checked"), 1);

    if (const QString why = test::PromtoolMissing(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    EXPECT_EQ(test::PromtoolProblem(text), QString());
}

TEST(MetricsStore, OpenMetricsNamesCountersByFamilyAndEnds)
{
    TMetricsStore store;
    store.ApplyCycle({}, {}, 0.5, 10);
    const QByteArray om = store.Render(TExposition::OpenMetrics);
    EXPECT_TRUE(om.endsWith("# EOF\n"));
    EXPECT_TRUE(om.contains("# TYPE valmora_cycles counter\nvalmora_cycles_total 1\n"));
    EXPECT_TRUE(om.contains("# TYPE valmora_check_errors counter\n"));
    const QByteArray text = store.Render(TExposition::Prometheus);
    EXPECT_FALSE(text.contains("# EOF"));
    EXPECT_TRUE(text.contains("# TYPE valmora_cycles_total counter\nvalmora_cycles_total 1\n"));
}

TEST(MetricsStore, LabelValuesAreEscaped)
{
    const std::pair<QString, QByteArray> cases[] = {
        {u"PC1"_s, "PC1"},
        {u"back\\slash"_s, R"(back\\slash)"},
        {u"say \"hi\""_s, R"(say \"hi\")"},
        {u"two\nlines"_s, R"(two\nlines)"},
        {u"Zürich"_s, "Z\xc3\xbcrich"},
    };
    for (const auto &[value, escaped] : cases)
        EXPECT_EQ(EscapeLabelValue(value), escaped) << value.toStdString();

    // A model a drive made up itself still gives a text Prometheus reads.
    TDriveList list;
    ASSERT_EQ(readFailing(list), kReadFlagged);
    list.Items(0).Model = u"ACME \"Fast\"\\Disk\nRev2"_s;
    TMetricsStore store;
    store.ApplyCycle({MetricsOfComputer(u"FAILING-PC"_s, StateSuspected, list, 1, hours)}, {}, 1, 1);
    const QByteArray text = store.Render(TExposition::Prometheus);
    EXPECT_TRUE(text.contains(R"(model="ACME \"Fast\"\\Disk\nRev2")"));
    if (const QString why = test::PromtoolMissing(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    EXPECT_EQ(test::PromtoolProblem(text), QString());
}

TEST(MetricsStore, AcceptChoosesTheFormat)
{
    const std::pair<const char *, TExposition> cases[] = {
        {"", TExposition::Prometheus},
        {"*/*", TExposition::Prometheus},
        {"text/plain;version=0.0.4", TExposition::Prometheus},
        {"application/openmetrics-text; version=1.0.0", TExposition::OpenMetrics},
        // What Prometheus sends: OpenMetrics preferred.
        {"application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;q=0.75,"
         "text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
         TExposition::OpenMetrics},
        {"application/openmetrics-text;q=0.2, text/plain;q=0.9", TExposition::Prometheus},
        {"application/openmetrics-text;q=0", TExposition::Prometheus},
    };
    for (const auto &[accept, format] : cases)
        EXPECT_EQ(ExpositionFromAccept(QByteArray(accept)), format) << accept;
    EXPECT_TRUE(ExpositionContentType(TExposition::Prometheus).startsWith("text/plain; version=0.0.4"));
    EXPECT_TRUE(ExpositionContentType(TExposition::OpenMetrics).startsWith("application/openmetrics-text; version=1.0.0"));
}

// The monitor's consumption of a batch: the state file as the window writes
// it, an unreachable computer known by its last readout, failed stages counted.
TEST(MonitorCycle, UnreachableComputerKeepsItsLastReadoutAndStagesAreCounted)
{
    test::ScopedSandbox box;
    const QString dataFolder = box.path(u"appdata/"_s);
    TDriveList failing;
    ASSERT_EQ(readFailing(failing), kReadFlagged);
    failing.SaveToFile(dataFolder + u"pc1.wci"_s);

    TMonitor monitor(dataFolder, [] { return TRefreshThreadParts(); });
    auto batch = std::make_shared<TCycleBatch>();
    batch->CheckedComputers.push_back(checked(u"pc1"_s, StateUnavailable));  // silent, flagged readout
    batch->CheckedComputers.push_back(checked(u"pc2"_s, StateUnavailable));  // silent, never read
    batch->CheckedComputers.push_back(checked(u"pc3"_s, StateRpcUnavailable));
    batch->CheckedComputers.push_back(checked(u"pc4"_s, StateSmartNotSupported));
    batch->Duration = std::chrono::milliseconds(1500);
    monitor.CycleDone(batch);

    auto samples = test::Samples(monitor.Metrics().Render(TExposition::Prometheus));
    EXPECT_EQ(at(samples, R"(valmora_computer_state{computer="pc1",state="suspected"})"), 1);
    EXPECT_EQ(at(samples, "valmora_drive_flagged{" + driveLabels(u"pc1"_s, failing.Items(0)) + '}'), 1);
    EXPECT_GT(at(samples, R"(valmora_computer_last_readout_timestamp_seconds{computer="pc1"})"), 0);
    EXPECT_EQ(at(samples, R"(valmora_computer_state{computer="pc2",state="unavailable"})"), 1);
    EXPECT_EQ(samples.count(R"(valmora_computer_last_readout_timestamp_seconds{computer="pc2"})"), 0U);
    EXPECT_EQ(at(samples, R"(valmora_last_cycle_errors{stage="ping"})"), 2);
    EXPECT_EQ(at(samples, R"(valmora_last_cycle_errors{stage="cimv2"})"), 1);
    EXPECT_EQ(at(samples, R"(valmora_last_cycle_errors{stage="smart"})"), 1);
    EXPECT_EQ(at(samples, "valmora_last_cycle_duration_seconds"), 1.5);
    EXPECT_EQ(ReadComputerState(dataFolder, u"pc1"_s), StateSuspected);
    EXPECT_EQ(ReadComputerState(dataFolder, u"pc3"_s), StateRpcUnavailable);

    // The next cycle: pc4 left the source, pc3 answers now; totals add up.
    batch = std::make_shared<TCycleBatch>();
    batch->CheckedComputers.push_back(checked(u"PC3"_s, StateGood));
    batch->CheckedComputers.push_back(checked(u"pc2"_s, StateUnavailable));
    batch->RemovedComputerNames = {u"pc4"_s};
    monitor.CycleDone(batch);
    samples = test::Samples(monitor.Metrics().Render(TExposition::Prometheus));
    EXPECT_EQ(samples.count(R"(valmora_computer_state{computer="pc4",state="smart_not_supported"})"), 0U);
    EXPECT_EQ(samples.count(R"(valmora_computer_state{computer="pc3",state="good"})"), 0U);
    EXPECT_EQ(at(samples, R"(valmora_computer_state{computer="PC3",state="good"})"), 1);
    EXPECT_EQ(at(samples, R"(valmora_check_errors_total{stage="ping"})"), 3);
    EXPECT_EQ(at(samples, R"(valmora_check_errors_total{stage="smart"})"), 1);
    EXPECT_EQ(at(samples, R"(valmora_last_cycle_errors{stage="smart"})"), 0);
    EXPECT_EQ(at(samples, "valmora_computers_checked_total"), 6);
    EXPECT_EQ(at(samples, "valmora_cycles_total"), 2);
}
