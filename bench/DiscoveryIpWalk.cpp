// The walk of a 254-address range against a dnsmasq on a loopback address, every
// address answering: the time per lookup should be close to the loopback round
// trip, never to a time-out.
#include "../tests/discovery/DnsmasqServer.h"

#include "discovery/ComputersIP.h"
#include "platform/HostInfo.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

std::vector<std::pair<QString, QString>> records()
{
    std::vector<std::pair<QString, QString>> out;
    for (int i = 1; i <= 254; ++i)
        out.emplace_back(u"192.0.2.%1"_s.arg(i), u"Bench-Host-%1.example"_s.arg(i));
    return out;
}

// Started once, stopped when the program ends.
valmora::test::DnsmasqServer &server()
{
    static valmora::test::DnsmasqServer instance(u"127.0.0.84"_s, records());
    return instance;
}

void WalkOf254Addresses(benchmark::State &state)
{
    auto &dns = server();
    if (!dns.running()) {
        state.SkipWithError(("dnsmasq could not be started: " + dns.error().toStdString()).c_str());
        return;
    }
    valmora::TIPNetworkNeigborhoodComputes source(valmora::platform::CreateReverseDnsClient(),
                                                  valmora::platform::SystemHostInfo());
    source.Resolver().SetServer(dns.address(), dns.port());
    source.SetIPRanges({u"192.0.2.1-192.0.2.254"_s});
    for (auto _ : state) {
        source.Refresh();
        benchmark::DoNotOptimize(source.ComputerCount());
    }
    if (source.ComputerCount() != 254)
        state.SkipWithError("not every address answered");
    state.SetItemsProcessed(state.iterations() * 254);
    // Seconds per lookup.
    state.counters["per_lookup"] = benchmark::Counter(static_cast<double>(state.iterations() * 254),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(WalkOf254Addresses)->Unit(benchmark::kMillisecond)->UseRealTime();

void OneLookup(benchmark::State &state)
{
    auto &dns = server();
    if (!dns.running()) {
        state.SkipWithError("dnsmasq could not be started");
        return;
    }
    auto client = valmora::platform::CreateReverseDnsClient();
    client->SetServer(dns.address(), dns.port());
    for (auto _ : state)
        benchmark::DoNotOptimize(client->LookupPtr(u"192.0.2.77"_s));
}
BENCHMARK(OneLookup)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
