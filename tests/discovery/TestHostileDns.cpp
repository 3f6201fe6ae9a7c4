// A DNS server of the test's own on 127.0.0.1 whose replies are hostile:
// compression pointers that loop, records cut short, a truncated reply that
// sends the client to TCP where nothing listens. Each lookup ends at once
// with a logged reason naming the address, and the walk of the range still
// finds the one good name.
#include "DiscoveryTestSupport.h"

#include "discovery/ComputersIP.h"
#include "platform/ReverseDns.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

class THostileDns
{
public:
    THostileDns()
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &length) != 0)
            throw std::runtime_error("cannot bind 127.0.0.1");
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~THostileDns()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    std::uint16_t Port() const { return m_port; }
    int Queries() const { return m_queries; }

    // The reply to a query for d.c.b.a.in-addr.arpa, chosen by its first label d.
    static QByteArray Answer(const QByteArray &query)
    {
        if (query.size() < 12 + 5)
            return {};
        const qsizetype questionEnd = query.indexOf('\0', 12) + 5; // the name, type and class
        const QByteArray first = query.mid(13, static_cast<unsigned char>(query[12]));
        const QByteArray question = query.mid(12, questionEnd - 12);
        auto reply = [&](char flagsHigh, int answers, const QByteArray &records) -> QByteArray {
            QByteArray m = query.left(2); // the query's id
            m += flagsHigh;
            m += '\x80';
            m += QByteArray::fromHex("0001");
            m += char(answers >> 8);
            m += char(answers & 0xff);
            m += QByteArray::fromHex("00000000");
            return m + question + records;
        };
        // An answer record owned by the question's name.
        auto record = [](int type, const QByteArray &rdata, int announced = -1) -> QByteArray {
            const int length = announced < 0 ? int(rdata.size()) : announced;
            return QByteArray::fromHex("c00c00") + char(type) + QByteArray::fromHex("000100000e10") + char(length >> 8)
                   + char(length & 0xff) + rdata;
        };
        const int rdataAt = 12 + int(question.size()) + 12;
        if (first == "1") { // the PTR name points at itself
            return reply('\x81', 1, record(12, QByteArray::fromHex("c0") + char(rdataAt)));
        }
        if (first == "2") { // a record announcing 200 bytes and bringing 9
            return reply('\x81', 1, record(12, "\x07" "GOOD-PC", 200));
        }
        if (first == "3") { // two pointers pointing at each other as the owner of the second record
            const QByteArray second = QByteArray::fromHex("c0") + char(rdataAt + 2);
            const QByteArray loop = QByteArray::fromHex("c0") + char(rdataAt);
            return reply('\x81', 2, record(5, second) + loop + QByteArray::fromHex("000c000100000e100002c00c"));
        }
        if (first == "4") { // truncated: the client asks again over TCP, where nothing listens
            return reply('\x83', 1, QByteArray());
        }
        if (first == "5") {
            return reply('\x81', 1, record(12, "\x07" "GOOD-PC" + QByteArray(1, '\0')));
        }
        if (first == "6") { // thousands of records, each a loop, in one datagram
            QByteArray records;
            for (int i = 0; i < 4000; ++i)
                records += record(16, "\x03txt");
            return reply('\x81', 4000, records);
        }
        return {};
    }

private:
    void run()
    {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[4096];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
            if (n <= 0)
                continue;
            ++m_queries;
            const QByteArray answer = Answer(QByteArray(buffer, n));
            if (!answer.isEmpty())
                ::sendto(m_fd, answer.constData(), size_t(answer.size()), 0, reinterpret_cast<sockaddr *>(&from), length);
        }
    }

    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_queries{0};
    std::thread m_thread;
};

} // namespace

TEST(HostileDns, EachBrokenReplyIsLoggedAndTheWalkGoesOn)
{
    THostileDns server;
    test::FakeHost host;
    host.params.dnsServers = {u"127.0.0.1"_s};
    TIPNetworkNeigborhoodComputes source(platform::CreateReverseDnsClient(), host);
    source.Resolver().SetServer(u"127.0.0.1"_s, server.Port());
    QStringList added;
    source.OnComputerAdded = [&](TNNBase &, const QString &name, bool &) { added.append(name); };
    source.SetIPRanges({u"192.0.2.1-192.0.2.6"_s});

    test::LogCapture capture;
    EXPECT_TRUE(source.Refresh());
    EXPECT_EQ(added, QStringList{u"GOOD-PC"_s});
    EXPECT_EQ(server.Queries(), 6); // one query each, none retried or left waiting

    const QStringList errors = capture.exceptions(0);
    auto loggedFor = [&](const QString &address) {
        for (const QString &e : errors)
            if (e.contains(address))
                return e;
        return QString();
    };
    for (const QString &address : {u"192.0.2.1"_s, u"192.0.2.2"_s, u"192.0.2.3"_s})
        EXPECT_TRUE(loggedFor(address).contains(u"cannot be decoded"_s)) << address.toStdString() << ": "
                                                                          << errors.join(u" | "_s).toStdString();
    EXPECT_FALSE(loggedFor(u"192.0.2.4"_s).isEmpty()) << errors.join(u" | "_s).toStdString();
    EXPECT_TRUE(loggedFor(u"192.0.2.5"_s).isEmpty());
}
