// Addresses, ranges and the walk of the IP source, with a scripted DNS client.
#include "DiscoveryTestSupport.h"

#include "discovery/ComputersIP.h"
#include "discovery/NetworkParams.h"
#include "discovery/ThisComputer.h"
#include "foundation/Exception.h"

#include <QFile>

#include <gtest/gtest.h>

#include <map>
#include <variant>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

TEST(TIP, ParsesLowEightBitsAndLeavesMissingOctetsZero)
{
    struct Case
    {
        QString text;
        QString expected;
    };
    const Case cases[] = {
        {u"10.0.0.1"_s, u"10.0.0.1"_s},   {u"1.2.3.300"_s, u"1.2.3.44"_s}, {u"1.2.3.-1"_s, u"1.2.3.255"_s},
        {u"192.168"_s, u"192.168.0.0"_s}, {u"7"_s, u"7.0.0.0"_s},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TIP(c.text).AsText(), c.expected) << c.text.toStdString();
}

TEST(TIP, RaisesConversionErrors)
{
    for (const QString &text : {u""_s, u"1..2.3"_s, u"1.2.3."_s, u"a.b.c.d"_s, u"1.2.3.4x"_s, u"1.2.3.4.5"_s,
                                u"99999999999.1.1.1"_s})
        EXPECT_THROW(TIP{text}, EConvertError) << text.toStdString();
}

TEST(TIP, IncrementCarriesAndWraps)
{
    const std::pair<QString, QString> cases[] = {{u"10.0.0.1"_s, u"10.0.0.2"_s},
                                                 {u"10.0.0.255"_s, u"10.0.1.0"_s},
                                                 {u"10.255.255.255"_s, u"11.0.0.0"_s},
                                                 {u"255.255.255.255"_s, u"0.0.0.0"_s}};
    for (const auto &[from, to] : cases) {
        TIP ip(from);
        ip.Increment();
        EXPECT_EQ(ip.AsText(), to);
    }
    TIP a(u"1.2.3.4"_s), b;
    EXPECT_FALSE(a.SameAs(b));
    b.Assign(a);
    EXPECT_TRUE(a.SameAs(b));
}

TEST(TIP, IsValidIP)
{
    for (const QString &text : {u"1.2.3.4"_s, u"1.2.3.999"_s, u"0.0.0.0"_s})
        EXPECT_TRUE(IsValidIP(text)) << text.toStdString();
    for (const QString &text : {u"1.2.3"_s, u"1.2.3.4.5"_s, u"1..2.3"_s, u""_s, u"1.2.3.x"_s, u"1.2.3.4."_s})
        EXPECT_FALSE(IsValidIP(text)) << text.toStdString();
}

TEST(TRange, Forms)
{
    TRange one(u"10.0.0.5"_s);
    EXPECT_EQ(one.First.AsText(), u"10.0.0.5"_s);
    EXPECT_TRUE(one.IsLast());
    TRange two(u"10.0.0.254-10.0.1.1"_s);
    EXPECT_EQ(two.Current.AsText(), u"10.0.0.254"_s);
    EXPECT_EQ(two.Last.AsText(), u"10.0.1.1"_s);
    EXPECT_FALSE(two.IsLast());
    EXPECT_FALSE(two.IsReversed());
    EXPECT_TRUE(TRange(u"10.0.1.0-10.0.0.255"_s).IsReversed());

    try {
        TRange empty(u""_s);
        FAIL() << "an empty range was accepted";
    } catch (const Exception &e) {
        EXPECT_EQ(e.message(), u"Zakres nie może mieć długości 0!"_s);
    }
    EXPECT_THROW(TRange(u"10.0.0.1-"_s), EConvertError);
}

namespace {

struct Timeout
{
};
using Answer = std::variant<QString, Timeout, platform::EDnsError>;

// Answers from a table; anything not in it times out.
class ScriptedResolver final : public platform::TReverseDnsClient
{
public:
    std::map<QString, Answer> answers;
    QStringList asked;
    QString server;
    int timeout = 0;

    void SetServer(const QString &address, std::uint16_t) override { server = address; }
    QString ServerAddress() const override { return server; }
    std::uint16_t ServerPort() const override { return 53; }
    void SetTimeoutMs(int ms) override { timeout = ms; }
    int TimeoutMs() const override { return timeout; }
    std::optional<QString> LookupPtr(const QString &address) override
    {
        asked.append(address);
        const auto it = answers.find(address);
        if (it == answers.end() || std::holds_alternative<Timeout>(it->second))
            return std::nullopt;
        if (const auto *e = std::get_if<platform::EDnsError>(&it->second))
            throw *e;
        return std::get<QString>(it->second);
    }
};

class IpSource : public ::testing::Test
{
protected:
    IpSource()
    {
        host.params.dnsServers = {u"192.0.2.53"_s, u"192.0.2.54"_s};
        auto owned = std::make_unique<ScriptedResolver>();
        dns = owned.get();
        source = std::make_unique<TIPNetworkNeigborhoodComputes>(std::move(owned), host);
        source->OnComputerAdded = [this](TNNBase &, const QString &name, bool &) { added.append(name); };
        source->OnCheckEvent = [this](TIPNetworkNeigborhoodComputes &, const QString &ip, bool &cancel) {
            EXPECT_FALSE(cancel);
            checked.append(ip);
            cancel = ip == cancelAt;
        };
    }

