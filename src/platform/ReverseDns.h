#pragma once

// Reverse DNS lookups (PTR queries) sent to one chosen server, one at a time.

#include "foundation/Exception.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace valmora::platform {

// An error reply, an empty answer, no server, a socket failure.
class EDnsError final : public Exception
{
public:
    using Exception::Exception;
};

class TReverseDnsClient
{
public:
    virtual ~TReverseDnsClient() = default;

    // The server's address (IPv4 or IPv6) and UDP port; an empty address means none.
    virtual void SetServer(const QString &address, std::uint16_t port = 53) = 0;
    virtual QString ServerAddress() const = 0;
    virtual std::uint16_t ServerPort() const = 0;
    virtual void SetTimeoutMs(int milliseconds) = 0;
    virtual int TimeoutMs() const = 0;

    // One PTR query (class IN, recursion desired) for the dotted IPv4 address.
    // Gives nothing when no reply came within the waiting time, otherwise the
    // name of the first PTR record of the answer (empty when the answer holds
    // records but no PTR record). Raises EDnsError for an error reply, an empty
    // answer, a missing server or a socket failure.
    virtual std::optional<QString> LookupPtr(const QString &dottedAddress) = 0;
};

// c-ares on Linux.
std::unique_ptr<TReverseDnsClient> CreateReverseDnsClient();

// "4.3.2.1.in-addr.arpa" for 1.2.3.4; empty when the text is no IPv4 address.
QString ReverseLookupName(const QString &dottedAddress);

} // namespace valmora::platform
