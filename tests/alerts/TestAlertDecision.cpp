// What a checked computer raises against what was last alerted about it.
#include "alerts/AlertDecision.h"
#include "refresh/ComputerCheck.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::alerts;

namespace {

const QDateTime kStart = QDateTime(QDate(2026, 12, 3), QTime(8, 0));

TAlertAttribute Attr(int id, const QString &state, const QString &reason)
{
    return {id, state, reason, 100, 100, 36, 0, false};
}

TCheckedDrive Drive(std::vector<TAlertAttribute> attributes, const QString &serial = u"S1"_s)
{
    TCheckedDrive d{u"DISK 500"_s, serial, u"\\\\.\\PHYSICALDRIVE0"_s, !attributes.empty(), QString(),
                    std::move(attributes)};
    return d;
}

TCheckedSnapshot Computer(int state, std::vector<TCheckedDrive> drives = {}, const QString &name = u"PC1"_s)
{
    return {name, state, std::move(drives)};
}

QStringList Events(const std::vector<TAlert> &alerts)
{
    QStringList events;
    for (const TAlert &a : alerts)
        events << EventName(a.Event) + u':' + a.DriveSerial;
    return events;
}

const TAlertAttribute kReallocated4 = Attr(5, u"Warning"_s, u"4 sectors were reallocated"_s);
const TAlertAttribute kReallocated9 = Attr(5, u"Warning"_s, u"9 sectors were reallocated"_s);
const TAlertAttribute kPending = Attr(197, u"Warning"_s, u"529 sectors wait to be remapped"_s);

} // namespace

// One sequence of checks of one computer and what each must raise.
TEST(AlertDecision, OneAlertPerChange)
{
    struct Step
    {
        const char *what;
        TCheckedSnapshot checked;
        QStringList events;
    };
    const std::vector<Step> steps = {
        {"good at first: nothing", Computer(StateGood, {Drive({})}), {}},
        {"newly flagged", Computer(StateSuspected, {Drive({kReallocated4})}), {u"failing:S1"_s}},
        {"the same again", Computer(StateSuspected, {Drive({kReallocated4})}), {}},
        {"switched off", Computer(StateUnavailable), {}},
        {"read failure", Computer(StateRpcUnavailable), {}},
        {"still the same after it", Computer(StateSuspected, {Drive({kReallocated4})}), {}},
        {"the count grew", Computer(StateSuspected, {Drive({kReallocated9})}), {u"failing:S1"_s}},
        {"another attribute", Computer(StateSuspected, {Drive({kReallocated9, kPending})}), {u"failing:S1"_s}},
        {"one attribute less is no news", Computer(StateSuspected, {Drive({kPending})}), {}},
        {"a second drive flagged", Computer(StateSuspected, {Drive({kPending}), Drive({kReallocated4}, u"S2"_s)}),
         {u"failing:S2"_s}},
        {"the first drive is good again", Computer(StateSuspected, {Drive({}), Drive({kReallocated4}, u"S2"_s)}),
         {u"recovered:S1"_s}},
        {"the computer is good", Computer(StateGood, {Drive({}), Drive({}, u"S2"_s)}), {u"recovered:S2"_s}},
        {"good stays quiet", Computer(StateGood, {Drive({}), Drive({}, u"S2"_s)}), {}},
    };
    TAlertedState state;
    QDateTime now = kStart;
    for (const Step &step : steps) {
        now = now.addSecs(300);
        EXPECT_EQ(Events(DecideAlerts(state, step.checked, now, {})), step.events) << step.what;
    }
}

TEST(AlertDecision, FailingAlertTellsEveryAttributeAndWhatIsNew)
{
    TAlertedState state;
    DecideAlerts(state, Computer(StateSuspected, {Drive({kReallocated4})}), kStart, {});
    const auto alerts = DecideAlerts(state, Computer(StateSuspected, {Drive({kReallocated4, kPending})}), kStart, {});
    ASSERT_EQ(alerts.size(), 1u);
    const TAlert &a = alerts.front();
    EXPECT_EQ(a.Computer, u"PC1"_s);
    EXPECT_EQ(a.DriveModel, u"DISK 500"_s);
    ASSERT_EQ(a.Attributes.size(), 2u);
    EXPECT_FALSE(a.Attributes[0].New);
    EXPECT_TRUE(a.Attributes[1].New);
    EXPECT_TRUE(a.Body().contains(u"197  Warning: 529 sectors wait to be remapped"_s)) << qPrintable(a.Body());
    EXPECT_EQ(a.Subject(), u"Valmora: PC1: drive failing (DISK 500, serial S1)"_s);
}

