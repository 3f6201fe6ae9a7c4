#pragma once

// The hosts of IPv4 address ranges, found by reverse DNS lookups, and the
// address and range values the walk uses.

#include "NNBase.h"

#include "platform/HostInfo.h"
#include "platform/ReverseDns.h"

#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>

namespace valmora {

// An IPv4 address; Octets[0] is the leftmost number of the dotted text.
class TIP
{
public:
    TIP() = default;
    // Each "."-separated part becomes the next octet (its low eight bits); a
    // missing part leaves 0. A part that is not an integer, or a fifth part,
    // raises EConvertError.
    explicit TIP(const QString &text);

    void Assign(const TIP &other) { Octets = other.Octets; }
    QString AsText() const;
    // The next address as a 32-bit number; 255.255.255.255 goes to 0.0.0.0.
    void Increment();
    bool SameAs(const TIP &other) const { return Octets == other.Octets; }
    std::uint32_t ToUInt32() const;

    std::array<std::uint8_t, 4> Octets{};
};

// True when the text is exactly four "."-separated integers (any values).
bool IsValidIP(const QString &text);

// "first-last", or one address alone. An empty text raises
// Exception("Zakres nie może mieć długości 0!").
class TRange
{
public:
    explicit TRange(const QString &text);

    bool IsLast() const { return Current.SameAs(Last); }
    // The last address lies below the first: a walk would wrap through the
    // whole address space.
    bool IsReversed() const { return Last.ToUInt32() < First.ToUInt32(); }

    TIP First;
    TIP Current;
    TIP Last;
};

class TIPNetworkNeigborhoodComputes;
using TCheckEvent = std::function<void(TIPNetworkNeigborhoodComputes &sender, const QString &ip, bool &cancel)>;

class TIPNetworkNeigborhoodComputes final : public TNNBase
{
public:
    // The platform's DNS client, aimed at the first DNS server of the machine.
    TIPNetworkNeigborhoodComputes();
    TIPNetworkNeigborhoodComputes(std::unique_ptr<platform::TReverseDnsClient> resolver,
                                  const platform::THostInfo &host);

    // Walks every range of IPRanges; only adds names, never removes one.
    // Always true. An empty range line or an address part that is not an
    // integer raises out of it; a range that ends below its start is logged
    // and skipped.
    bool Refresh() override;

    // One reverse lookup; false when there was no reply, the lookup failed
    // (logged) or the name cannot be kept (logged).
    bool ResolveHostName(const QString &address, QString &hostName);

    const QStringList &IPRanges() const { return m_ipRanges; }
    void SetIPRanges(const QStringList &ranges) { m_ipRanges = ranges; }

    platform::TReverseDnsClient &Resolver() { return *m_resolver; }

    TCheckEvent OnCheckEvent;

private:
    void walk(TRange &range);
    void addFound(const QString &hostName, bool &cancel);

    std::unique_ptr<platform::TReverseDnsClient> m_resolver;
    QStringList m_ipRanges;
};

} // namespace valmora
