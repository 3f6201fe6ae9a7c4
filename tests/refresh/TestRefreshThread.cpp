#include "refresh/RefreshThread.h"
#include "refresh/UserPass.h"

#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "foundation/DataPaths.h"
#include "foundation/Environment.h"
#include "foundation/LogSystem.h"
#include "foundation/TextFile.h"

#include "GateEcho.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

// An enumerator that answers every Refresh with the names it holds then; with
// no list the network cannot be enumerated.
// The names the network shows; the test changes them while the thread runs.
struct NetworkNames
{
    void set(QStringList list)
    {
        std::lock_guard lock(mutex);
        names = std::move(list);
    }
    QStringList get()
    {
        std::lock_guard lock(mutex);
        return names;
    }
    std::mutex mutex;
    QStringList names;
};

class ScriptedEnumerator final : public platform::TNetworkEnumerator
{
public:
    explicit ScriptedEnumerator(std::shared_ptr<NetworkNames> names)
        : m_names(std::move(names))
    {
    }
    std::unique_ptr<platform::TNetworkEnumeration> Open(QString &error) override
    {
        if (!m_names) {
            error = u"no network"_s;
            return nullptr;
        }
        return std::make_unique<Enumeration>(m_names->get());
    }

private:
    class Enumeration final : public platform::TNetworkEnumeration
    {
    public:
        explicit Enumeration(QStringList names)
            : m_names(std::move(names))
        {
        }
        platform::TEnumBatch Next() override
        {
            platform::TEnumBatch batch;
            if (!m_done) {
                batch.result = static_cast<std::uint32_t>(platform::TEnumResult::Success);
                batch.remoteNames = m_names;
                m_done = true;
            }
            return batch;
        }
        bool Close() override { return true; }

    private:
        QStringList m_names;
        bool m_done = false;
    };
    std::shared_ptr<NetworkNames> m_names;
};

// Answers pings from a table: echo, silence, or a name that does not resolve.
class TableEcho final : public TIcmpEcho
{
public:
    explicit TableEcho(std::map<QString, int> table)
        : m_table(std::move(table))
    {
    }
    TReplyStatus Echo(const QString &host, int packetSize, int timeoutMs) override
    {
        EXPECT_EQ(packetSize, 1024);
        EXPECT_EQ(timeoutMs, 5000);
        const auto it = m_table.find(host.toLower());
        if (it == m_table.end() || it->second < 0)
            throw EIcmpError(u"Cannot resolve host \"%1\""_s.arg(host));
        TReplyStatus s;
        s.ReplyStatusType = it->second ? TReplyStatusType::rsEcho : TReplyStatusType::rsTimeOut;
        return s;
    }

private:
    std::map<QString, int> m_table;
};

struct Call
{
    QString computer, user, password;
};

// A drive that the check saves: one per computer, with the computer's name as its model.
int fakeRead(const QString &computer, TDriveList &list, int result)
{
    list.ClearDrives();
    list.ComputerName = computer;
    if (result != 1) {
        auto drive = std::make_unique<TDriveInformation>();
        drive->Model = computer;
        list.Add(std::move(drive));
    }
    return result;
}

struct Harness
{
    test::ScopedSandbox box;
    QString dataFolder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
    std::shared_ptr<NetworkNames> names = std::make_shared<NetworkNames>();
    std::map<QString, int> results; // host → reader result
    std::vector<Call> calls;
    std::mutex callsMutex;

    std::unique_ptr<TRefreshThread> make(std::map<QString, int> pings, const QString &local = u"Desk"_s)
    {
        return make(std::make_unique<TableEcho>(std::move(pings)), local);
    }

