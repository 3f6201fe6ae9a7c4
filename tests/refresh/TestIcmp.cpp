#include "platform/Icmp.h"

#include "NetNamespace.h"

#include <gtest/gtest.h>

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
