#include "refresh/CheckPool.h"

#include "foundation/Environment.h"
#include "foundation/LogSystem.h"
#include "refresh/StateFile.h"

#include "GateEcho.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

// Answers from the host's name: "silent…" hosts time out, all others echo.
class NameEcho final : public TIcmpEcho
{
public:
    TReplyStatus Echo(const QString &host, int, int) override
    {
        TReplyStatus status;
        status.ReplyStatusType = host.startsWith(u"silent"_s) ? TReplyStatusType::rsTimeOut : TReplyStatusType::rsEcho;
        return status;
    }
};

struct Pool
{
    test::ScopedSandbox box;
    TCheckEnvironment environment;
    std::mutex mutex;
    std::map<QString, int> reads; // computer → readings

    explicit Pool(std::shared_ptr<TIcmpEcho> echo)
    {
        environment.Echo = std::move(echo);
        environment.DataFolder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
        // The reader's result is the number after the last "-" of the name, else 0.
        environment.ReadDrives = [this](const QString &computer, TDriveList &list, const QString &, const QString &) {
            {
                std::lock_guard lock(mutex);
                ++reads[computer];
            }
            list.ComputerName = computer;
            auto drive = std::make_unique<TDriveInformation>();
            drive->Model = computer;
            list.Add(std::move(drive));
            return computer.section(u'-', -1).toInt();
        };
    }
};

} // namespace

TEST(CheckPool, ResultsFollowTheNamesWhateverTheOverlap)
{
    QStringList names;
    for (int i = 0; i < 120; ++i)
        names.append(u"%1pc%2-%3"_s.arg(i % 5 == 0 ? u"silent"_s : QString()).arg(i).arg(i % 4));
    std::vector<std::pair<QString, int>> sequential;
    for (const int atOnce : {1, 7, 256}) {
        SCOPED_TRACE(atOnce);
        Pool pool(std::make_shared<NameEcho>());
        const TCheckPoolResult result = CheckComputers(names, atOnce, pool.environment);
        EXPECT_FALSE(result.Stopped);
        ASSERT_EQ(result.CheckedComputers.size(), static_cast<std::size_t>(names.size()));
        std::vector<std::pair<QString, int>> seen;
        for (const auto &entry : result.CheckedComputers) {
            seen.emplace_back(entry->Name, entry->State);
            // Each entry carries its own computer's drives.
            if (entry->State != StateUnavailable) {
                ASSERT_EQ(entry->Drives.Count(), 1);
                EXPECT_EQ(entry->Drives.Items(0).Model, entry->Name);
            }
        }
        if (sequential.empty())
            sequential = seen;
        EXPECT_EQ(seen, sequential);
        EXPECT_EQ(seen[3], std::make_pair(u"pc3-3"_s, int{StateSuspected}));
        EXPECT_EQ(seen[5], std::make_pair(u"silentpc5-1"_s, int{StateUnavailable}));
        EXPECT_EQ(seen[6], std::make_pair(u"pc6-2"_s, int{StateSmartNotSupported}));
    }
}

TEST(CheckPool, NameListedTwiceIsCheckedOnce)
{
    Pool pool(std::make_shared<NameEcho>());
    const QStringList names{u"\\\\pc"_s, u"\\\\other"_s, u"\\\\PC"_s, u"pc"_s, u"OTHER"_s, u"pc2"_s};
    const TCheckPoolResult result = CheckComputers(names, 4, pool.environment);
    QStringList checked;
    for (const auto &entry : result.CheckedComputers)
        checked.append(entry->Name);
    EXPECT_EQ(checked, (QStringList{u"\\\\pc"_s, u"\\\\other"_s, u"pc2"_s})) << "the first spelling of each host";
    const std::map<QString, int> reads{{u"\\\\pc"_s, 1}, {u"\\\\other"_s, 1}, {u"pc2"_s, 1}};
    EXPECT_EQ(pool.reads, reads);
}

TEST(CheckPool, AtMostNAtOnceAndTheStatusNamesOneInFlight)
{
    auto gate = std::make_shared<test::GateEcho>();
    Pool pool(gate);
    std::mutex mutex;
    std::condition_variable changed;
    QStringList statuses;
    int ended = 0;
    TCheckPoolEvents events;
    events.OnChecking = [&](const QString &name) {
        std::lock_guard lock(mutex);
        statuses.append(name);
    };
    events.OnChecked = [&](const TAddedComputer &) {
        std::lock_guard lock(mutex);
        ++ended;
        changed.notify_all();
    };
    TCheckPoolResult result;
    std::thread run([&] { result = CheckComputers({u"a"_s, u"b"_s, u"c"_s, u"d"_s}, 3, pool.environment, events); });

    ASSERT_TRUE(gate->WaitEntered(3));
    gate->Open({u"c"_s}); // the named one ends: another in flight is named, then "d" starts
    ASSERT_TRUE(gate->WaitEntered(4));
    gate->Open({u"a"_s, u"d"_s});
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return ended == 3; }));
    }
    gate->Open({u"b"_s});
    run.join();

    EXPECT_EQ(gate->MaxWaiting(), 3);
    // The first three start together; their threads reach the ping in any order.
    QStringList first = gate->Entered().mid(0, 3);
    first.sort();
    EXPECT_EQ(first, (QStringList{u"a"_s, u"b"_s, u"c"_s})) << "the first three names start first";
    EXPECT_EQ(gate->Entered().value(3), u"d"_s) << "the fourth starts only when one ends";
    EXPECT_EQ(statuses, (QStringList{u"a"_s, u"b"_s, u"c"_s, u"b"_s, u"d"_s, u"b"_s}));
    EXPECT_EQ(result.CheckedComputers.size(), 4u);
}

