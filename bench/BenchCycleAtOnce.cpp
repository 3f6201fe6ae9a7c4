// The checks of one cycle over 1,000 computers of which 300 are switched off,
// as many at once as the setting allows. Each silent computer costs a whole
// ping time-out (5 s), so one after another the cycle would take 300 time-outs;
// the benchmark reports the cycle's wall time in time-outs, and the peak memory
// and thread count of the process.
//
// As root it builds the network itself: the computers are 1,000 loopback
// addresses of a network namespace of its own, a firewall rule there drops the
// echo requests to 300 of them, and every computer answers its drive reading
// from a recording. Without root the pings go through a seam that waits out the
// time-out for a silent computer and answers at once for the others.
#include "drivedata/WmiDriveReader.h"
#include "foundation/Options.h"
#include "refresh/CheckPool.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

constexpr int kComputers = 1000;
constexpr int kTimeoutMs = 5000;

bool silent(int i)
{
    return i % 10 < 3;
}

QString address(int i)
{
    return u"127.0.%1.%2"_s.arg(2 + i / 250).arg(1 + i % 250);
}

// Whether this process now lives in a namespace whose loopback answers for
// every computer and drops the pings to the silent ones.
bool enterTestNetwork()
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        return false;
    QStringList drops;
    for (int i = 0; i < kComputers; ++i)
        if (silent(i))
            drops.append(address(i));
    const QString commands = u"ip link set lo up && nft add table ip bench"
                             " && nft add chain ip bench in '{ type filter hook input priority 0 ; }'"
                             " && nft add rule ip bench in ip daddr '{ %1 }' icmp type echo-request drop"_s
                                 .arg(drops.join(u", "_s));
    return std::system((commands + u" >/dev/null 2>&1"_s).toLocal8Bit().constData()) == 0;
}

// The seam where the system cannot give the network: a silent computer's ping
// waits out its time-out, the others answer at once.
class SeamEcho final : public TIcmpEcho
{
public:
    TReplyStatus Echo(const QString &host, int, int timeoutMs) override
    {
        TReplyStatus status;
        const int i = (host.section(u'.', 2, 2).toInt() - 2) * 250 + host.section(u'.', 3, 3).toInt() - 1;
        if (silent(i)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            status.ReplyStatusType = TReplyStatusType::rsTimeOut;
        } else {
            status.ReplyStatusType = TReplyStatusType::rsEcho;
        }
        return status;
    }
};

int threadCount()
{
    return static_cast<int>(QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

const bool realNetwork = enterTestNetwork();

void BM_CycleOf1000With300Silent(benchmark::State &state)
{
    const int atOnce = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    const QString recordings = dir.filePath(u"recordings"_s);
    QDir().mkpath(recordings);
    QStringList names;
    for (int i = 0; i < kComputers; ++i) {
        names.append(address(i));
        QFile::copy(QStringLiteral(VALMORA_SOURCE_DIR "/tests/fixtures/network/good.valmora.test.json"),
                    recordings + u'/' + address(i) + u".json"_s);
    }
    qputenv("VALMORA_RECORDINGS", recordings.toLocal8Bit());

    TCheckEnvironment environment;
    environment.Echo = realNetwork ? std::shared_ptr<TIcmpEcho>(CreateSystemIcmpEcho()) : std::make_shared<SeamEcho>();
    environment.ReadDrives = [](const QString &computer, TDriveList &list, const QString &user,
                                const QString &password) { return ReadComputerDrives(computer, list, user, password); };
    environment.DataFolder = dir.filePath(u"data/"_s);
    QDir().mkpath(environment.DataFolder);

    std::atomic<bool> running{true};
    std::atomic<int> peakThreads{threadCount()};
    std::thread sampler([&] {
        while (running) {
            peakThreads = std::max(peakThreads.load(), threadCount());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    int good = 0;
    int unavailable = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const TCheckPoolResult result = CheckComputers(names, atOnce, environment);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (const auto &entry : result.CheckedComputers) {
            good += entry->State == StateGood;
            unavailable += entry->State == StateUnavailable;
        }
    }
    running = false;
    sampler.join();
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["real_network"] = realNetwork ? 1 : 0;
    state.counters["timeouts"] = seconds * 1000.0 / kTimeoutMs; // the cycle's wall time in ping time-outs
    state.counters["good"] = good;
    state.counters["unavailable"] = unavailable;
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["peak_threads"] = peakThreads.load();
}

} // namespace

// One after another would take 300 time-outs (25 minutes): not run.
BENCHMARK(BM_CycleOf1000With300Silent)
    ->Arg(TOptions::DefaultChecksAtOnce)
    ->Arg(64)
    ->Arg(TOptions::MaxChecksAtOnce)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

BENCHMARK_MAIN();
