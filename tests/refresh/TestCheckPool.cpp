#include "refresh/CheckPool.h"

#include "foundation/Environment.h"

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
