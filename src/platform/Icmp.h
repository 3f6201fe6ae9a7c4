#pragma once

// ICMP echo ("ping"): one IPv4 echo request to a host, resolved by name first.

#include "foundation/Exception.h"

#include <QString>

#include <functional>
#include <memory>

namespace valmora {

class EIcmpError final : public Exception
{
public:
    using Exception::Exception;
};

enum class TReplyStatusType {
    rsEcho,              // an echo reply came back
    rsTimeOut,           // nothing came back in time
    rsErrorUnreachable,  // the network or host is unreachable
    rsErrorTTLExceeded,  // time to live exceeded on the way
    rsError,             // anything else
};

struct TReplyStatus
{
    TReplyStatusType ReplyStatusType = TReplyStatusType::rsError;
    QString FromIpAddress;
    int MsRoundTripTime = 0;
};

// Sends one echo request and waits for its answer. Raises EIcmpError when the
// name cannot be resolved or no socket can be had. The checks of a cycle share
// one TIcmpEcho: Echo is called from several threads at once, and each call
// gets the answer to its own request only.
class TIcmpEcho
{
public:
    virtual ~TIcmpEcho() = default;
    virtual TReplyStatus Echo(const QString &host, int packetSize, int timeoutMs) = 0;
};

// The system's ICMP: an ICMP datagram socket where ping_group_range allows one,
// a raw socket otherwise.
std::unique_ptr<TIcmpEcho> CreateSystemIcmpEcho();

// The ping client of a check: host, packet size 1024, 5000 ms, and the reply
// event, which runs before Ping returns. One client per check; the echo behind
// it may be shared.
class TIdIcmpClient
{
public:
    explicit TIdIcmpClient(std::shared_ptr<TIcmpEcho> echo = CreateSystemIcmpEcho())
        : m_echo(std::move(echo))
    {
    }

    QString Host;
    int PacketSize = 1024;
    int ReceiveTimeout = 5000;
    std::function<void(const TReplyStatus &)> OnReply;

    // Raises EIcmpError (name not resolved, no socket).
    TReplyStatus Ping()
    {
        const TReplyStatus status = m_echo->Echo(Host, PacketSize, ReceiveTimeout);
        if (OnReply)
            OnReply(status);
        return status;
    }

private:
    std::shared_ptr<TIcmpEcho> m_echo;
};

} // namespace valmora
