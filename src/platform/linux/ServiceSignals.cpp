// The signals through a pipe: the handler only writes the signal's number,
// a socket notifier of the event loop reads it and calls the receiver.
#include "platform/ServiceSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace valmora::platform {

namespace {

int g_writeEnd = -1;

void onSignal(int number)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    errno = saved;
}

class TPosixServiceSignals final : public TServiceSignals
{
public:
    TPosixServiceSignals()
    {
        if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        g_writeEnd = m_pipe[1];
        struct sigaction action {};
        action.sa_handler = &onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int number : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(number, &action, nullptr);
        m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { drain(); });
    }

    ~TPosixServiceSignals() override
    {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        for (const int number : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(number, &action, nullptr);
        m_notifier.reset();
        g_writeEnd = -1;
        for (const int fd : m_pipe)
            if (fd >= 0)
                ::close(fd);
    }

private:
    void drain()
    {
        unsigned char byte = 0;
        bool stop = false;
        bool reload = false;
        while (::read(m_pipe[0], &byte, 1) == 1) {
            if (byte == SIGHUP)
                reload = true;
            else
                stop = true;
        }
        if (stop && OnStop)
            OnStop();
        else if (reload && OnReload)
            OnReload();
    }

    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace

std::unique_ptr<TServiceSignals> CreateServiceSignals()
{
    return std::make_unique<TPosixServiceSignals>();
}

} // namespace valmora::platform