    test::FakeHost host;
    ScriptedResolver *dns;
    std::unique_ptr<TIPNetworkNeigborhoodComputes> source;
    QStringList added;
    QStringList checked;
    QString cancelAt;
};

} // namespace

TEST_F(IpSource, TakesTheFirstDnsServer)
{
    EXPECT_EQ(dns->server, u"192.0.2.53"_s);
    test::LogCapture capture;
    test::FakeHost none;
    TIPNetworkNeigborhoodComputes withoutServer(std::make_unique<ScriptedResolver>(), none);
    EXPECT_EQ(capture.traces(), QStringList{u"DNS server count: 0"_s});
    EXPECT_TRUE(withoutServer.Resolver().ServerAddress().isEmpty());
}

TEST_F(IpSource, WalkTracesEveryAddressButTheLast)
{
    dns->answers = {{u"10.0.0.1"_s, u"HOST1"_s}, {u"10.0.0.3"_s, u"Host3.Example"_s}};
    source->SetIPRanges({u"10.0.0.1-10.0.0.3"_s});
    test::LogCapture capture;
    EXPECT_TRUE(source->Refresh());
    EXPECT_EQ(dns->timeout, 5000);
    EXPECT_EQ(dns->asked, (QStringList{u"10.0.0.1"_s, u"10.0.0.2"_s, u"10.0.0.3"_s}));
    EXPECT_EQ(checked, (QStringList{u"10.0.0.1"_s, u"10.0.0.2"_s}));
    EXPECT_EQ(capture.traces(), (QStringList{u"Range count 1"_s, u"IP: 10.0.0.1"_s, u"Hostname HOST1"_s,
                                             u"IP: 10.0.0.2"_s, u"Gethostname failed"_s}));
    EXPECT_EQ(added, (QStringList{u"HOST1"_s, u"Host3.Example"_s}));
    EXPECT_EQ(source->Computers().names(), (QStringList{u"host1"_s, u"host3.example"_s}));
    EXPECT_TRUE(source->Computers().sorted());
    EXPECT_EQ(source->ComputerName(0), u"host1"_s);
}

TEST_F(IpSource, WalkCarriesAcrossOctetsAndSingleAddressesAreLookedUpOnce)
{
    source->SetIPRanges({u"10.0.0.254-10.0.1.1"_s, u"10.0.0.5"_s, u"10.0.0.6-10.0.0.6"_s});
    source->Refresh();
    EXPECT_EQ(dns->asked, (QStringList{u"10.0.0.254"_s, u"10.0.0.255"_s, u"10.0.1.0"_s, u"10.0.1.1"_s,
                                       u"10.0.0.5"_s, u"10.0.0.6"_s}));
}

TEST_F(IpSource, NamesAreKeptOnceAndNeverRemoved)
{
    dns->answers = {{u"10.0.0.1"_s, u"Twin"_s}, {u"10.0.0.2"_s, u"TWIN"_s}, {u"10.0.0.3"_s, u"b-host"_s}};
    source->SetIPRanges({u"10.0.0.1-10.0.0.3"_s});
    source->Refresh();
    EXPECT_EQ(added, (QStringList{u"Twin"_s, u"b-host"_s}));

    dns->answers.clear(); // every host gone
    added.clear();
    source->Refresh();
    EXPECT_TRUE(added.isEmpty());
    EXPECT_EQ(source->Computers().names(), (QStringList{u"b-host"_s, u"twin"_s}));
}

TEST_F(IpSource, FailedLookupsAreLoggedWithPlaceZeroAndTheWalkGoesOn)
{
    dns->answers = {{u"10.0.0.1"_s, platform::EDnsError(u"server failure"_s)},
                    {u"10.0.0.2"_s, u"../../etc/passwd"_s},
                    {u"10.0.0.3"_s, u""_s},
                    {u"10.0.0.4"_s, u"ok-host"_s}};
    source->SetIPRanges({u"10.0.0.1-10.0.0.4"_s});
    test::LogCapture capture;
    source->Refresh();
    EXPECT_EQ(added, QStringList{u"ok-host"_s});
    const QStringList errors = capture.exceptions(0);
    ASSERT_EQ(errors.size(), 3);
    EXPECT_EQ(errors.at(0), u"server failure"_s);
    EXPECT_TRUE(errors.at(1).contains(u"the reverse lookup of 10.0.0.2"_s));
    EXPECT_TRUE(errors.at(2).contains(u"empty"_s));
    EXPECT_EQ(capture.traces().count(u"Gethostname failed"_s), 3);
}

