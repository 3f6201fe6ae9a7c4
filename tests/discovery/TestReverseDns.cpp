// Reverse lookups with c-ares: the decoding of replies, and the real client
// against a dnsmasq the test starts on a loopback address.
#include "DiscoveryTestSupport.h"
#include "DnsmasqServer.h"

#include "discovery/ComputersIP.h"
#include "platform/ReverseDns.h"
#include "platform/linux/ReverseDnsCares.h"

#include <QElapsedTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

// A DNS message: header, one question for 4.3.2.1.in-addr.arpa, then the
// answer records given as (type, rdata) with the owner as a pointer to the question.
QByteArray reply(int answers, const std::vector<std::pair<int, QByteArray>> &records)
{
    QByteArray m;
    m += QByteArray::fromHex("1234818000010000000000"); // id, flags, qd=1 (an, ns, ar set below)
    m[6] = 0;
    m[7] = static_cast<char>(answers);
    m.resize(12);
    m += QByteArray::fromHex("0134013301320131") + "\x07in-addr\x04" "arpa" + QByteArray(1, 0);
    m += QByteArray::fromHex("000c0001");
    for (const auto &[type, rdata] : records) {
        m += QByteArray::fromHex("c00c");
        m += static_cast<char>(type >> 8);
        m += static_cast<char>(type & 0xff);
        m += QByteArray::fromHex("00010000003c");
        m += static_cast<char>(rdata.size() >> 8);
        m += static_cast<char>(rdata.size() & 0xff);
        m += rdata;
    }
    return m;
}

QByteArray label(const QByteArray &text) { return static_cast<char>(text.size()) + text; }

} // namespace

TEST(ReverseDnsReply, TakesTheFirstPtrRecordWithUtf8Labels)
{
    const QByteArray utf8 = label(u"Łódź-PC"_s.toUtf8()) + label("corp") + QByteArray(1, 0);
    EXPECT_EQ(platform::cares::PtrNameFromReply(reply(1, {{12, utf8}})), u"Łódź-PC.corp"_s);

    // An alias ahead of the record (classless delegation): the PTR record counts.
    const QByteArray alias = label("4") + label("0-25") + QByteArray::fromHex("c00c");
    const QByteArray host = label("HOST1") + QByteArray(1, 0);
    EXPECT_EQ(platform::cares::PtrNameFromReply(reply(2, {{5, alias}, {12, host}})), u"HOST1"_s);

    // Records, but none of type PTR.
    EXPECT_EQ(platform::cares::PtrNameFromReply(reply(1, {{16, "\x03txt"}})), QString());

    // A label with a dot or a backslash inside comes back as those bytes, for the name check to see.
    EXPECT_EQ(platform::cares::PtrNameFromReply(reply(1, {{12, label("a\\b") + QByteArray(1, 0)}})), u"a\\b"_s);
}

TEST(ReverseDnsReply, EmptyOrBrokenReplies)
{
    EXPECT_THROW(platform::cares::PtrNameFromReply(reply(0, {})), platform::EDnsError);
    EXPECT_EQ(platform::cares::PtrNameFromReply(QByteArray("\x12\x34", 2)), std::nullopt);
    QByteArray truncated = reply(1, {{12, label("HOST1") + QByteArray(1, 0)}});
    truncated.chop(4);
    EXPECT_EQ(platform::cares::PtrNameFromReply(truncated), std::nullopt);
    // A compression pointer that points at itself.
    QByteArray loop = reply(1, {{12, QByteArray::fromHex("c000")}});
    loop[loop.size() - 1] = static_cast<char>(loop.size() - 2);
    EXPECT_EQ(platform::cares::PtrNameFromReply(loop), std::nullopt);
}

TEST(ReverseDns, LookupNames)
{
    EXPECT_EQ(platform::ReverseLookupName(u"192.0.2.7"_s), u"7.2.0.192.in-addr.arpa"_s);
    EXPECT_EQ(platform::ReverseLookupName(u"2001:db8::1"_s), QString());
    EXPECT_EQ(platform::ReverseLookupName(u"host"_s), QString());
}

