#pragma once

// A ping that answers only when the test opens the gate for its host, so a test
// decides when each check of a cycle may go on and sees how many wait at once.

#include "platform/Icmp.h"

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace valmora::test {

class GateEcho final : public TIcmpEcho
{
public:
    TReplyStatus Echo(const QString &host, int, int) override
    {
        std::unique_lock lock(m_mutex);
        m_entered.append(host);
        m_maxWaiting = std::max(m_maxWaiting, ++m_waiting);
        m_changed.notify_all();
        // Bounded, so that a fault in the code under test fails the test instead of hanging it.
        const bool opened = m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_open.contains(host); });
        --m_waiting;
        TReplyStatus status;
        status.ReplyStatusType = opened ? TReplyStatusType::rsEcho : TReplyStatusType::rsTimeOut;
        return status;
    }

    void Open(const QStringList &hosts)
    {
        std::lock_guard lock(m_mutex);
        m_open += hosts;
        m_changed.notify_all();
    }
    // Whether at least count pings began within 10 s.
    bool WaitEntered(qsizetype count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_entered.size() >= count; });
    }
    QStringList Entered()
    {
        std::lock_guard lock(m_mutex);
        return m_entered;
    }
    int MaxWaiting()
    {
        std::lock_guard lock(m_mutex);
        return m_maxWaiting;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_entered;
    QStringList m_open;
    int m_waiting = 0;
    int m_maxWaiting = 0;
};

} // namespace valmora::test