    std::unique_ptr<TRefreshThread> make(std::unique_ptr<TIcmpEcho> echo, const QString &local = u"Desk"_s)
    {
        TRefreshThreadParts parts;
        parts.ThisComputerSource = std::make_unique<TThisComputer>();
        parts.NetworkSource =
            std::make_unique<TNetworkNeigborhoodComputes>(std::make_unique<ScriptedEnumerator>(names));
        parts.IPSource = std::make_unique<TIPNetworkNeigborhoodComputes>();
        parts.Echo = std::move(echo);
        parts.ReadDrives = [this](const QString &computer, TDriveList &list, const QString &user,
                                  const QString &password) {
            {
                std::lock_guard lock(callsMutex);
                calls.push_back({computer, user, password});
            }
            return fakeRead(computer, list, results.count(computer.toLower()) ? results[computer.toLower()] : 0);
        };
        parts.LocalComputerName = local;
        auto thread = std::make_unique<TRefreshThread>(std::move(parts));
        thread->DomainUser = u"DOM\\admin"_s;
        thread->DomainPassword = u"domain-secret"_s;
        thread->DataFolder = dataFolder;
        return thread;
    }
};

} // namespace

TEST(ComputerCheck, StatesCredentialsAndFilesOfOneCycle)
{
    // One after another and several at once give the same batch.
    for (const int atOnce : {1, 16}) {
        SCOPED_TRACE(atOnce);
        Harness h;
        h.names->set({u"\\\\zeta"_s, u"\\\\Alpha"_s, u"\\\\desk"_s, u"\\\\nosmart"_s, u"\\\\rpc"_s, u"\\\\silent"_s,
                    u"\\\\ghost"_s, u"\\\\own"_s});
        h.results = {{u"zeta"_s, 3}, {u"nosmart"_s, 2}, {u"rpc"_s, 1}};
        WriteUserPass(h.dataFolder, u"OWN"_s, {u"own-user"_s, u"own-pass"_s});
        WriteUserPass(h.dataFolder, u"alpha"_s, {u"half"_s, QString()}); // not usable
        // A good readout of "silent" from an earlier cycle must survive its silence.
        {
            TDriveList earlier;
            fakeRead(u"silent"_s, earlier, 0);
            earlier.SaveToFile(h.dataFolder + u"silent.wci"_s);
        }
        const QByteArray silentBefore = *ReadWholeFile(h.dataFolder + u"silent.wci"_s);

        auto thread = h.make({{u"zeta"_s, 1}, {u"alpha"_s, 1}, {u"desk"_s, 1}, {u"nosmart"_s, 1}, {u"rpc"_s, 1},
                              {u"silent"_s, 0}, {u"own"_s, 1}});
        thread->SetChecksAtOnce(atOnce);
        QStringList statuses;
        thread->OnStatusText = [&](const QString &t) { statuses.append(t); };
        auto batch = thread->RunOneCycle();
        ASSERT_TRUE(batch);

        std::map<QString, int> states;
        QStringList order;
        for (const auto &entry : batch->CheckedComputers) {
            states[entry->Name] = entry->State;
            order.append(entry->Name);
        }
        EXPECT_EQ(order, (QStringList{u"Alpha"_s, u"desk"_s, u"ghost"_s, u"nosmart"_s, u"own"_s, u"rpc"_s, u"silent"_s,
                                      u"zeta"_s}));
        const std::map<QString, int> expected{{u"zeta"_s, StateSuspected},         {u"Alpha"_s, StateGood},
                                              {u"desk"_s, StateGood},              {u"nosmart"_s, StateSmartNotSupported},
                                              {u"rpc"_s, StateRpcUnavailable},     {u"silent"_s, StateUnavailable},
                                              {u"ghost"_s, StateUnavailable},      {u"own"_s, StateGood}};
        EXPECT_EQ(states, expected);

        std::map<QString, std::pair<QString, QString>> credentials;
        for (const Call &c : h.calls)
            credentials[c.computer] = {c.user, c.password};
        EXPECT_EQ(credentials[u"desk"_s], std::make_pair(QString(), QString())) << "the local computer, any case";
        EXPECT_EQ(credentials[u"own"_s], std::make_pair(u"own-user"_s, u"own-pass"_s));
        EXPECT_EQ(credentials[u"Alpha"_s], std::make_pair(u"DOM\\admin"_s, u"domain-secret"_s));
        EXPECT_EQ(credentials.count(u"silent"_s), 0u) << "no reading without an echo reply";

        // Files: readouts for the read ones, the side file for the silent one, whose
        // last good readout stays byte for byte.
        EXPECT_TRUE(QFile::exists(h.dataFolder + u"zeta.wci"_s));
        EXPECT_TRUE(QFile::exists(h.dataFolder + u"nosmart.wci"_s));
        EXPECT_TRUE(QFile::exists(h.dataFolder + u"silent.wci!"_s));
        EXPECT_EQ(*ReadWholeFile(h.dataFolder + u"silent.wci"_s), silentBefore);
        EXPECT_FALSE(QFile::exists(h.dataFolder + u"ghost.wci"_s));

        // One per check and the empty one at the end; at once, also one each
        // time the named computer ends while others still run.
        if (atOnce == 1)
            EXPECT_EQ(statuses.size(), 9);
        else
            EXPECT_GE(statuses.size(), 9);
        EXPECT_EQ(statuses.first(), u"Currently check: Alpha"_s);
        EXPECT_EQ(statuses.last(), QString());
    }
}