// Why each computer is not Good travels with it, stays in the state file for
// the next start, and reaches the log once per new reason, not once per cycle.
TEST(CheckPool, ReasonsTravelWithTheComputerAndAreLoggedOncePerChange)
{
    Pool pool(std::make_shared<NameEcho>());
    QString refusal = u"media (Win32_PhysicalMedia of root\\CIMV2): connection refused by pc:5985"_s;
    const TReadDrives plain = pool.environment.ReadDrives;
    bool healed = false;
    pool.environment.ReadDrives = [&](const QString &computer, TDriveList &list, const QString &user,
                                      const QString &password, QString *reason) {
        const int result = healed ? 0 : plain(computer, list, user, password);
        if (result == 1)
            *reason = refusal;
        if (result == 3) {
            TDriveInformation &drive = list.Items(0);
            drive.AttributeCount = 1;
            drive.AttrId[0] = 5;
            drive.AttrState[0] = 1;
            drive.AttrReason[0] = u"current 20 is at or below the threshold 36"_s;
        }
        return result;
    };
    TXLogSystem &log = XLogSystem();
    log.SetLogFolder(TWindowsFolders::CommonAppDataFolder(u"Log"_s));
    const QString folder = pool.environment.DataFolder;
    const QStringList names{u"pc-1"_s, u"silentpc-0"_s, u"good-0"_s, u"flagged-3"_s};
    WriteComputerState(folder, u"pc-1"_s, StateRpcUnavailable);
    const auto loggedFor = [&](const QString &name) {
        return log.Lines().filter(u"Place: 2002. %1: "_s.arg(name)).size();
    };

    std::map<QString, QString> reasons;
    TDateTime firstSeen = 0;
    for (int cycle = 0; cycle < 2; ++cycle) {
        const TCheckPoolResult result = CheckComputers(names, 2, pool.environment);
        ASSERT_EQ(result.CheckedComputers.size(), 4u);
        for (const auto &entry : result.CheckedComputers)
            reasons[entry->Name] = entry->Reason;
        if (cycle == 0)
            firstSeen = result.CheckedComputers[0]->ReasonTime;
        else
            EXPECT_EQ(result.CheckedComputers[0]->ReasonTime, firstSeen) << "the time the failure was first seen";
    }
    EXPECT_EQ(reasons[u"pc-1"_s], refusal);
    EXPECT_TRUE(reasons[u"silentpc-0"_s].startsWith(u"no echo reply to the ping of silentpc-0"_s))
        << reasons[u"silentpc-0"_s].toStdString();
    EXPECT_EQ(reasons[u"good-0"_s], QString());
    EXPECT_EQ(reasons[u"flagged-3"_s], u"flagged drive: flagged-3: attribute 5 Failing (current 20 is at or below the threshold 36)"_s);
    EXPECT_EQ(loggedFor(u"pc-1"_s), 1) << log.Lines().join(u'\n').toStdString();
    EXPECT_EQ(loggedFor(u"silentpc-0"_s), 0) << "a computer that is off is no failed read";

    // Kept beside the state, which stays as it was.
    const TComputerReason stored = ReadComputerReason(folder, u"pc-1"_s);
    EXPECT_EQ(stored.Text, refusal);
    EXPECT_GT(stored.Time, 0);
    EXPECT_EQ(stored.Time, firstSeen);
    EXPECT_EQ(ReadComputerState(folder, u"pc-1"_s), StateRpcUnavailable);
    EXPECT_TRUE(ReadComputerReason(folder, u"good-0"_s).Text.isEmpty());
    EXPECT_TRUE(ReadComputerReason(folder, u"silentpc-0"_s).Text.isEmpty()) << "no reading, nothing stored";

    // A new reason is logged again; a Good reading clears the stored one.
    refusal = u"media (Win32_PhysicalMedia of root\\CIMV2): HTTP 401 from http://pc:5985/wsman: user CORP\\admin was refused"_s;
    CheckComputers({u"pc-1"_s}, 1, pool.environment);
    EXPECT_EQ(loggedFor(u"pc-1"_s), 2);
    EXPECT_EQ(ReadComputerReason(folder, u"pc-1"_s).Text, refusal);
    healed = true;
    const TCheckPoolResult good = CheckComputers({u"pc-1"_s}, 1, pool.environment);
    EXPECT_EQ(good.CheckedComputers[0]->Reason, QString());
    EXPECT_EQ(good.CheckedComputers[0]->ReasonTime, 0);
    EXPECT_TRUE(ReadComputerReason(folder, u"pc-1"_s).Text.isEmpty());
    EXPECT_EQ(ReadComputerState(folder, u"pc-1"_s), StateRpcUnavailable);
}
