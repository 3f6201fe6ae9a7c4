#pragma once

// Runs a piece of a test inside a network namespace of its own, so that the
// addresses it uses exist only there. The namespace belongs to one thread of
// the test and ends with it; the commands given run in that namespace too.

#include <QString>
#include <QStringList>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace valmora::test {

// Why a namespace cannot be had here, or empty when it can.
inline QString NetNamespaceUnavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root to create a network namespace");
    if (std::system("command -v ip >/dev/null 2>&1") != 0)
        return QStringLiteral("needs the ip command (iproute2)");
    return QString();
}

// Runs commands (each through /bin/sh) and then body in a fresh network
// namespace whose loopback is up. Returns an error text, or empty when it ran.
inline QString RunInNetNamespace(const QStringList &commands, const std::function<void()> &body)
{
    QString error;
    std::thread worker([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            error = QStringLiteral("unshare(CLONE_NEWNET) failed");
            return;
        }
        QStringList all{QStringLiteral("ip link set lo up")};
        all += commands;
        for (const QString &c : all) {
            const std::string command = c.toStdString() + " >/dev/null 2>&1";
            if (std::system(command.c_str()) != 0) {
                error = QStringLiteral("command failed: ") + c;
                return;
            }
        }
        body();
    });
    worker.join();
    return error;
}

} // namespace valmora::test