TEST(AlertDecision, DriveThatPredictsItsFailureAndDriveThatLeft)
{
    TAlertedState state;
    TCheckedDrive predicting = Drive({});
    predicting.Flagged = true;
    predicting.DriveReason = u"the drive itself predicts its failure"_s;
    auto alerts = DecideAlerts(state, Computer(StateSuspected, {predicting}), kStart, {});
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].Reason, u"the drive itself predicts its failure"_s);
    // The flagged drive was taken out; another one is flagged now.
    alerts = DecideAlerts(state, Computer(StateSuspected, {Drive({kPending}, u"S9"_s)}), kStart, {});
    EXPECT_EQ(Events(alerts), (QStringList{u"failing:S9"_s, u"recovered:S1"_s}));
    EXPECT_EQ(alerts[1].Reason, u"the drive is no longer in the computer's readout"_s);
}

TEST(AlertDecision, NamesCompareWithoutCaseAndRemovedComputersAreForgotten)
{
    TAlertedState state;
    DecideAlerts(state, Computer(StateSuspected, {Drive({kPending})}, u"\\\\pc1"_s), kStart, {});
    EXPECT_TRUE(DecideAlerts(state, Computer(StateSuspected, {Drive({kPending})}, u"PC1"_s), kStart, {}).empty());
    ForgetComputers(state, {u"Pc1"_s});
    EXPECT_TRUE(state.empty());
}

TEST(AlertDecision, NotReadSinceOnlyWhenSetAndOnce)
{
    TAlertedState off, on;
    const TDecisionRules rules{2};
    DecideAlerts(off, Computer(StateGood, {Drive({})}), kStart, {});
    DecideAlerts(on, Computer(StateGood, {Drive({})}), kStart, rules);
    const QDateTime later = kStart.addSecs(2 * 3600 + 60);
    EXPECT_TRUE(DecideAlerts(off, Computer(StateUnavailable), later, {}).empty());
    EXPECT_TRUE(DecideAlerts(on, Computer(StateUnavailable), kStart.addSecs(3600), rules).empty());
    const auto alerts = DecideAlerts(on, Computer(StateUnavailable), later, rules);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].Event, TAlertEvent::NotRead);
    EXPECT_EQ(alerts[0].Reason, u"not read since 3 Dec 2026 08:00"_s);
    EXPECT_TRUE(DecideAlerts(on, Computer(StateUnavailable), later.addSecs(300), rules).empty());
    // Read again, then gone for long once more: told again.
    DecideAlerts(on, Computer(StateGood, {Drive({})}), later.addSecs(600), rules);
    EXPECT_EQ(DecideAlerts(on, Computer(StateUnavailable), later.addSecs(600 + 3 * 3600), rules).size(), 1u);
    // A computer never read counts from its first check.
    TAlertedState never;
    EXPECT_TRUE(DecideAlerts(never, Computer(StateUnavailable, {}, u"PC2"_s), kStart, rules).empty());
    const auto first = DecideAlerts(never, Computer(StateUnavailable, {}, u"PC2"_s), later, rules);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(first[0].Reason.startsWith(u"never read since first checked"_s));
}

TEST(AlertDecision, SnapshotTakesTheFlaggedAttributesOfAReading)
{
    TAddedComputer computer(u"PC1"_s);
    computer.State = StateSuspected;
    auto drive = std::make_unique<TDriveInformation>();
    drive->Model = u"DISK 500 "_s;
    drive->SerialNumber = u"  S1"_s;
    drive->AttributeCount = 2;
    drive->AttrId[0] = 1;
    drive->AttrId[1] = 197;
    drive->SetState(1, TAttributeState::Warning);
    drive->AttrReason[1] = u"529 sectors wait to be remapped"_s;
    drive->AttrRaw[1] = 529;
    computer.Drives.Add(std::move(drive));
    const TCheckedSnapshot s = SnapshotOf(computer);
    ASSERT_EQ(s.Drives.size(), 1u);
    EXPECT_EQ(s.Drives[0].Serial, u"S1"_s);
    EXPECT_EQ(s.Drives[0].Model, u"DISK 500"_s);
    EXPECT_TRUE(s.Drives[0].Flagged);
    ASSERT_EQ(s.Drives[0].Attributes.size(), 1u);
    EXPECT_EQ(s.Drives[0].Attributes[0], (TAlertAttribute{197, u"Warning"_s, u"529 sectors wait to be remapped"_s, 0, 0, 0, 529, false}));
}