TEST(ComputerCheck, FailuresAreLoggedWithoutThePassword)
{
    Harness h;
    TXLogSystem &log = XLogSystem();
    log.SetLogFolder(TWindowsFolders::CommonAppDataFolder(u"Log"_s));
    log.SetEnabled(true);
    h.names->set({u"\\\\ghost"_s, u"\\\\pc"_s});
    auto thread = h.make({{u"pc"_s, 1}});
    auto batch = thread->RunOneCycle();
    log.SetEnabled(false);
    ASSERT_EQ(batch->CheckedComputers.size(), 2u);
    const QString text = log.Lines().join(u'\n');
    EXPECT_TRUE(text.contains(u"Place: 2001. Cannot resolve host \"ghost\""_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"User:  Pass: ******** (pc)"_s)) << text.toStdString();
    EXPECT_FALSE(text.contains(u"domain-secret"_s));
    EXPECT_TRUE(text.contains(u"NB.Refresh 2"_s));
    EXPECT_TRUE(text.contains(u"Komputer: pc"_s));
}

TEST(ComputerComparer, AsciiUpperThenLocale)
{
    TComputerComparer c;
    EXPECT_EQ(c.CompareNames(u"pc1"_s, u"PC1"_s), 0);
    EXPECT_EQ(c.CompareNames(u"a"_s, u"B"_s), -1);
    EXPECT_EQ(c.CompareNames(u"b"_s, u"A"_s), 1);
    EXPECT_NE(c.CompareNames(u"é"_s, u"É"_s), 0) << "only ASCII letters are upper-cased";
    TCheckedComputers list;
    for (const QString &n : {u"pc3"_s, u"PC1"_s, u"pc2"_s})
        list.push_back(std::make_unique<TAddedComputer>(n));
    c.Sort(list);
    qsizetype index = -1;
    EXPECT_TRUE(c.BinarySearch(list, u"pc2"_s, index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(c.BinarySearch(list, u"pc25"_s, index));
    EXPECT_EQ(index, 2);
}

TEST(RefreshThread, CyclesHandOverWholeBatchesAndStopAtOnce)
{
    Harness h;
    h.names->set({u"\\\\a"_s, u"\\\\b"_s});
    auto thread = h.make({{u"a"_s, 1}, {u"b"_s, 1}});
    thread->SetIntervalMs(0); // cycles follow each other without pause
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::shared_ptr<TCycleBatch>> batches;
    thread->OnCycleDone = [&](std::shared_ptr<TCycleBatch> b) {
        std::lock_guard lock(m);
        batches.push_back(std::move(b));
        cv.notify_all();
    };
    thread->Resume();
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return batches.size() >= 2; }));
        // "a" leaves the network.
        h.names->set({u"\\\\b"_s});
    }
    {
        std::unique_lock lock(m);
        const std::size_t seen = batches.size();
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return batches.size() >= seen + 2; }));
    }
    thread->Stop();
    std::lock_guard lock(m);
    EXPECT_EQ(batches.front()->CheckedComputers.size(), 2u);
    EXPECT_TRUE(batches.front()->RemovedComputerNames.isEmpty());
    // The network no longer shows "a", so every later cycle reports it removed;
    // it has an information file, so the same cycle adds it back and checks it.
    EXPECT_EQ(batches.back()->RemovedComputerNames, QStringList{u"\\\\a"_s});
    EXPECT_EQ(batches.back()->CheckedComputers.size(), 2u);
    EXPECT_EQ(batches.back()->CheckedComputers.front()->Name, u"a"_s);
}

