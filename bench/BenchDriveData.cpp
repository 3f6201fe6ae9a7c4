// Decoding and judging one drive, and saving and loading a computer's readout.
// Real sectors come from $VALMORA_SHARED_FIXTURES/smart when it is set; without
// it a full 30-entry table stands in.
#include "drivedata/DriveInformationStream.h"
#include "drivedata/SmartTypes.h"
#include "drivedata/Verdicts.h"
#include "drivedata/WmiDriveReader.h"
#include "drives/WmiProviders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

// Counts heap allocations, so the benchmark shows what decoding and judging allocate
// (the reasons of flagged attributes are texts).
static std::atomic<long> g_allocations{0};
void *operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

struct Sectors
{
    QByteArray data, thresholds;
    QString source;
};

Sectors LoadSectors()
{
    const QByteArray root = qgetenv("VALMORA_SHARED_FIXTURES");
    if (!root.isEmpty()) {
        const QString dir = QString::fromLocal8Bit(root) + u"/smart/Maxtor_96147H8--BAC51KJ0/"_s;
        QFile d(dir + u"data.bin"_s), t(dir + u"thresholds.bin"_s);
        if (d.open(QIODevice::ReadOnly) && t.open(QIODevice::ReadOnly))
            return {d.readAll(), t.readAll(), u"Maxtor sectors"_s};
    }
    Sectors s{QByteArray(512, '\0'), QByteArray(512, '\0'), u"synthetic 30 entries"_s};
    for (int i = 0; i < 30; ++i) {
        char *e = s.data.data() + 2 + 12 * i;
        e[0] = static_cast<char>(i + 1);
        e[1] = 0x33;
        e[3] = e[4] = static_cast<char>(200);
        e[5] = static_cast<char>(i);
        char *t = s.thresholds.data() + 2 + 12 * (29 - i);
        t[0] = static_cast<char>(i + 1);
        t[1] = 50;
    }
    return s;
}

std::span<const std::uint8_t> Bytes(const QByteArray &a)
{
    return {reinterpret_cast<const std::uint8_t *>(a.constData()), static_cast<std::size_t>(a.size())};
}

void BM_DecodeAndEvaluate(benchmark::State &state)
{
    const Sectors s = LoadSectors();
    TDriveInformation drive;
    const long before = g_allocations.load();
    for (auto _ : state) {
        drive.AttributeCount = 0;
        DecodeAttributeData(drive, Bytes(s.data));
        DecodeThresholdData(drive, Bytes(s.thresholds));
        benchmark::DoNotOptimize(EvaluateDrive(drive));
    }
    state.counters["allocs/iter"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations()));
    state.SetLabel(s.source.toStdString());
}
BENCHMARK(BM_DecodeAndEvaluate);

// Judging with the program's rules: the installed drive database (each model
// matched once, then cached) and a baseline file.
void BM_EvaluateWithDriveDatabase(benchmark::State &state)
{
    QTemporaryDir dir;
    TVerdictRules rules;
    QString error;
    rules.Database = TDriveDatabase::Load(TDriveDatabase::DefaultPath(), &error);
    rules.Baseline = std::make_shared<TDriveBaseline>(TDriveBaseline::PathIn(dir.path() + u"/"_s));
    const Sectors s = LoadSectors();
    TDriveInformation drive;
    drive.Model = u"Maxtor 96147H8"_s;
    drive.FirmwareRevision = u"BAC51KJ0"_s;
    drive.SerialNumber = u"N80BR8EC"_s;
    drive.Size = 61'492'838'400LL;
    DecodeAttributeData(drive, Bytes(s.data));
    DecodeThresholdData(drive, Bytes(s.thresholds));
    for (auto _ : state)
        benchmark::DoNotOptimize(EvaluateDrive(drive, rules));
    state.SetLabel(rules.Database ? s.source.toStdString() + ", drive database" : "no drive database: " + error.toStdString());
}
BENCHMARK(BM_EvaluateWithDriveDatabase);

void BM_LoadDriveDatabase(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(TDriveDatabase::Load(TDriveDatabase::DefaultPath()));
}
BENCHMARK(BM_LoadDriveDatabase)->Unit(benchmark::kMillisecond);

void FillList(TDriveList &list)
{
    const Sectors s = LoadSectors();
    list.ComputerName = u"WORKSTATION-042"_s;
    for (int i = 0; i < 4; ++i) {
        auto d = std::make_unique<TDriveInformation>();
        d->Model = u"Model %1"_s.arg(i);
        d->SerialNumber = u"SERIAL%1"_s.arg(i);
        d->Name = u"\\\\.\\PHYSICALDRIVE%1"_s.arg(i);
        d->Size = 500'000'000'000LL;
        DecodeAttributeData(*d, Bytes(s.data));
        DecodeThresholdData(*d, Bytes(s.thresholds));
        EvaluateDrive(*d);
        list.Add(std::move(d));
    }
}

void BM_SaveLoadInMemory(benchmark::State &state)
{
    TDriveList list;
    FillList(list);
    for (auto _ : state) {
        TShortDriveInformationStreamWrite out(list.ComputerName, 42005.5);
        for (int i = 0; i < list.Count(); ++i)
            out.WriteDrive(list.Items(i));
        const TShortDriveInformationStreamRead in(out.Data());
        TDriveList loaded;
        for (int i = 0; i < in.RecordCount(); ++i) {
            auto d = std::make_unique<TDriveInformation>();
            in.ReadDrive(i, *d);
            loaded.Add(std::move(d));
        }
        benchmark::DoNotOptimize(loaded.Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * (208 + 4 * 9796));
}
BENCHMARK(BM_SaveLoadInMemory);

void BM_SaveLoadFile(benchmark::State &state)
{
    // /dev/shm is a tmpfs: the figure is the program's own cost, not the disk's.
    QTemporaryDir dir(QDir(u"/dev/shm"_s).exists() ? u"/dev/shm/valmora-bench-XXXXXX"_s : QString());
    const QString path = dir.path() + u"/PC.wci"_s;
    TDriveList list;
    FillList(list);
    for (auto _ : state) {
        list.SaveToFile(path);
        TDriveList loaded;
        loaded.LoadFromFile(path);
        benchmark::DoNotOptimize(loaded.Count());
    }
}
BENCHMARK(BM_SaveLoadFile);

// A whole reading of this computer: sysfs for the disks and, for ATA drives,
// the S.M.A.R.T. sectors from the devices (as root).
void BM_ReadThisComputer(benchmark::State &state)
{
    int result = -1;
    int drives = 0;
    for (auto _ : state) {
        const auto provider = drives::CreateLocalWmiProvider();
        TDriveList list;
        result = ReadComputerDrives(*provider, u"localhost"_s, list, QString(), QString());
        drives = list.Count();
    }
    state.SetLabel("result " + std::to_string(result) + ", " + std::to_string(drives) + " drives");
}
BENCHMARK(BM_ReadThisComputer)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