TEST(ReverseDns, SilentServerTimesOutWithinTheWaitingTime)
{
    QUdpSocket silent; // receives the query and never answers
    ASSERT_TRUE(silent.bind(QHostAddress(u"127.0.0.1"_s), 0));
    auto client = platform::CreateReverseDnsClient();
    client->SetServer(u"127.0.0.1"_s, silent.localPort());
    client->SetTimeoutMs(300);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(client->LookupPtr(u"192.0.2.1"_s), std::nullopt);
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST(ReverseDns, NoServerIsAnError)
{
    auto client = platform::CreateReverseDnsClient();
    EXPECT_THROW(client->LookupPtr(u"192.0.2.1"_s), platform::EDnsError);
    client->SetServer(u"not-an-address"_s);
    EXPECT_THROW(client->LookupPtr(u"192.0.2.1"_s), platform::EDnsError);
    client->SetServer(u"127.0.0.1"_s);
    EXPECT_THROW(client->LookupPtr(u"no-address"_s), platform::EDnsError);
}

class Dnsmasq : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new test::DnsmasqServer(u"127.0.0.83"_s,
                                         {{u"192.0.2.1"_s, u"Host-One.Example"_s},
                                          {u"192.0.2.2"_s, u"MixedCase"_s},
                                          {u"192.0.2.4"_s, u"twin"_s},
                                          {u"192.0.2.5"_s, u"TWIN"_s},
                                          {u"192.0.2.6"_s, u"Łódź-PC"_s}});
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (test::DnsmasqServer::Executable().isEmpty())
            GTEST_SKIP() << server->error().toStdString();
        ASSERT_TRUE(server->running()) << "dnsmasq could not be started: " << server->error().toStdString();
    }

    static test::DnsmasqServer *server;
};

test::DnsmasqServer *Dnsmasq::server = nullptr;

TEST_F(Dnsmasq, ClientGetsNamesAndErrorReplies)
{
    auto client = platform::CreateReverseDnsClient();
    client->SetServer(server->address(), server->port());
    client->SetTimeoutMs(5000);
    EXPECT_EQ(client->LookupPtr(u"192.0.2.1"_s), u"Host-One.Example"_s);
    EXPECT_EQ(client->LookupPtr(u"192.0.2.2"_s), u"MixedCase"_s);
    EXPECT_THROW(client->LookupPtr(u"192.0.2.3"_s), platform::EDnsError);
    EXPECT_EQ(client->LookupPtr(u"192.0.2.6"_s), u"Łódź-PC"_s);
}

TEST_F(Dnsmasq, WalkStoresEveryNameOnce)
{
    test::FakeHost host;
    host.params.dnsServers = {server->address()};
    TIPNetworkNeigborhoodComputes source(platform::CreateReverseDnsClient(), host);
    ASSERT_EQ(source.Resolver().ServerAddress(), server->address());
    source.Resolver().SetServer(server->address(), server->port());
    QStringList added;
    source.OnComputerAdded = [&](TNNBase &, const QString &name, bool &) { added.append(name); };
    source.SetIPRanges({u"192.0.2.1-192.0.2.6"_s});

    test::LogCapture capture;
    EXPECT_TRUE(source.Refresh());
    EXPECT_EQ(added, (QStringList{u"Host-One.Example"_s, u"MixedCase"_s, u"twin"_s, u"Łódź-PC"_s}));
    EXPECT_EQ(source.Computers().names(),
              (QStringList{u"host-one.example"_s, u"mixedcase"_s, u"twin"_s, u"Łódź-pc"_s}));
    // The address without a record is an error reply, logged with place code 0.
    const QStringList errors = capture.exceptions(0);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().contains(u"192.0.2.3"_s)) << errors.first().toStdString();
    EXPECT_EQ(capture.traces().count(u"Gethostname failed"_s), 1);

    added.clear();
    source.Refresh();
    EXPECT_TRUE(added.isEmpty());
}