TEST(RefreshThread, StopEndsALongWaitAtOnce)
{
    Harness h;
    auto thread = h.make(std::map<QString, int>{});
    thread->SetIntervalMs(3600 * 1000);
    std::mutex m;
    std::condition_variable cv;
    int cycles = 0;
    thread->OnCycleDone = [&](std::shared_ptr<TCycleBatch>) {
        std::lock_guard lock(m);
        ++cycles;
        cv.notify_all();
    };
    thread->Resume();
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return cycles > 0; }))
            << "the first cycle runs at once, even for an empty source";
    }
    // The thread now waits an hour for the next cycle; Stop must end that wait
    // rather than outlast it. The bound only keeps a broken Stop from hanging the run.
    auto stopped = std::async(std::launch::async, [&] { thread->Stop(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "Stop waited for the interval";
    std::lock_guard lock(m);
    EXPECT_EQ(cycles, 1);
}

TEST(RefreshThread, SourceByKindAndFailedRefreshStillEndsTheCycle)
{
    Harness h;
    h.names.reset(); // the network cannot be enumerated
    auto thread = h.make(std::map<QString, int>{});
    const std::pair<int, int> kinds[] = {{0, 0}, {1, 1}, {2, 2}, {7, 1}, {-1, 1}};
    for (auto [kind, used] : kinds) {
        thread->SetSearchKind(kind);
        EXPECT_EQ(thread->SearchKind(), used) << kind;
        EXPECT_NE(thread->Source(), nullptr);
    }
    thread->SetSearchKind(1);
    QStringList statuses;
    thread->OnStatusText = [&](const QString &t) { statuses.append(t); };
    auto batch = thread->RunOneCycle();
    ASSERT_TRUE(batch) << "an empty batch is still handed over";
    EXPECT_TRUE(batch->CheckedComputers.empty());
    EXPECT_EQ(statuses, QStringList{QString()});
}

TEST(RefreshThread, StopDuringChecksStartsNoMoreAndPostsNoBatch)
{
    Harness h;
    h.names->set({u"\\\\a"_s, u"\\\\b"_s, u"\\\\c"_s, u"\\\\d"_s, u"\\\\e"_s});
    auto owned = std::make_unique<test::GateEcho>();
    test::GateEcho &gate = *owned;
    auto thread = h.make(std::move(owned));
    thread->SetChecksAtOnce(2);
    std::atomic<int> batches{0};
    thread->OnCycleDone = [&](std::shared_ptr<TCycleBatch>) { ++batches; };
    std::mutex m;
    QStringList statuses;
    thread->OnStatusText = [&](const QString &t) {
        std::lock_guard lock(m);
        statuses.append(t);
    };
    thread->Resume();
    ASSERT_TRUE(gate.WaitEntered(2));

    std::thread stopper([&] { thread->Stop(); }); // returns once the two checks in flight end
    for (int i = 0; i < 1000 && !thread->Terminated(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(thread->Terminated());
    gate.Open({u"a"_s, u"b"_s});
    stopper.join();

    // The two checks in flight reach the ping in either order.
    QStringList entered = gate.Entered();
    entered.sort();
    EXPECT_EQ(entered, (QStringList{u"a"_s, u"b"_s})) << "nothing started after the stop";
    EXPECT_EQ(batches, 0) << "no end of cycle for a stopped cycle";
    std::lock_guard lock(m);
    // Which of the two ends first decides whether "a" is named again; nothing
    // else is, and the empty status of a finished cycle never comes.
    EXPECT_EQ(statuses.mid(0, 2), (QStringList{u"Currently check: a"_s, u"Currently check: b"_s}));
    for (const QString &status : std::as_const(statuses))
        EXPECT_TRUE(status == u"Currently check: a"_s || status == u"Currently check: b"_s) << status.toStdString();
}

namespace {

// A clock the test moves on. The thread's waits poll it (with short real
// waits), so it is woken by Stop and CheckNow as by the system's clock; each
// wait the thread begins is recorded with its length.
class ManualClock final : public platform::TWaitClock
{
public:
    TimePoint Now() const override
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    void WaitUntil(std::condition_variable &cv, std::unique_lock<std::mutex> &lock, TimePoint until) override
    {
        {
            std::lock_guard guard(m_mutex);
            if (until != m_until) {
                m_until = until;
                m_waits.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(until - m_now).count());
            }
            m_polledAt = m_now;
        }
        m_changed.notify_all();
        cv.wait_for(lock, std::chrono::milliseconds(2));
    }
    void Advance(std::chrono::milliseconds by)
    {
        std::lock_guard lock(m_mutex);
        m_now += by;
    }
    // Returns once the thread began its n-th wait (bounded: 10 s of real time).
    bool WaitForWaits(std::size_t n)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_waits.size() >= n; });
    }
    // Returns once the thread looked at the clock since it was last moved on
    // and went on waiting.
    bool WaitForPoll()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_polledAt == m_now; });
    }
    std::vector<long long> Waits() const
    {
        std::lock_guard lock(m_mutex);
        return m_waits;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    TimePoint m_now{};
    TimePoint m_until{};
    TimePoint m_polledAt = TimePoint::min();
    std::vector<long long> m_waits;
};

} // namespace