TEST_F(IpSource, CancelEndsTheRangeOnlyWhenTheAddressBringsNoNewName)
{
    dns->answers = {{u"10.0.0.2"_s, u"new-host"_s}, {u"10.0.0.4"_s, u"after-cancel"_s}};
    cancelAt = u"10.0.0.2"_s; // brings a new name: the added event clears Cancel
    source->SetIPRanges({u"10.0.0.1-10.0.0.4"_s});
    source->Refresh();
    EXPECT_EQ(checked.size(), 3);

    checked.clear();
    dns->asked.clear();
    cancelAt = u"10.0.0.1"_s; // brings nothing: the walk ends, the next address is still resolved once
    source->SetIPRanges({u"10.0.0.1-10.0.0.4"_s, u"10.0.1.1-10.0.1.2"_s});
    source->Refresh();
    EXPECT_EQ(dns->asked, (QStringList{u"10.0.0.1"_s, u"10.0.0.2"_s, u"10.0.1.1"_s, u"10.0.1.2"_s}));
}

TEST_F(IpSource, ReversedRangeIsLoggedAndSkipped)
{
    source->SetIPRanges({u"10.0.0.9-10.0.0.1"_s, u"10.0.0.20"_s});
    test::LogCapture capture;
    EXPECT_TRUE(source->Refresh());
    EXPECT_EQ(dns->asked, QStringList{u"10.0.0.20"_s});
    const QStringList errors = capture.exceptions(0);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().contains(u"10.0.0.9-10.0.0.1"_s));
}

TEST_F(IpSource, BadRangeLineRaisesAndKeepsWhatWasFound)
{
    dns->answers = {{u"10.0.0.1"_s, u"first"_s}};
    source->SetIPRanges({u"10.0.0.1"_s, u""_s, u"10.0.0.2"_s});
    EXPECT_THROW(source->Refresh(), Exception);
    EXPECT_EQ(source->Computers().names(), QStringList{u"first"_s});
    EXPECT_TRUE(source->Computers().sorted());
    source->SetIPRanges({u"10.0.0.x"_s});
    EXPECT_THROW(source->Refresh(), EConvertError);
}

namespace {

QString writeResolvConf(const test::ScopedSandbox &sandbox, const QByteArray &text)
{
    const QString path = sandbox.path(u"resolv.conf"_s);
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
    return path;
}

struct ResolvConfEnv
{
    explicit ResolvConfEnv(const QString &path) { qputenv("VALMORA_RESOLV_CONF", path.toLocal8Bit()); }
    ~ResolvConfEnv() { qunsetenv("VALMORA_RESOLV_CONF"); }
};

} // namespace

TEST(NetworkParams, ReadsServersAndDomainFromTheResolverConfiguration)
{
    test::ScopedSandbox sandbox;
    const ResolvConfEnv env(writeResolvConf(sandbox, "# local resolver\n"
                                                     "search corp.example lab.example\n"
                                                     "nameserver 192.0.2.53 ; primary\n"
                                                     "nameserver not-an-address\n"
                                                     "nameserver\t2001:db8::35\n"
                                                     "options edns0\n"
                                                     "nameserver 192.0.2.54\n"));
    const TNetworkParams params;
    EXPECT_EQ(params.Error(), 0);
    EXPECT_EQ(params.DnsServerList(), (QStringList{u"192.0.2.53"_s, u"2001:db8::35"_s, u"192.0.2.54"_s}));
    EXPECT_EQ(params.DomainName(), u"corp.example"_s);
    EXPECT_EQ(params.HostName(), LocalComputerName());
    EXPECT_TRUE(params.CurrentDnsServer().isEmpty());
    EXPECT_FALSE(params.EnableDns());

    // A later "domain" line replaces the search list, as the resolver reads it.
    writeResolvConf(sandbox, "search a.example\ndomain b.example\nnameserver 192.0.2.53\n");
    EXPECT_EQ(TNetworkParams().DomainName(), u"b.example"_s);
}

TEST(NetworkParams, MissingFileOrNoServerLeavesEverythingEmpty)
{
    test::ScopedSandbox sandbox;
    {
        const ResolvConfEnv env(sandbox.path(u"missing.conf"_s));
        const TNetworkParams params;
        EXPECT_NE(params.Error(), 0);
        EXPECT_TRUE(params.DnsServerList().isEmpty());
        EXPECT_TRUE(params.HostName().isEmpty());
    }
    {
        const ResolvConfEnv env(writeResolvConf(sandbox, "domain corp.example\n"));
        const TNetworkParams params;
        EXPECT_EQ(params.Error(), 0);
        EXPECT_TRUE(params.DnsServerList().isEmpty());
        EXPECT_TRUE(params.DomainName().isEmpty());
    }
}
