// The network neighbourhood against wsdd, a real WS-Discovery host, and against a
// hostile responder, inside network namespaces the test creates and joins by a
// veth pair. The source runs on a thread that has entered the client namespace,
// so no datagram leaves the test network.
#include "DiscoveryTestSupport.h"

#include "discovery/Computers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QXmlStreamReader>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <condition_variable>
#include <functional>
#include <poll.h>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

extern char **environ;

namespace {

const char HostAddress[] = "10.231.7.1";
const char OtherAddress[] = "10.231.7.99"; // a second address of the host, where no metadata may be fetched

pid_t spawn(const std::vector<std::string> &args, bool quiet = true)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool run(const std::vector<std::string> &args)
{
    const pid_t pid = spawn(args);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void stopProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 150 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// Runs work on a thread of its own that has entered the named namespace.
bool inNamespace(const std::string &name, const std::function<void()> &work)
{
    bool entered = false;
    std::thread t([&] {
        const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        entered = setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        if (entered)
            work();
    });
    t.join();
    return entered;
}

bool canConnect(const char *address, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &to.sin_addr);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
    ::close(fd);
    return ok;
}

class TestNetwork : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
        if (access("/usr/sbin/wsdd", X_OK) != 0)
            GTEST_SKIP() << "wsdd is not installed (Debian package wsdd)";
        const std::string id = std::to_string(getpid());
        m_host = "vmwsd-h" + id;
        m_client = "vmwsd-c" + id;
        m_empty = "vmwsd-e" + id;
        m_hostIf = "vmh" + id;
        m_clientIf = "vmc" + id;
        const std::vector<std::vector<std::string>> steps = {
            {"ip", "netns", "add", m_host},
            {"ip", "netns", "add", m_client},
            {"ip", "netns", "add", m_empty},
            {"ip", "-n", m_host, "link", "add", m_hostIf, "type", "veth", "peer", "name", m_clientIf, "netns", m_client},
            {"ip", "-n", m_host, "addr", "add", std::string(HostAddress) + "/24", "dev", m_hostIf},
            {"ip", "-n", m_host, "addr", "add", std::string(OtherAddress) + "/24", "dev", m_hostIf},
            {"ip", "-n", m_client, "addr", "add", "10.231.7.2/24", "dev", m_clientIf},
            {"ip", "-n", m_host, "link", "set", m_hostIf, "up"},
            {"ip", "-n", m_client, "link", "set", m_clientIf, "up"},
            {"ip", "-n", m_host, "link", "set", "lo", "up"},
            {"ip", "-n", m_client, "link", "set", "lo", "up"},
            {"ip", "-n", m_host, "route", "add", "224.0.0.0/4", "dev", m_hostIf},
            {"ip", "-n", m_client, "route", "add", "224.0.0.0/4", "dev", m_clientIf},
        };
        for (const auto &step : steps) {
            m_created = true;
            if (!run(step))
                GTEST_SKIP() << "cannot set up the test network: " << step[0] << ' ' << step[1] << ' ' << step[2]
                             << ' ' << step[3];
        }
    }

    void TearDown() override
    {
        stopProcess(m_wsdd);
        if (m_created)
            for (const std::string &ns : {m_host, m_client, m_empty})
                run({"ip", "netns", "del", ns});
    }

    bool startWsdd(const std::string &name)
    {
        m_wsdd = spawn({"ip", "netns", "exec", m_host, "/usr/sbin/wsdd", "-i", m_hostIf, "-4", "-p", "-n", name, "-w",
                        "TESTGROUP"});
        if (m_wsdd <= 0)
            return false;
        // Ready once its metadata service listens; bounded to ten seconds.
        bool ready = false;
        inNamespace(m_client, [&] {
            for (int i = 0; i < 100 && !ready; ++i) {
                ready = canConnect(HostAddress, 5357);
                if (!ready)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        return ready;
    }

    std::unique_ptr<TNetworkNeigborhoodComputes> makeSource()
    {
        platform::TWsDiscoveryOptions options;
        options.collectMs = 2000;
        return std::make_unique<TNetworkNeigborhoodComputes>(platform::CreateNetworkEnumerator(options));
    }

    std::string m_host, m_client, m_empty, m_hostIf, m_clientIf;
    bool m_created = false;
    pid_t m_wsdd = -1;
};

} // namespace

TEST_F(TestNetwork, WsddHostIsListedAndNoticedWhenItLeaves)
{
    ASSERT_TRUE(startWsdd("WsdHost7")) << "wsdd did not come up";
    auto source = makeSource();
    QStringList events;
    source->OnComputerAdded = [&](TNNBase &, const QString &name, bool &) { events.append(u"+"_s + name); };
    source->OnComputerDeleted = [&](TNNBase &, const QString &name, bool &) { events.append(u"-"_s + name); };

    bool refreshed = false;
    ASSERT_TRUE(inNamespace(m_client, [&] { refreshed = source->Refresh(); }));
    EXPECT_TRUE(refreshed) << source->OpenError().toStdString();
    EXPECT_EQ(source->Computers().names(), QStringList{u"\\\\WsdHost7"_s});
    EXPECT_EQ(source->ComputerName(0), u"WsdHost7"_s);
    EXPECT_EQ(events, QStringList{u"+\\\\WsdHost7"_s});

    stopProcess(m_wsdd);
    m_wsdd = -1;
    events.clear();
    ASSERT_TRUE(inNamespace(m_client, [&] { refreshed = source->Refresh(); }));
    EXPECT_TRUE(refreshed);
    EXPECT_EQ(events, QStringList{u"-\\\\WsdHost7"_s});
    EXPECT_EQ(source->ComputerCount(), 0);
}

TEST_F(TestNetwork, NoMulticastInterfaceMeansRefreshFails)
{
    auto source = makeSource();
    source->Computers().add(u"\\\\KEPT"_s);
    bool refreshed = true;
    ASSERT_TRUE(inNamespace(m_empty, [&] { refreshed = source->Refresh(); }));
    EXPECT_FALSE(refreshed);
    EXPECT_FALSE(source->OpenError().isEmpty());
    EXPECT_EQ(source->Computers().names(), QStringList{u"\\\\KEPT"_s});
}

namespace {

int listenTcp(const char *address, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &at.sin_addr);
    if (bind(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0 || listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QByteArray probeMatch(const QString &relatesTo, const QByteArray &endpoint, const QByteArray &xaddr)
{
    return R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope" )"
           R"(xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing" xmlns:wsd="http://schemas.xmlsoap.org/ws/2005/04/discovery" )"
           R"(xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof" xmlns:pub="http://schemas.microsoft.com/windows/pub/2005/07">)"
           "<soap:Header><wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action>"
           "<wsa:MessageID>urn:uuid:reply</wsa:MessageID><wsa:RelatesTo>"
           + relatesTo.toUtf8()
           + "</wsa:RelatesTo></soap:Header><soap:Body><wsd:ProbeMatches><wsd:ProbeMatch><wsa:EndpointReference><wsa:Address>"
           + endpoint + "</wsa:Address></wsa:EndpointReference><wsd:Types>wsdp:Device pub:Computer</wsd:Types><wsd:XAddrs>"
           + xaddr + "</wsd:XAddrs></wsd:ProbeMatch></wsd:ProbeMatches></soap:Body></soap:Envelope>";
}

QByteArray metadataResponse(const QByteArray &computer)
{
    const QByteArray body =
        R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope" )"
        R"(xmlns:wsx="http://schemas.xmlsoap.org/ws/2004/09/mex" xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof" )"
        R"(xmlns:pub="http://schemas.microsoft.com/windows/pub/2005/07"><soap:Body><wsx:Metadata>)"
        R"(<wsx:MetadataSection Dialect="http://schemas.xmlsoap.org/ws/2006/02/devprof/Relationship">)"
        R"(<wsdp:Relationship Type="http://schemas.xmlsoap.org/ws/2006/02/devprof/host"><wsdp:Host>)"
        "<wsdp:Types>pub:Computer</wsdp:Types><pub:Computer>"
        + computer + "</pub:Computer></wsdp:Host></wsdp:Relationship></wsx:MetadataSection></wsx:Metadata></soap:Body></soap:Envelope>";
    return "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml\r\nConnection: close\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A responder that answers a probe with junk, with a reply to someone else's
// probe, with a transport address elsewhere, and with computers whose metadata
// is good, holds a name that cannot be kept, or is far too large.
class HostileResponder
{
public:
    std::mutex lock;
    std::set<std::string> fetched;     // paths asked for at the host's own address
    std::atomic<int> elsewhere{0};     // connections to the other address
    std::atomic<bool> stop{false};
    bool ready = false;

    void serve(const std::function<void()> &onReady)
    {
        const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(udp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(3702);
        ip_mreq group{};
        inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
        inet_pton(AF_INET, HostAddress, &group.imr_interface);
        const int http = listenTcp(HostAddress, 8080);
        const int far = listenTcp(OtherAddress, 8080);
        ready = bind(udp, reinterpret_cast<const sockaddr *>(&at), sizeof at) == 0
                && setsockopt(udp, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) == 0 && http >= 0 && far >= 0;
        onReady();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (ready && !stop && std::chrono::steady_clock::now() < end) {
            pollfd fds[3] = {{udp, POLLIN, 0}, {http, POLLIN, 0}, {far, POLLIN, 0}};
            if (poll(fds, 3, 100) <= 0)
                continue;
            if (fds[0].revents & POLLIN)
                answerProbe(udp);
            if (fds[1].revents & POLLIN)
                answerHttp(http);
            if (fds[2].revents & POLLIN) {
                const int c = accept4(far, nullptr, nullptr, SOCK_CLOEXEC);
                ++elsewhere;
                ::close(c);
            }
        }
        ::close(udp);
        ::close(http);
        ::close(far);
    }

private:
    void answerProbe(int udp)
    {
        char buffer[65536];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (n <= 0)
            return;
        QXmlStreamReader xml(QByteArray(buffer, n));
        QString messageId;
        bool probe = false;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement) {
                if (xml.name() == u"MessageID"_s)
                    messageId = xml.readElementText();
                else if (xml.name() == u"Probe"_s)
                    probe = true;
            }
        if (!probe)
            return;
        const QByteArray own = "http://" + QByteArray(HostAddress) + ":8080/";
        const QByteArray replies[] = {
            "garbage that is no XML",
            QByteArray(60000, '<'),
            probeMatch(u"urn:uuid:someone-else"_s, "urn:uuid:stranger", own + "stranger"),
            probeMatch(messageId, "urn:uuid:far", "http://" + QByteArray(OtherAddress) + ":8080/far"),
            probeMatch(messageId, "urn:uuid:evil", own + "evil"),
            probeMatch(messageId, "urn:uuid:big", own + "big"),
            probeMatch(messageId, "urn:uuid:good", own + "good"),
        };
        for (const QByteArray &r : replies)
            sendto(udp, r.constData(), static_cast<size_t>(r.size()), 0, reinterpret_cast<const sockaddr *>(&from), length);
    }

    void answerHttp(int http)
    {
        const int c = accept4(http, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            return;
        QByteArray request;
        char buffer[4096];
        for (int i = 0; i < 50; ++i) { // the request line is all that is needed
            pollfd p{c, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = recv(c, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, n);
            if (request.contains("\r\n\r\n"))
                break;
        }
        const QList<QByteArray> words = request.split(' ');
        const QByteArray path = words.size() > 1 ? words.at(1) : QByteArray();
        {
            const std::lock_guard<std::mutex> guard(lock);
            fetched.insert(path.toStdString());
        }
        QByteArray response;
        if (path == "/good")
            response = metadataResponse("GoodHost/Workgroup:LAB");
        else if (path == "/evil")
            response = metadataResponse("EVIL:NAME/Workgroup:LAB");
        else if (path == "/big")
            response = metadataResponse(QByteArray(2 * 1024 * 1024, 'B') + "/Workgroup:LAB");
        else
            response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        for (qsizetype sent = 0; sent < response.size();) {
            const ssize_t n = send(c, response.constData() + sent, static_cast<size_t>(response.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::close(c);
    }
};

} // namespace

TEST_F(TestNetwork, HostileResponderIsContained)
{
    HostileResponder responder;
    std::mutex m;
    std::condition_variable up;
    bool started = false;
    std::thread server([&] {
        inNamespace(m_host, [&] {
            responder.serve([&] {
                const std::lock_guard<std::mutex> guard(m);
                started = true;
                up.notify_all();
            });
        });
        const std::lock_guard<std::mutex> guard(m);
        started = true;
        up.notify_all();
    });
    {
        std::unique_lock<std::mutex> guard(m);
        up.wait_for(guard, std::chrono::seconds(10), [&] { return started; });
    }
    if (!responder.ready) {
        responder.stop = true;
        server.join();
        FAIL() << "the responder could not listen in the test network";
    }

    auto source = makeSource();
    test::LogCapture capture;
    bool refreshed = false;
    inNamespace(m_client, [&] { refreshed = source->Refresh(); });
    responder.stop = true;
    server.join();

    EXPECT_TRUE(refreshed);
    EXPECT_EQ(source->Computers().names(), QStringList{u"\\\\GoodHost"_s});
    EXPECT_EQ(responder.fetched, (std::set<std::string>{"/big", "/evil", "/good"}));
    EXPECT_EQ(responder.elsewhere, 0);
    const QStringList dropped = capture.exceptions();
    ASSERT_EQ(dropped.size(), 1);
    EXPECT_TRUE(dropped.first().contains(u"EVIL:NAME"_s)) << dropped.first().toStdString();
}

namespace {

// A responder that floods: every probe is answered by thousands of distinct
// computers, each in a datagram of its own, by the same again and again, and
// by one match of the largest datagram UDP carries; each computer's metadata
// is served at the host's address.
class FloodResponder
{
public:
    static constexpr int Computers = 3000;
    std::atomic<int> fetches{0};
    std::atomic<int> datagrams{0};
    std::atomic<bool> stop{false};
    bool ready = false;

    void serve(const std::function<void()> &onReady)
    {
        const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(udp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(3702);
        ip_mreq group{};
        inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
        inet_pton(AF_INET, HostAddress, &group.imr_interface);
        const int http = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        setsockopt(http, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in web{};
        web.sin_family = AF_INET;
        web.sin_port = htons(8080);
        inet_pton(AF_INET, HostAddress, &web.sin_addr);
        // Room for every connection the client opens at once.
        ready = bind(udp, reinterpret_cast<const sockaddr *>(&at), sizeof at) == 0
                && setsockopt(udp, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) == 0
                && bind(http, reinterpret_cast<const sockaddr *>(&web), sizeof web) == 0 && listen(http, 1024) == 0;
        onReady();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (ready && !stop && std::chrono::steady_clock::now() < end) {
            pollfd fds[2] = {{udp, POLLIN, 0}, {http, POLLIN, 0}};
            if (poll(fds, 2, 100) <= 0)
                continue;
            if (fds[0].revents & POLLIN)
                answerProbe(udp);
            if (fds[1].revents & POLLIN)
                answerHttp(http);
        }
        ::close(udp);
        ::close(http);
    }

private:
    void answerProbe(int udp)
    {
        char buffer[65536];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (n <= 0 || m_answered)
            return;
        QXmlStreamReader xml(QByteArray(buffer, n));
        QString messageId;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"MessageID"_s)
                messageId = xml.readElementText();
        if (messageId.isEmpty())
            return;
        m_answered = true; // the probe goes out twice; one flood is enough
        const QByteArray own = "http://" + QByteArray(HostAddress) + ":8080/";
        auto send = [&](const QByteArray &r) {
            sendto(udp, r.constData(), static_cast<size_t>(r.size()), 0, reinterpret_cast<const sockaddr *>(&from), length);
            // Paced, so the client's receive buffer holds what it has not read yet.
            if (++datagrams % 40 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(4));
        };
        QByteArray largest = probeMatch(messageId, "urn:uuid:largest", own + "largest");
        // Padded with a comment: text between elements counts against the field length.
        largest.insert(largest.indexOf("<soap:Body>"), "<!--" + QByteArray(65507 - 7 - largest.size(), 'x') + "-->");
        send(largest);
        for (int round = 0; round < 2; ++round)
            for (int i = 0; i < Computers; ++i)
                send(probeMatch(messageId, "urn:uuid:pc-" + QByteArray::number(i), own + "pc-" + QByteArray::number(i)));
    }

    void answerHttp(int http)
    {
        const int c = accept4(http, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            return;
        ++fetches;
        QByteArray request;
        char buffer[4096];
        for (int i = 0; i < 50; ++i) {
            pollfd p{c, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = recv(c, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, n);
            if (request.contains("\r\n\r\n"))
                break;
        }
        const QList<QByteArray> words = request.split(' ');
        const QByteArray path = words.size() > 1 ? words.at(1).mid(1) : QByteArray();
        const QByteArray response = metadataResponse(path.toUpper() + "/Workgroup:LAB");
        for (qsizetype sent = 0; sent < response.size();) {
            const ssize_t n = ::send(c, response.constData() + sent, static_cast<size_t>(response.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::close(c);
    }

    bool m_answered = false;
};

} // namespace

// Thousands of computers, each twice, and a datagram of the largest size: the
// enumeration keeps the first 256 responders (maxResponders), fetches no more
// metadata than that, and ends within its collection time.
TEST_F(TestNetwork, FloodOfRespondersIsCutAtItsBound)
{
    FloodResponder responder;
    std::mutex m;
    std::condition_variable up;
    bool started = false;
    std::thread server([&] {
        inNamespace(m_host, [&] {
            responder.serve([&] {
                const std::lock_guard<std::mutex> guard(m);
                started = true;
                up.notify_all();
            });
        });
        const std::lock_guard<std::mutex> guard(m);
        started = true;
        up.notify_all();
    });
    {
        std::unique_lock<std::mutex> guard(m);
        up.wait_for(guard, std::chrono::seconds(10), [&] { return started; });
    }
    if (!responder.ready) {
        responder.stop = true;
        server.join();
        FAIL() << "the responder could not listen in the test network";
    }

    platform::TWsDiscoveryOptions options;
    options.collectMs = 2000;
    options.metadataTimeoutMs = 5000;
    TNetworkNeigborhoodComputes source(platform::CreateNetworkEnumerator(options));
    bool refreshed = false;
    inNamespace(m_client, [&] { refreshed = source.Refresh(); });
    responder.stop = true;
    server.join();

    EXPECT_TRUE(refreshed) << source.OpenError().toStdString();
    EXPECT_EQ(responder.datagrams, 1 + 2 * FloodResponder::Computers);
    EXPECT_EQ(source.ComputerCount(), options.maxResponders);
    EXPECT_LE(responder.fetches, options.maxResponders);
    EXPECT_TRUE(source.Computers().contains(u"\\\\LARGEST"_s)) << "a datagram of 65,507 bytes is still read";
}