// The schedule through a clock the test controls: the first cycle at once,
// then a wait of the full interval and one of half of it before each further
// cycle; CheckNow ends a wait early. Nothing here sleeps for the interval.
TEST(RefreshThread, ScheduleOnTheClock)
{
    Harness h;
    h.names->set({u"\\\\a"_s});
    auto clock = std::make_shared<ManualClock>();
    std::unique_ptr<TRefreshThread> thread;
    {
        TRefreshThreadParts parts;
        parts.ThisComputerSource = std::make_unique<TThisComputer>();
        parts.NetworkSource = std::make_unique<TNetworkNeigborhoodComputes>(std::make_unique<ScriptedEnumerator>(h.names));
        parts.IPSource = std::make_unique<TIPNetworkNeigborhoodComputes>();
        parts.Echo = std::make_unique<TableEcho>(std::map<QString, int>{{u"a"_s, 1}});
        parts.ReadDrives = [](const QString &computer, TDriveList &list, const QString &, const QString &) {
            return fakeRead(computer, list, 0);
        };
        parts.LocalComputerName = u"Desk"_s;
        parts.Clock = clock;
        thread = std::make_unique<TRefreshThread>(std::move(parts));
    }
    thread->DataFolder = h.dataFolder;
    thread->SetIntervalMs(300000);
    std::atomic<int> cycles{0};
    thread->OnCycleDone = [&](std::shared_ptr<TCycleBatch>) { ++cycles; };
    using std::chrono::milliseconds;

    thread->Resume();
    ASSERT_TRUE(clock->WaitForWaits(1));
    EXPECT_EQ(cycles, 1) << "the first cycle runs at once";
    clock->Advance(milliseconds(299999));
    ASSERT_TRUE(clock->WaitForPoll());
    EXPECT_EQ(clock->Waits().size(), 1u) << "a millisecond short of the interval ends no wait";
    clock->Advance(milliseconds(1));
    ASSERT_TRUE(clock->WaitForWaits(2));
    EXPECT_EQ(cycles, 1) << "half the interval follows before the next cycle";
    clock->Advance(milliseconds(149999));
    ASSERT_TRUE(clock->WaitForPoll());
    EXPECT_EQ(cycles, 1);
    clock->Advance(milliseconds(1));
    ASSERT_TRUE(clock->WaitForWaits(3));
    EXPECT_EQ(cycles, 2);
    // "Refresh status": the waits end at once, the half one as well.
    clock->Advance(milliseconds(1));
    ASSERT_TRUE(clock->WaitForPoll());
    thread->CheckNow();
    ASSERT_TRUE(clock->WaitForWaits(4));
    EXPECT_EQ(cycles, 3);
    thread->Stop();
    EXPECT_EQ(clock->Waits(), (std::vector<long long>{300000, 150000, 300000, 300000}));
    EXPECT_EQ(cycles, 3) << "Stop ends the wait without another cycle";
}

