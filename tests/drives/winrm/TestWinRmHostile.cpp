// Services that log on and seal properly and then answer with something
// hostile, and servers that abuse HTTP itself: the reader refuses or cuts the
// answer with a reason, within its bounds, and the check of the next computer
// goes on.

#include "TestSupport.h"
#include "WinRmTestEndpoint.h"
#include "WinRmTestRealm.h"

#include "drivedata/WmiDriveReader.h"
#include "drives/winrm/WinRmProvider.h"
#include "foundation/Environment.h"
#include "refresh/ComputerCheck.h"

#include <QFile>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::drives::winrm;
using valmora::test::THostileWinRm;
using valmora::test::TRecordedWinRm;
using valmora::test::TWinRmTestEndpoint;

namespace {

// The NTLM account of gss-ntlmssp's user file, written by the environment of
// this test program.
const QString user = QString::fromLatin1(valmora::test::NtlmDomain) + u'\\' + QString::fromLatin1(valmora::test::NtlmUser);
const QString password = QString::fromLatin1(valmora::test::NtlmPassword);

#define REQUIRE_NTLM()                                                                                                 \
    if (!valmora::test::NtlmMechanismInstalled()) {                                                                    \
        GTEST_SKIP() << "gss-ntlmssp (Debian gss-ntlmssp) is not installed";                                           \
    }

// One computer behind an NTLM endpoint of its own, hostile or not.
struct Computer
{
    Computer(std::optional<THostileWinRm::EMode> mode, int size)
    {
        recorded.AddRecordedDrives(10);
        if (mode)
            hostile = std::make_unique<THostileWinRm>(*mode, size, recorded);
        endpoint = std::make_unique<TWinRmTestEndpoint>(TWinRmTestEndpoint::ESecurity::Gss, [this](const QByteArray &soap) {
            return hostile ? hostile->Answer(soap) : recorded.Answer(soap);
        });
    }
    TRecordedWinRm recorded;
    std::unique_ptr<THostileWinRm> hostile;
    std::unique_ptr<TWinRmTestEndpoint> endpoint;
};

// A provider that reaches each computer name at the port of its endpoint.
std::unique_ptr<TWinRmProvider> providerFor(const std::map<QString, const Computer *> &computers, TWinRmOptions options)
{
    return std::make_unique<TWinRmProvider>(
        options, [computers](const QString &server, const QString &u, const QString &p, const TWinRmOptions &o) {
            TWinRmOptions routed = o;
            routed.port = computers.at(server)->endpoint->Port();
            return CreateWinRmSession(u"127.0.0.1"_s, u, p, routed);
        });
}

struct Hostility
{
    const char *what;
    THostileWinRm::EMode mode;
    int size;
    int result;
    const char *reason;
    int drives; // kept in the list: a failed drive stage keeps those read before
};

// Bounds smaller than the defaults keep the endless case short; the pages
// are larger so that 50,000 drives need a hundred Pulls, not 1,600.
TWinRmOptions testOptions()
{
    TWinRmOptions o;
    o.enumeration.maxPulls = 300;
    o.limits.maxElements = 500;
    return o;
}

const Hostility hostilities[] = {
    {"deep", THostileWinRm::EMode::DeepNesting, 100000, kReadNoCimv2, "inventory (Win32_DiskDrive of root\\CIMV2): WS-Management answer refused: an instance is nested deeper than 16", 0},
    {"endless", THostileWinRm::EMode::Endless, 0, kReadNoCimv2, "does not end \"SELECT * FROM Win32_DiskDrive\" within 300 Pull requests", 301},
    {"many", THostileWinRm::EMode::ManyDrives, 50000, kReadGood, "the list of drives was cut at 1024 drives", kMaxDrivesPerComputer},
};

} // namespace

TEST(WinRmHostile, ReaderStopsWithAReasonWithinItsBounds)
{
    REQUIRE_NTLM()
    for (const Hostility &h : hostilities) {
        SCOPED_TRACE(h.what);
        Computer pc(h.mode, h.size);
        auto provider = providerFor({{u"HOSTILEPC"_s, &pc}}, testOptions());
        TDriveList list;
        QString reason;
        EXPECT_EQ(ReadComputerDrives(*provider, u"HOSTILEPC"_s, list, user, password, &reason), h.result);
        EXPECT_TRUE(reason.contains(QLatin1StringView(h.reason))) << reason.toStdString();
        EXPECT_FALSE(reason.contains(password)) << reason.toStdString();
        EXPECT_EQ(list.Count(), h.drives);
        EXPECT_TRUE(pc.endpoint->Violations().isEmpty()) << pc.endpoint->Violations().join(u"; "_s).toStdString();
        switch (h.mode) {
        case THostileWinRm::EMode::Endless:
            EXPECT_EQ(pc.hostile->Pulls(), 300);
            EXPECT_EQ(pc.hostile->Releases(), 1); // the abandoned walk is released
            break;
        case THostileWinRm::EMode::ManyDrives:
            // Serials found by tag at the far end of 50,000 media; the drive walk abandoned at the cut.
            EXPECT_EQ(list.Items(1000).SerialNumber, u"SN-1000"_s);
            EXPECT_EQ(list.Items(1023).Model, u"HOSTILE DISK 1023"_s);
            EXPECT_EQ(pc.hostile->Releases(), 1);
            EXPECT_EQ(pc.recorded.Enumerates(), 4); // the three root\WMI stages and the storage classes still ran
            break;
        case THostileWinRm::EMode::DeepNesting:
            break;
        }
    }
}

