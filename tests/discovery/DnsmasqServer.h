#pragma once

// A dnsmasq started for one test (or benchmark) on a loopback address and a
// port of its own, answering PTR queries from a table and refusing the rest.
// It reads no configuration, forwards nothing and is stopped on destruction.

#include "platform/ReverseDns.h"

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace valmora::test {

class DnsmasqServer
{
public:
    // records: (dotted address, host name), at least one; names go out exactly
    // as given, letter case and UTF-8 included.
    DnsmasqServer(const QString &address, const std::vector<std::pair<QString, QString>> &records)
        : m_address(address)
    {
        if (Executable().isEmpty()) {
            m_error = QStringLiteral("dnsmasq is not installed (Debian package dnsmasq-base)");
            return;
        }
        if (!m_dir.isValid() || records.empty()) {
            m_error = QStringLiteral("no temporary folder, or no record to serve");
            return;
        }
        // The free port is found before dnsmasq binds it; another process may
        // take it in between, so a failed start is tried again a few times.
        for (int attempt = 0; attempt < 3 && !m_running; ++attempt)
            start(records);
    }

    ~DnsmasqServer() { stop(); }
    DnsmasqServer(const DnsmasqServer &) = delete;
    DnsmasqServer &operator=(const DnsmasqServer &) = delete;

    // The dnsmasq program, also where PATH lacks the system folders; empty when absent.
    static QString Executable()
    {
        const QString inPath = QStandardPaths::findExecutable(QStringLiteral("dnsmasq"));
        return inPath.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("dnsmasq"),
                                                                 {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                                : inPath;
    }

    bool running() const { return m_running; }
    const QString &error() const { return m_error; }
    const QString &address() const { return m_address; }
    std::uint16_t port() const { return m_port; }

    void stop()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 100 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (waitpid(m_pid, nullptr, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
        m_running = false;
    }

private:
    void start(const std::vector<std::pair<QString, QString>> &records)
    {
        m_port = freePort();
        if (m_port == 0) {
            m_error = QStringLiteral("no free port on ") + m_address;
            return;
        }
        std::vector<QByteArray> args = {
            "dnsmasq",       "--conf-file=/dev/null", "--no-resolv", "--no-hosts", "--keep-in-foreground",
            "--bind-interfaces", "--pid-file",        "--log-facility=-", "--cache-size=0",
            "--port=" + QByteArray::number(m_port), "--listen-address=" + m_address.toLatin1(),
        };
        for (const auto &[ip, name] : records)
            args.push_back("--dns-rr=" + platform::ReverseLookupName(ip).toLatin1() + ",12," + encodeName(name));
        std::vector<char *> argv;
        for (QByteArray &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        const QByteArray program = QFile::encodeName(Executable());
        const QByteArray logPath = QFile::encodeName(m_dir.filePath(QStringLiteral("dnsmasq.log")));
        m_pid = fork();
        if (m_pid == 0) {
            const int fd = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd >= 0) {
                dup2(fd, STDOUT_FILENO);
                dup2(fd, STDERR_FILENO);
            }
            execv(program.constData(), argv.data());
            _exit(127);
        }
        if (m_pid < 0) {
            m_error = QStringLiteral("fork failed");
            return;
        }
        waitUntilReady(records.front().first);
    }

    static QByteArray encodeName(const QString &name)
    {
        QByteArray wire;
        for (const QByteArray &l : name.toUtf8().split('.')) {
            wire += static_cast<char>(l.size());
            wire += l;
        }
        wire += '\0';
        return wire.toHex();
    }

    std::uint16_t freePort() const
    {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(m_address), 0))
            return 0;
        return probe.localPort();
    }

    // Asks until dnsmasq answers (bounded), or says why it did not come up.
    void waitUntilReady(const QString &knownAddress)
    {
        auto client = platform::CreateReverseDnsClient();
        client->SetServer(m_address, m_port);
        client->SetTimeoutMs(200);
        for (int attempt = 0; attempt < 50; ++attempt) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                QFile log(m_dir.filePath(QStringLiteral("dnsmasq.log")));
                log.open(QIODevice::ReadOnly);
                m_error = QStringLiteral("dnsmasq exited: ") + QString::fromLocal8Bit(log.readAll()).trimmed();
                return;
            }
            try {
                if (client->LookupPtr(knownAddress)) {
                    m_running = true;
                    return;
                }
            } catch (const platform::EDnsError &) {
                // refused or not listening yet
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        m_error = QStringLiteral("dnsmasq did not answer within the start-up time");
        stop();
    }

    QString m_address;
    std::uint16_t m_port = 0;
    QTemporaryDir m_dir;
    pid_t m_pid = -1;
    bool m_running = false;
    QString m_error;
};

} // namespace valmora::test
