// What the refresh thread costs while it waits: CPU time of the whole process
// over a stretch of idle waiting between cycles (it should be about zero, as
// the waits block on a condition variable instead of polling).
#include "discovery/Computers.h"
#include "discovery/ComputersIP.h"
#include "discovery/ThisComputer.h"
#include "refresh/RefreshThread.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <thread>

using namespace valmora;

namespace {

double processCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void BM_IdleRefreshThread(benchmark::State &state)
{
    const auto idle = std::chrono::seconds(state.range(0));
    for (auto _ : state) {
        TRefreshThreadParts parts;
        parts.IPSource = std::make_unique<TIPNetworkNeigborhoodComputes>(); // no ranges: nothing to check
        parts.Echo = CreateSystemIcmpEcho();
        parts.ReadDrives = [](const QString &, TDriveList &, const QString &, const QString &) { return 0; };
        TRefreshThread thread(std::move(parts));
        thread.SetSearchKind(2);
        thread.SetIntervalMs(3600 * 1000);
        thread.Resume();
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the first cycle
        const double before = processCpuSeconds();
        std::this_thread::sleep_for(idle);
        const double spent = processCpuSeconds() - before;
        thread.Stop();
        state.counters["idle_s"] = static_cast<double>(idle.count());
        state.counters["cpu_ms"] = spent * 1000.0;
    }
}

} // namespace

BENCHMARK(BM_IdleRefreshThread)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