TEST(WinRmHostile, CycleOverAHostileComputerStillChecksTheGoodOne)
{
    REQUIRE_NTLM()
    for (const Hostility &h : hostilities) {
        SCOPED_TRACE(h.what);
        test::ScopedSandbox box;
        const QString dataFolder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
        // Twice the cap shows the cut; the reader's test above takes the full 50,000.
        Computer hostile(h.mode, h.mode == THostileWinRm::EMode::ManyDrives ? 2 * kMaxDrivesPerComputer : h.size);
        Computer good(std::nullopt, 0);
        auto provider = providerFor({{u"HOSTILEPC"_s, &hostile}, {u"GOODPC"_s, &good}}, testOptions());

        class Answering final : public TIcmpEcho
        {
        public:
            TReplyStatus Echo(const QString &, int, int) override
            {
                TReplyStatus s;
                s.ReplyStatusType = TReplyStatusType::rsEcho;
                return s;
            }
        };
        TCheckEnvironment environment;
        environment.Echo = std::make_shared<Answering>();
        environment.ReadDrives = [&](const QString &computer, TDriveList &list, const QString &u, const QString &p) {
            return ReadComputerDrives(*provider, computer, list, u, p);
        };
        environment.DomainUser = user;
        environment.DomainPassword = password;
        environment.DataFolder = dataFolder;
        environment.LocalComputerName = u"DESK"_s;

        // The cycle's checks, in the order of its names: the hostile computer first.
        TCheckedComputers checked;
        for (const QString &name : {u"HOSTILEPC"_s, u"GOODPC"_s})
            CheckComputer(name, checked, environment);

        ASSERT_EQ(checked.size(), 2u);
        EXPECT_EQ(checked[0]->State, StateFromReadResult(h.result));
        EXPECT_EQ(checked[1]->Name, u"GOODPC"_s);
        EXPECT_EQ(checked[1]->State, StateSuspected); // read and judged: the recording holds a failing drive
        ASSERT_EQ(checked[1]->Drives.Count(), 2);
        EXPECT_EQ(checked[1]->Drives.Items(0).Model, u"VALMORA TESTDISK A"_s);
        EXPECT_GT(checked[1]->Drives.Items(1).AttributeCount, 0);
        ASSERT_TRUE(QFile::exists(dataFolder + u"GOODPC.wci"_s));
        TDriveList saved;
        saved.LoadFromFile(dataFolder + u"GOODPC.wci"_s);
        EXPECT_EQ(saved.Count(), 2);
    }
}

namespace {

// An HTTP server of the test's own on 127.0.0.1 that reads each request and
// answers it in one hostile way, before any authentication: the transport's
// bounds (answer size, request time-out) are all that stand against it.
class THostileHttp
{
public:
    enum class EMode {
        Oversized,      // announces 64 MiB and sends it as fast as it is taken
        Trickle,        // sends its answer one byte per second
        EndlessChunks,  // chunk after chunk, never the last one
        StalledChunks,  // one chunk, then silence on an open connection
    };
    explicit THostileHttp(EMode mode)
        : m_mode(mode)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
            || ::listen(m_listen, 8) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~THostileHttp()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    int Port() const { return m_port; }
    qint64 BytesSent() const { return m_sent; }
    int Requests() const { return m_requests; }

private:
    // Bounded in any case: no connection is served longer than 60 s or past 256 MiB.
    static constexpr qint64 MaxBytes = qint64(256) << 20;
    static constexpr auto MaxServe = std::chrono::seconds(60);

