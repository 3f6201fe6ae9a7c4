// The network neighbourhood against wsdd, a real WS-Discovery host, inside two
// network namespaces the test creates and joins by a veth pair. The source runs
// on a thread that has entered the client namespace, so no datagram leaves it.
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

#include <chrono>
#include <functional>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

extern char **environ;

namespace {

const char HostAddress[] = "10.231.7.1";

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

class Wsdd : public ::testing::Test
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

TEST_F(Wsdd, ListsTheHostAndNoticesWhenItLeaves)
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

TEST_F(Wsdd, NoMulticastInterfaceMeansRefreshFails)
{
    auto source = makeSource();
    source->Computers().add(u"\\\\KEPT"_s);
    bool refreshed = true;
    ASSERT_TRUE(inNamespace(m_empty, [&] { refreshed = source->Refresh(); }));
    EXPECT_FALSE(refreshed);
    EXPECT_FALSE(source->OpenError().isEmpty());
    EXPECT_EQ(source->Computers().names(), QStringList{u"\\\\KEPT"_s});
}
