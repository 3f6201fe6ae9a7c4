// The remote reader's share of a reading: parsing pages of WS-Management
// instances, and joining a large inventory (media, drives, S.M.A.R.T.
// instances) to drives, which must grow with the inventory, not its square.
#include "drivedata/WmiDriveReader.h"
#include "drives/winrm/WsManMessages.h"

#include <benchmark/benchmark.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::drives;

namespace {

QString tag(std::int64_t i)
{
    return u"\\\\.\\PHYSICALDRIVE%1"_s.arg(i);
}

QString pnp(std::int64_t i)
{
    return u"SCSI\\DISK&VEN_BENCH\\%1"_s.arg(i);
}

// A computer of n media and drives, and one S.M.A.R.T. instance per drive
// (the reader keeps at most its cap of them).
class InventoryProvider final : public TWmiStaticProvider
{
public:
    explicit InventoryProvider(std::int64_t n)
        : m_n(n)
    {
    }
    void Connect(const QString &, const QString &, const QString &, const QString &) override {}
    TWmiInstances Query(const QString &, const QString &, const QString &, const QString &,
                        const QString &query) override
    {
        const QString cls = QueriedClass(query);
        TWmiInstances out;
        const std::int64_t count = cls.startsWith(u"MSStorage"_s) ? std::min<std::int64_t>(m_n, kMaxDrivesPerComputer) : m_n;
        out.reserve(static_cast<std::size_t>(count));
        for (std::int64_t i = count - 1; i >= 0; --i) { // the service's order is not the drives' order
            TWmiInstance o;
            if (cls == u"Win32_PhysicalMedia") {
                o.Set(u"Tag"_s, tag(i));
                o.Set(u"SerialNumber"_s, u"SN-%1"_s.arg(i));
            } else if (cls == u"Win32_DiskDrive") {
                o.Set(u"DeviceId"_s, tag(m_n - 1 - i));
                o.Set(u"PNPDeviceID"_s, pnp(m_n - 1 - i));
                o.Set(u"Model"_s, u"BENCH DISK"_s);
            } else {
                o.Set(u"InstanceName"_s, pnp(i) + u"_0"_s);
                o.Set(u"Length"_s, std::int64_t{512});
                o.Set(u"VendorSpecific"_s, std::vector<std::int64_t>(512, 0));
            }
            out.push_back(std::move(o));
        }
        return out;
    }

private:
    std::int64_t m_n;
};

void BM_ReadLargeInventory(benchmark::State &state)
{
    InventoryProvider provider(state.range(0));
    for (auto _ : state) {
        TDriveList list;
        QString reason;
        benchmark::DoNotOptimize(ReadComputerDrives(provider, u"PC"_s, list, u"u"_s, u"p"_s, &reason));
        if (list.Count() != std::min<std::int64_t>(state.range(0), kMaxDrivesPerComputer))
            state.SkipWithError("the list does not hold the expected drives");
    }
}
BENCHMARK(BM_ReadLargeInventory)->Arg(256)->Arg(1024)->Arg(8192)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_ParsePageOfDrives(benchmark::State &state)
{
    QByteArray items = "<n:Items>";
    for (int i = 0; i < state.range(0); ++i)
        items += "<p:Win32_DiskDrive xmlns:p=\"urn:d\"><p:DeviceID>" + tag(i).toUtf8() + "</p:DeviceID><p:PNPDeviceID>"
                 + pnp(i).toUtf8().replace("&", "&amp;") + "</p:PNPDeviceID><p:Size>1000</p:Size></p:Win32_DiskDrive>";
    items += "</n:Items>";
    const QString id = winrm::NewMessageId();
    const QByteArray envelope =
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
        "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\"><s:Header><a:Action>"
        + QString::fromUtf16(winrm::action::PullResponse).toUtf8() + "</a:Action><a:RelatesTo>" + id.toUtf8()
        + "</a:RelatesTo></s:Header><s:Body><n:PullResponse>" + items
        + "<n:EndOfSequence/></n:PullResponse></s:Body></s:Envelope>";
    for (auto _ : state)
        benchmark::DoNotOptimize(
            winrm::ParseEnumerationResponse(envelope, QString::fromUtf16(winrm::action::PullResponse), id));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * envelope.size());
}
BENCHMARK(BM_ParsePageOfDrives)->Arg(32)->Arg(500);

} // namespace

BENCHMARK_MAIN();