    void run()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            serve(fd);
            ::close(fd);
        }
    }
    bool readRequest(int fd)
    {
        QByteArray in;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!m_stop && std::chrono::steady_clock::now() < until) {
            const qsizetype end = in.indexOf("\r\n\r\n");
            if (end >= 0) {
                const qsizetype at = in.toLower().indexOf("content-length:");
                const qsizetype body = at < 0 ? 0 : in.mid(at + 15, in.indexOf('\r', at) - at - 15).trimmed().toLongLong();
                if (in.size() >= end + 4 + body)
                    return true;
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[65536];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            in.append(buffer, n);
        }
        return false;
    }
    bool send(int fd, const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size() && !m_stop) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += n;
            m_sent += n;
        }
        return done == bytes.size();
    }
    bool closedByPeer(int fd)
    {
        pollfd p{fd, POLLIN, 0};
        char c;
        return ::poll(&p, 1, 0) > 0 && ::recv(fd, &c, 1, MSG_DONTWAIT) <= 0;
    }
    void serve(int fd)
    {
        if (!readRequest(fd))
            return;
        ++m_requests;
        const auto until = std::chrono::steady_clock::now() + MaxServe;
        auto going = [&] { return !m_stop && m_sent < MaxBytes && std::chrono::steady_clock::now() < until; };
        const QByteArray block(65536, 'x');
        switch (m_mode) {
        case EMode::Oversized:
            if (!send(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml;charset=UTF-8\r\nContent-Length: 67108864\r\n\r\n"))
                return;
            while (going() && send(fd, block)) {
            }
            return;
        case EMode::Trickle:
            if (!send(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml;charset=UTF-8\r\nContent-Length: 4096\r\n\r\n"))
                return;
            for (int i = 0; i < 4096 && going() && !closedByPeer(fd); ++i) {
                if (!send(fd, "<"))
                    return;
                for (int t = 0; t < 20 && !m_stop && !closedByPeer(fd); ++t)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            return;
        case EMode::EndlessChunks:
            if (!send(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml;charset=UTF-8\r\nTransfer-Encoding: chunked\r\n\r\n"))
                return;
            while (going() && send(fd, "10000\r\n" + block + "\r\n")) {
            }
            return;
        case EMode::StalledChunks:
            if (!send(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml;charset=UTF-8\r\nTransfer-Encoding: chunked\r\n\r\n"
                          "5\r\n<s:En\r\n"))
                return;
            while (going() && !closedByPeer(fd))
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return;
        }
    }

    EMode m_mode;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_sent{0};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

struct TransportHostility
{
    const char *what;
    THostileHttp::EMode mode;
    const char *reason;
};

const TransportHostility transportHostilities[] = {
    {"oversized", THostileHttp::EMode::Oversized, "is longer than 1048576 bytes"},
    {"trickle", THostileHttp::EMode::Trickle, "time-out after 2 s waiting for the answer"},
    {"endless chunks", THostileHttp::EMode::EndlessChunks, "is longer than 1048576 bytes"},
    {"stalled chunks", THostileHttp::EMode::StalledChunks, "time-out after 2 s waiting for the answer"},
};

} // namespace

// The answer's size and time are bounded below the SOAP layer: a server that
// sends without end, too slowly, or never finishes its chunked body fails the
// reading with a reason, and the cycle goes on to the next computer.
TEST(WinRmHostile, TransportBoundsStopAServerThatNeverStops)
{
    REQUIRE_NTLM()
    for (const TransportHostility &h : transportHostilities) {
        SCOPED_TRACE(h.what);
        test::ScopedSandbox box;
        const QString dataFolder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
        THostileHttp server(h.mode);
        Computer good(std::nullopt, 0);
        TWinRmOptions options;
        options.requestTimeoutMs = 2000;
        TWinRmProvider provider(options, [&](const QString &name, const QString &u, const QString &p, const TWinRmOptions &o) {
            TWinRmOptions routed = o;
            routed.port = name == u"HOSTILEPC"_s ? server.Port() : good.endpoint->Port();
            return CreateWinRmSession(u"127.0.0.1"_s, u, p, routed);
        });

        TDriveList list;
        QString reason;
        EXPECT_EQ(ReadComputerDrives(provider, u"HOSTILEPC"_s, list, user, password, &reason), kReadNoCimv2);
        EXPECT_TRUE(reason.contains(QLatin1StringView(h.reason))) << reason.toStdString();
        EXPECT_FALSE(reason.contains(password)) << reason.toStdString();
        EXPECT_EQ(list.Count(), 0);
        // What the client took is bounded by its cap, whatever the server had to send.
        EXPECT_GE(server.Requests(), 1);
        EXPECT_LT(server.BytesSent(), qint64(64) << 20);

        TDriveList goodList;
        EXPECT_EQ(ReadComputerDrives(provider, u"GOODPC"_s, goodList, user, password), kReadFlagged);
        EXPECT_EQ(goodList.Count(), 2);
    }
}
