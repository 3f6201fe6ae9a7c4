#pragma once

// The WS-Discovery messages the enumerator sends and the replies it reads.
// Replies come from anyone on the network: every reader here takes untrusted
// bytes, gives nothing for anything it does not understand, and never raises.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace valmora::platform::wsd {

inline constexpr quint16 DiscoveryPort = 3702;
inline constexpr char MulticastGroup[] = "239.255.255.250";
// SOAP-over-UDP messages fit one datagram.
inline constexpr int MaxDatagram = 65507;
// Metadata of a computer is a few kilobytes.
inline constexpr int MaxMetadataBytes = 256 * 1024;

// "urn:uuid:…" with a fresh random UUID.
QString NewMessageId();

// A Probe for devices (wsdp:Device), the type every Windows computer answers.
QByteArray BuildProbe(const QString &messageId);
// A Resolve for an endpoint whose probe match carried no transport address.
QByteArray BuildResolve(const QString &messageId, const QString &endpoint);
// The metadata Get sent over HTTP to an endpoint's transport address.
QByteArray BuildGetMetadata(const QString &messageId, const QString &endpoint);

// One ProbeMatch or ResolveMatch.
struct TMatch
{
    QString endpoint;        // wsa:EndpointReference/wsa:Address
    bool isComputer = false; // its Types name pub:Computer
    QStringList xaddrs;      // transport addresses, as sent
};

struct TDiscoveryReply
{
    QString action;    // wsa:Action
    QString relatesTo; // wsa:RelatesTo
    std::vector<TMatch> matches;
};

// A ProbeMatches or ResolveMatches message; nothing for other or broken messages.
std::optional<TDiscoveryReply> ParseDiscoveryReply(const QByteArray &message);

// The text of the "Computer" entry of the host of a metadata GetResponse
// (for example "NAME/Workgroup:WORKGROUP"); nothing when there is none.
std::optional<QString> ParseComputerEntry(const QByteArray &message);

// The computer's name of a "Computer" entry: the part before its first "/".
QString ComputerNameOfEntry(const QString &entry);

// The first transport address that is plain HTTP to the host the reply came
// from; metadata is never fetched from anywhere else.
std::optional<QString> PickTransportAddress(const QStringList &xaddrs, const QString &senderAddress);

} // namespace valmora::platform::wsd
