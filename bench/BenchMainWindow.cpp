// The window with 1,000 computers that have stored readouts: the time from the
// window's creation to the shown list, the GUI thread's time to merge a batch of
// 1,000 checked computers, and the resident memory with those computers.
#include "MainForm.h"

#include "foundation/Environment.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"
#include "platform/NetworkEnumerator.h"
#include "refresh/StateFile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>

#include <benchmark/benchmark.h>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

constexpr int kComputers = 1000;
// The network answers after the probe's wait, as WS-Discovery does.
constexpr int kProbeMs = 3000;

class ListEnumerator final : public platform::TNetworkEnumerator
{
public:
    explicit ListEnumerator(QStringList names, int answerMs = 0)
        : m_names(std::move(names))
        , m_answerMs(answerMs)
    {
    }
    std::unique_ptr<platform::TNetworkEnumeration> Open(QString &error) override
    {
        QThread::msleep(static_cast<unsigned long>(m_answerMs));
        if (m_names.isEmpty()) {
            error = u"no network"_s; // the thread's side: its cycles check nobody
            return nullptr;
        }
        return std::make_unique<Enumeration>(m_names);
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
            if (!m_done)
                batch = {static_cast<std::uint32_t>(platform::TEnumResult::Success), m_names};
            m_done = true;
            return batch;
        }
        bool Close() override { return true; }

    private:
        QStringList m_names;
        bool m_done = false;
    };
    QStringList m_names;
    int m_answerMs;
};

class SilentEcho final : public TIcmpEcho
{
public:
    TReplyStatus Echo(const QString &, int, int) override { return {TReplyStatusType::rsTimeOut, {}, 0}; }
};

QString Name(int i)
{
    return u"PC%1"_s.arg(i, 4, 10, QChar(u'0'));
}

// One drive with a full table of 30 attributes; the odd computers' drive is flagged.
std::unique_ptr<TDriveInformation> Drive(int i)
{
    auto d = std::make_unique<TDriveInformation>();
    d->Name = u"\\\\.\\PHYSICALDRIVE0"_s;
    d->Model = u"BENCH-DISK"_s;
    d->SerialNumber = u"SN"_s + QString::number(i);
    d->Size = 500107862016;
    d->AttributeCount = 30;
    for (std::size_t s = 0; s < 30; ++s) {
        d->AttrId[s] = static_cast<std::int32_t>(s + 1);
        d->AttrCurrent[s] = 100;
        d->AttrWorst[s] = 100;
        d->AttrThreshold[s] = 10;
        d->AttrPreFailure[s] = true;
    }
    if (i % 2)
        d->AttrCurrent[4] = 5;
    return d;
}

struct World
{
    QTemporaryDir dir;
    QStringList names;

    World()
    {
        for (const char *v : {"VALMORA_COMMON_APPDATA", "VALMORA_MACHINE_CONFIG", "XDG_CONFIG_HOME"}) {
            const QString path = dir.path() + u'/' + QString::fromLatin1(v);
            QDir().mkpath(path);
            qputenv(v, path.toLocal8Bit());
        }
        TOptions::WriteFirstRun(false);
        TOptions::WriteMinimizeToTray(false);
        TOptions::WriteSearchKind(1);
        TRegistryHelper::WriteInteger(TOptions::KeyPath, u"Interval"_s, TRootKey::CurrentUser, 1800);
        const QString folder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
        QList<std::pair<QString, int>> states;
        for (int i = 0; i < kComputers; ++i) {
            names.append(u"\\\\"_s + Name(i));
            TDriveList list;
            list.ComputerName = Name(i);
            list.ReadoutTime = 46000.5;
            list.Add(Drive(i));
            list.SaveToFile(folder + Name(i) + u".wci"_s);
            states.append({Name(i), 1 + i % 5});
        }
        WriteComputerStates(folder, states);
    }

    TMainFormParts Parts() const
    {
        TMainFormParts parts;
        parts.ThisComputer1 = std::make_unique<TThisComputer>();
        parts.NetworkNeigborhoodComputes1 =
            std::make_unique<TNetworkNeigborhoodComputes>(std::make_unique<ListEnumerator>(names, kProbeMs));
        parts.IPNetworkNeigborhoodComputes1 = std::make_unique<TIPNetworkNeigborhoodComputes>();
        parts.CreateEcho = [] { return std::make_unique<SilentEcho>(); };
        parts.ReadDrives = [](const QString &, TDriveList &, const QString &, const QString &) { return 1; };
        parts.CreateThreadParts = [] {
            TRefreshThreadParts p;
            p.Echo = std::make_unique<SilentEcho>();
            p.ReadDrives = [](const QString &, TDriveList &, const QString &, const QString &) { return 1; };
            return p;
        };
        parts.TrayAvailable = [] { return false; };
        return parts;
    }
};

World &TheWorld()
{
    static World world;
    return world;
}

double ResidentMegabytes()
{
    QFile statm(u"/proc/self/statm"_s);
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6 : 0;
}

std::unique_ptr<TMainForm> Started()
{
    auto form = std::make_unique<TMainForm>(TheWorld().Parts());
    form->ShowAtStart();
    if (!QTest::qWaitFor([&] { return form->StartupDone(); }, 30000))
        form->setWindowTitle(u"not started"_s);
    return form;
}

// Creation of the window until its list of stored computers is shown and the
// thread started, while the network's answers are still 3 s away.
void BM_StartToList(benchmark::State &state)
{
    TheWorld();
    for (auto _ : state) {
        auto form = Started();
        benchmark::DoNotOptimize(form->Computers()->Count());
        state.PauseTiming();
        if (form->Computers()->Count() != kComputers)
            state.SkipWithError("list incomplete");
        form.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartToList)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// One batch of 1,000 checked computers merged into the list on the GUI thread;
// every second merge moves every computer to another group.
void BM_Merge1000(benchmark::State &state)
{
    auto form = Started();
    const double before = ResidentMegabytes();
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto batch = std::make_shared<TCycleBatch>();
        for (int i = 0; i < kComputers; ++i) {
            auto entry = std::make_unique<TAddedComputer>(Name(i));
            entry->State = (round % 2) ? StateGood : StateUnavailable;
            entry->Drives.ComputerName = Name(i);
            entry->Drives.Add(Drive(i));
            batch->CheckedComputers.push_back(std::move(entry));
        }
        TComputerComparer().Sort(batch->CheckedComputers);
        ++round;
        state.ResumeTiming();
        form->WMCycleDone(batch);
    }
    state.counters["rss_mb"] = ResidentMegabytes();
    state.counters["rss_before_merges_mb"] = before;
}
BENCHMARK(BM_Merge1000)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// The state file's share of a merge: the states of 1,000 computers in one write.
void BM_WriteStates1000(benchmark::State &state)
{
    TheWorld();
    const QString folder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
    QList<std::pair<QString, int>> states;
    for (int i = 0; i < kComputers; ++i)
        states.append({Name(i), 1 + (i + 1) % 5});
    for (auto _ : state)
        WriteComputerStates(folder, states);
}
BENCHMARK(BM_WriteStates1000)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double bare = ResidentMegabytes();
    benchmark::Initialize(&argc, argv);
    benchmark::AddCustomContext("rss_without_window_mb", std::to_string(bare));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