// A disk that fills up after a good reading: the save fails, the last good
// readout stays loadable, the failure is logged naming the file, and the
// cycle goes on to the next computer and hands its batch over.
TEST(RefreshThread, SaveFailingAfterAGoodReadKeepsTheLastReadout)
{
    Harness h;
    h.names->set({u"\\\\a"_s, u"\\\\b"_s});
    auto thread = h.make({{u"a"_s, 1}, {u"b"_s, 1}});
    ASSERT_TRUE(thread->RunOneCycle());
    const QString fileA = h.dataFolder + u"a.wci"_s;
    TDriveList before;
    before.LoadFromFile(fileA);
    ASSERT_EQ(before.Count(), 1);

    h.results[u"a"_s] = 3; // the next reading differs from the stored one
    std::shared_ptr<TCycleBatch> batch;
    {
        test::ScopedFileSizeLimit fullDisk(4096); // less than a readout of one drive
        batch = thread->RunOneCycle();
    }
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->CheckedComputers.size(), 2u);
    for (const auto &checked : batch->CheckedComputers) {
        SCOPED_TRACE(checked->Name.toStdString());
        EXPECT_TRUE(checked->Reason.contains(checked->Name + u".wci"_s)) << checked->Reason.toStdString();
    }
    TDriveList after;
    after.LoadFromFile(fileA);
    EXPECT_EQ(after.Count(), 1);
    EXPECT_EQ(after.Items(0).Model, before.Items(0).Model);
    const QStringList stray = QDir(h.dataFolder).entryList({u"*.wci.*"_s, u"*.tmp"_s}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(stray.isEmpty()) << stray.join(u' ').toStdString();
}

// A credentials file that exists but cannot be read fails the check of each
// computer with a reason naming the file; no credentials are guessed and the
// cycle still ends with every computer in its batch.
TEST(RefreshThread, UnreadableCredentialsFileFailsTheChecksWithItsName)
{
    Harness h;
    h.names->set({u"\\\\a"_s, u"\\\\b"_s});
    auto thread = h.make({{u"a"_s, 1}, {u"b"_s, 1}});
    ASSERT_TRUE(QDir().mkpath(DataPaths::UserPassFile(h.dataFolder))); // a folder: it exists, nothing reads it
    auto batch = thread->RunOneCycle();
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->CheckedComputers.size(), 2u);
    for (const auto &checked : batch->CheckedComputers) {
        SCOPED_TRACE(checked->Name.toStdString());
        EXPECT_EQ(checked->State, StateUnavailable);
        EXPECT_TRUE(checked->Reason.contains(u"userpass.valmora"_s)) << checked->Reason.toStdString();
    }
    EXPECT_TRUE(h.calls.empty()) << "no reading without the computer's own credentials";
}
