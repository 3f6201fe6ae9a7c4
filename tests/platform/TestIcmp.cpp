#include "platform/Icmp.h"
#include "platform/linux/IcmpLinux.h"

#include "NetNamespace.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>

#include <thread>
#include <vector>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

// Empty when this process may send ICMP echoes at all: with a datagram socket
// (net.ipv4.ping_group_range holds its group) or a raw one (root).
QString IcmpSocketUnavailable()
{
    for (const int type : {SOCK_DGRAM, SOCK_RAW}) {
        const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0) {
            ::close(fd);
            return QString();
        }
    }
    return QStringLiteral("needs root or a group in net.ipv4.ping_group_range to open an ICMP socket");
}

} // namespace

TEST(Icmp, LoopbackAnswersWithAnEchoReply)
{
    if (const QString why = IcmpSocketUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    TIdIcmpClient client;
    int replies = 0;
    TReplyStatus seen;
    client.OnReply = [&](const TReplyStatus &s) {
        ++replies;
        seen = s;
    };
    for (const QString &host : {u"127.0.0.1"_s, u"localhost"_s}) {
        client.Host = host;
        const TReplyStatus status = client.Ping();
        EXPECT_EQ(status.ReplyStatusType, TReplyStatusType::rsEcho) << host.toStdString();
        EXPECT_EQ(status.FromIpAddress, u"127.0.0.1"_s);
    }
    EXPECT_EQ(replies, 2) << "the reply event runs inside every ping";
    EXPECT_EQ(seen.ReplyStatusType, TReplyStatusType::rsEcho);
}

TEST(Icmp, SilentAndUnreachableHostsAreNoEcho)
{
    if (const QString why = test::NetNamespaceUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    // Once with raw sockets, once with ICMP datagram sockets, which the
    // namespace's ping_group_range then allows.
    for (const bool datagram : {false, true}) {
        SCOPED_TRACE(datagram ? "datagram socket" : "raw socket");
        QStringList setup{u"ip link add vm0 type veth peer name vm1"_s, u"ip link set vm0 up"_s,
                          u"ip link set vm1 up"_s, u"ip addr add 10.213.0.1/24 dev vm0"_s};
        setup.append(datagram ? u"sysctl -w net.ipv4.ping_group_range='0 2147483647'"_s
                              : u"sysctl -w net.ipv4.ping_group_range='1 0'"_s);
        // Nobody answers on the far end of the veth pair, and no route leads to
        // the other network.
        const QString error = test::RunInNetNamespace(setup, [] {
            TIdIcmpClient client;
            client.ReceiveTimeout = 300;
            client.Host = u"10.213.0.2"_s;
            EXPECT_EQ(client.Ping().ReplyStatusType, TReplyStatusType::rsTimeOut);
            client.Host = u"10.214.0.2"_s;
            EXPECT_EQ(client.Ping().ReplyStatusType, TReplyStatusType::rsErrorUnreachable);
            for (const QString &own : {u"10.213.0.1"_s, u"127.0.0.1"_s}) {
                client.Host = own;
                EXPECT_EQ(client.Ping().ReplyStatusType, TReplyStatusType::rsEcho) << own.toStdString();
            }
        });
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    }
}

TEST(Icmp, NameThatDoesNotResolveRaises)
{
    if (const QString why = test::NetNamespaceUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    // Inside the namespace there is no route to any name server, so the lookup
    // fails without a packet leaving the machine.
    const QString error = test::RunInNetNamespace({}, [] {
        TIdIcmpClient client;
        client.Host = u"no-such-host.invalid"_s;
        EXPECT_THROW(client.Ping(), EIcmpError);
    });
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
}

namespace {

in_addr address(const char *dotted)
{
    in_addr a {};
    ::inet_pton(AF_INET, dotted, &a);
    return a;
}

// An IPv4 header (20 bytes) and an ICMP header of the given type, id and
// sequence; an error also quotes the IP and ICMP headers of an echo request.
std::vector<unsigned char> datagram(int type, std::uint16_t id, std::uint16_t sequence, bool withIp = true)
{
    std::vector<unsigned char> bytes;
    const auto ipHeader = [&bytes] {
        iphdr ip {};
        ip.version = 4;
        ip.ihl = 5;
        ip.protocol = IPPROTO_ICMP;
        const auto *p = reinterpret_cast<const unsigned char *>(&ip);
        bytes.insert(bytes.end(), p, p + sizeof ip);
    };
    const auto icmpHeader = [&bytes](int t, std::uint16_t i, std::uint16_t s) {
        icmphdr h {};
        h.type = static_cast<std::uint8_t>(t);
        h.un.echo.id = htons(i);
        h.un.echo.sequence = htons(s);
        const auto *p = reinterpret_cast<const unsigned char *>(&h);
        bytes.insert(bytes.end(), p, p + sizeof h);
    };
    if (withIp)
        ipHeader();
    if (type == ICMP_DEST_UNREACH || type == ICMP_TIME_EXCEEDED) {
        icmpHeader(type, 0, 0);
        ipHeader();
        icmpHeader(ICMP_ECHO, id, sequence);
    } else {
        icmpHeader(type, id, sequence);
        bytes.resize(bytes.size() + 16, 'A');
    }
    return bytes;
}

} // namespace

TEST(Icmp, EachPingTakesOnlyTheAnswerToItsOwnRequest)
{
    using T = TReplyStatusType;
    const in_addr target = address("192.0.2.7");
    const in_addr other = address("192.0.2.8");
    struct Case
    {
        const char *what;
        std::vector<unsigned char> bytes;
        bool raw;
        in_addr from;
        std::optional<T> expected;
    };
    std::vector<unsigned char> truncated = datagram(ICMP_DEST_UNREACH, 77, 5);
    truncated.resize(20 + 8 + 20 + 4); // the quoted request ends before its sequence
    const Case cases[] = {
        {"our echo reply", datagram(ICMP_ECHOREPLY, 77, 5), true, target, T::rsEcho},
        {"another ping's identifier", datagram(ICMP_ECHOREPLY, 78, 5), true, target, std::nullopt},
        {"another ping's sequence", datagram(ICMP_ECHOREPLY, 77, 6), true, target, std::nullopt},
        {"from another host", datagram(ICMP_ECHOREPLY, 77, 5), true, other, std::nullopt},
        {"our own request seen on loopback", datagram(ICMP_ECHO, 77, 5), true, target, std::nullopt},
        {"unreachable, quoting ours", datagram(ICMP_DEST_UNREACH, 77, 5), true, other, T::rsErrorUnreachable},
        {"time exceeded, quoting ours", datagram(ICMP_TIME_EXCEEDED, 77, 5), true, other, T::rsErrorTTLExceeded},
        {"unreachable, quoting another ping", datagram(ICMP_DEST_UNREACH, 77, 9), true, other, std::nullopt},
        {"quote cut short", truncated, true, other, std::nullopt},
        {"datagram socket: the kernel's identifier", datagram(ICMP_ECHOREPLY, 4242, 5, false), false, target, T::rsEcho},
        {"datagram socket: another sequence", datagram(ICMP_ECHOREPLY, 4242, 6, false), false, target, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::icmp::AnswerTo(c.bytes.data(), c.bytes.size(), c.raw, 77, 5, c.from, target), c.expected) << c.what;
}

TEST(Icmp, ManyPingsAtOnceEachGetTheirOwnAnswer)
{
    if (const QString why = test::NetNamespaceUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    for (const bool datagram : {false, true}) {
        SCOPED_TRACE(datagram ? "datagram sockets" : "raw sockets");
        const QStringList setup{u"ip link add vm0 type veth peer name vm1"_s, u"ip link set vm0 up"_s,
                                u"ip link set vm1 up"_s, u"ip addr add 10.213.0.1/24 dev vm0"_s,
                                datagram ? u"sysctl -w net.ipv4.ping_group_range='0 2147483647'"_s
                                         : u"sysctl -w net.ipv4.ping_group_range='1 0'"_s};
        const QString error = test::RunInNetNamespace(setup, [] {
            // One echo for all, as the checks of a cycle share it; half of the
            // hosts answer (loopback), half stay silent (nobody behind the veth).
            std::shared_ptr<TIcmpEcho> echo = CreateSystemIcmpEcho();
            constexpr int count = 48;
            std::vector<TReplyStatus> results(count);
            std::vector<std::thread> threads;
            for (int i = 0; i < count; ++i) {
                threads.emplace_back([&, i] {
                    TIdIcmpClient client(echo);
                    client.ReceiveTimeout = 1500;
                    client.Host = i % 2 ? u"10.213.0.%1"_s.arg(2 + i) : u"127.0.0.%1"_s.arg(10 + i);
                    try {
                        results[static_cast<std::size_t>(i)] = client.Ping();
                    } catch (const EIcmpError &) {
                        results[static_cast<std::size_t>(i)].ReplyStatusType = TReplyStatusType::rsError;
                    }
                });
            }
            for (std::thread &t : threads)
                t.join();
            for (int i = 0; i < count; ++i) {
                const TReplyStatus &r = results[static_cast<std::size_t>(i)];
                if (i % 2) {
                    EXPECT_NE(r.ReplyStatusType, TReplyStatusType::rsEcho) << i;
                } else {
                    EXPECT_EQ(r.ReplyStatusType, TReplyStatusType::rsEcho) << i;
                    EXPECT_EQ(r.FromIpAddress, u"127.0.0.%1"_s.arg(10 + i)) << i;
                }
            }
        });
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    }
}
