// What the monitor costs: the size and time of one /metrics answer for 1,000
// computers with 4 drives each (rendered alone, and fetched over HTTP on
// loopback), the resident memory those metrics take, and the resident memory
// and CPU time of the real valmora-monitor while it waits between cycles.
#include "drivedata/WmiDriveReader.h"
#include "monitor/MetricsServer.h"
#include "monitor/MetricsStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

constexpr int kComputers = 1000;
constexpr int kDrives = 4;

// VmRSS of a process in MiB.
double residentMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// User and system CPU time of a process in seconds.
double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double g_storeMiB = 0; // what filling the store added to the resident memory

// 1,000 computers, each with four copies of the recorded failing drive.
TMetricsStore &bigStore()
{
    static TMetricsStore store;
    static bool filled = false;
    if (!filled) {
        filled = true;
        const double before = residentMiB(::getpid());
        TDriveList recorded;
        ReadComputerDrives(u"FAILING-PC"_s, recorded, {}, {}, nullptr,
                           QString::fromUtf8(VALMORA_SOURCE_DIR) + u"/tests/fixtures/drivedata/recordings"_s);
        std::vector<TComputerMetrics> computers;
        for (int c = 0; c < kComputers; ++c) {
            TDriveList list;
            for (int d = 0; d < kDrives && recorded.Count() > 0; ++d) {
                auto drive = std::make_unique<TDriveInformation>(recorded.Items(0));
                drive->Name = u"\\\\.\\PHYSICALDRIVE%1"_s.arg(d);
                drive->SerialNumber = u"WD-%1-%2"_s.arg(c, 6, 10, QChar(u'0')).arg(d);
                list.Add(std::move(drive));
            }
            computers.push_back(MetricsOfComputer(u"pc%1.example.test"_s.arg(c, 4, 10, QChar(u'0')),
                                                  c % 10 == 0 ? StateSuspected : StateGood, list, 1.8e9,
                                                  [](const TDriveInformation &) { return false; }));
        }
        store.ApplyCycle(std::move(computers), {}, 42.0, 1.8e9);
        g_storeMiB = residentMiB(::getpid()) - before;
    }
    return store;
}

void BM_RenderMetrics(benchmark::State &state)
{
    const auto format = static_cast<TExposition>(state.range(0));
    const TMetricsStore &store = bigStore();
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QByteArray text = store.Render(format);
        bytes = text.size();
        benchmark::DoNotOptimize(text.constData());
    }
    state.counters["answer_MiB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
    state.counters["store_rss_MiB"] = g_storeMiB;
    state.SetLabel(format == TExposition::OpenMetrics ? "OpenMetrics" : "Prometheus text");
}

void BM_ScrapeMetricsOverHttp(benchmark::State &state)
{
    const TMetricsStore &store = bigStore();
    TMetricsServer server(store);
    QString error;
    if (!server.Listen({u"127.0.0.1"_s, 0}, &error)) {
        state.SkipWithError(error.toStdString().c_str());
        return;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/metrics";
    CURL *curl = curl_easy_init();
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char *data, size_t size, size_t count, void *into) -> size_t {
        static_cast<std::string *>(into)->append(data, size * count);
        return size * count;
    });
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(curl) != CURLE_OK) {
            state.SkipWithError("the scrape failed");
            break;
        }
    }
    curl_easy_cleanup(curl);
    state.counters["answer_MiB"] = static_cast<double>(body.size()) / (1024.0 * 1024.0);
}

// The real program on this computer's recording, idle after its first cycle.
void BM_MonitorIdle(benchmark::State &state)
{
    const int idleSeconds = static_cast<int>(state.range(0));
    for (auto _ : state) {
        QTemporaryDir dir;
        QDir().mkpath(dir.path() + u"/recordings"_s);
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        const QString name = QString::fromLocal8Bit(host).section(u'.', 0, 0);
        QFile::copy(QString::fromUtf8(VALMORA_SOURCE_DIR) + u"/tests/fixtures/network/failing.valmora.test.json"_s,
                    dir.path() + u"/recordings/"_s + name + u".json"_s);
        QFile settings(dir.path() + u"/monitor.reg"_s);
        settings.open(QIODevice::WriteOnly);
        settings.write("[HKEY_CURRENT_USER\\Software\\Quillmoor\\VALMORA]\n\"SearchKind\"=dword:00000000\n"
                       "\"Interval\"=dword:00000708\n\"MetricsListen\"=\"127.0.0.1:0\"\n");
        settings.close();
        QProcess monitor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VALMORA_COMMON_APPDATA"_s, dir.path() + u"/appdata"_s);
        env.insert(u"VALMORA_RECORDINGS"_s, dir.path() + u"/recordings"_s);
        monitor.setProcessEnvironment(env);
        monitor.start(QString::fromUtf8(VALMORA_MONITOR), {u"--settings"_s, settings.fileName()});
        if (!monitor.waitForStarted(10000)) {
            state.SkipWithError("valmora-monitor did not start");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2)); // the first cycle
        const auto pid = static_cast<pid_t>(monitor.processId());
        const double before = cpuSeconds(pid);
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const double cpu = cpuSeconds(pid) - before;
        state.counters["rss_MiB"] = residentMiB(pid);
        state.counters["idle_cpu_percent"] = 100.0 * cpu / idleSeconds;
        monitor.terminate();
        monitor.waitForFinished(15000);
    }
}

} // namespace

BENCHMARK(BM_RenderMetrics)->Arg(static_cast<int>(TExposition::Prometheus))->Arg(static_cast<int>(TExposition::OpenMetrics))
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrapeMetricsOverHttp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorIdle)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
