#include "ComputersIP.h"

#include "ComputerNameCheck.h"
#include "NetworkParams.h"

#include "foundation/Exception.h"
#include "foundation/LogSystem.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

constexpr int LookupTimeoutMs = 5000;

// The parts of a dotted text as integers, cut at every "."; raises
// EConvertError at the first part that is not an integer.
std::vector<int> dottedParts(const QString &text)
{
    std::vector<int> parts;
    const QStringList pieces = QString(text + u'.').split(u'.');
    // The appended "." leaves one empty piece at the end that is no part.
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i) {
        bool ok = false;
        const int value = pieces.at(i).toInt(&ok, 10);
        if (!ok)
            throw EConvertError(u"'%1' is not a valid integer value"_s.arg(pieces.at(i)));
        parts.push_back(value);
    }
    return parts;
}

// Restores sorting however Refresh ends, so that a failed walk does not leave
// the list in insertion order.
struct TSortOnExit
{
    TNameList &list;
    ~TSortOnExit() { list.setSorted(true); }
};

// The range of a settings line; an error names the line, as the user wrote it.
TRange readRange(const QString &line)
{
    const auto named = [&line](const Exception &e) {
        return u"The IP range \"%1\" cannot be read: %2"_s.arg(line, e.message());
    };
    try {
        return TRange(line);
    } catch (const EConvertError &e) {
        throw EConvertError(named(e));
    } catch (const Exception &e) {
        throw Exception(named(e));
    }
}

} // namespace

TIP::TIP(const QString &text)
{
    const std::vector<int> parts = dottedParts(text);
    if (parts.size() > Octets.size())
        throw EConvertError(u"'%1' is not a valid IP address"_s.arg(text));
    for (size_t i = 0; i < parts.size(); ++i)
        Octets[i] = static_cast<std::uint8_t>(parts[i] & 0xff);
}

QString TIP::AsText() const
{
    return u"%1.%2.%3.%4"_s.arg(Octets[0]).arg(Octets[1]).arg(Octets[2]).arg(Octets[3]);
}

void TIP::Increment()
{
    for (int i = 3; i >= 0; --i) {
        if (Octets[static_cast<size_t>(i)]++ != 255)
            return;
    }
}

std::uint32_t TIP::ToUInt32() const
{
    return (std::uint32_t{Octets[0]} << 24) | (std::uint32_t{Octets[1]} << 16) | (std::uint32_t{Octets[2]} << 8)
           | std::uint32_t{Octets[3]};
}

bool IsValidIP(const QString &text)
{
    try {
        return dottedParts(text).size() == 4;
    } catch (const EConvertError &) {
        return false;
    }
}

TRange::TRange(const QString &text)
{
    if (text.isEmpty())
        throw Exception(u"Zakres nie może mieć długości 0!"_s);
    const qsizetype dash = text.indexOf(u'-');
    if (dash < 0) {
        First = TIP(text);
        Last = First;
    } else {
        First = TIP(text.left(dash));
        Last = TIP(text.mid(dash + 1));
    }
    Current = First;
}

TIPNetworkNeigborhoodComputes::TIPNetworkNeigborhoodComputes()
    : TIPNetworkNeigborhoodComputes(platform::CreateReverseDnsClient(), platform::SystemHostInfo())
{
}

TIPNetworkNeigborhoodComputes::TIPNetworkNeigborhoodComputes(std::unique_ptr<platform::TReverseDnsClient> resolver,
                                                             const platform::THostInfo &host)
    : m_resolver(std::move(resolver))
{
    TXLogSystem &log = XLogSystem();
    const TNetworkParams params(host);
    const QStringList &servers = params.DnsServerList();
    log.LogFormat(u"DNS server count: %d"_s, {std::int64_t{servers.size()}}, 0);
    for (qsizetype i = 0; i < servers.size(); ++i)
        log.LogFormat(u"DNS%d: %s"_s, {std::int64_t{i}, servers.at(i)}, 0);
    if (!servers.isEmpty())
        m_resolver->SetServer(servers.first());
}

bool TIPNetworkNeigborhoodComputes::ResolveHostName(const QString &address, QString &hostName)
{
    try {
        const std::optional<QString> name = m_resolver->LookupPtr(address);
        if (!name)
            return false;
        if (!AcceptComputerName(*name, u"the reverse lookup of %1"_s.arg(address)))
            return false;
        hostName = *name;
        return true;
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::ReverseLookup);
        return false;
    }
}

void TIPNetworkNeigborhoodComputes::addFound(const QString &hostName, bool &cancel)
{
    const QString stored = AsciiLower(hostName);
    if (m_computers.contains(stored))
        return;
    cancel = raise(OnComputerAdded, hostName);
    m_computers.add(stored);
}

void TIPNetworkNeigborhoodComputes::walk(TRange &range)
{
    TXLogSystem &log = XLogSystem();
    bool cancel = false;
    while (!range.IsLast()) {
        const QString ip = range.Current.AsText();
        log.LogFormat(u"IP: %s"_s, {ip}, 0);
        cancel = false;
        if (OnCheckEvent)
            OnCheckEvent(*this, ip, cancel);
        QString hostName;
        if (ResolveHostName(ip, hostName)) {
            log.LogFormat(u"Hostname %s"_s, {hostName}, 0);
            addFound(hostName, cancel);
        } else {
            log.LogText(u"Gethostname failed"_s, 0);
        }
        range.Current.Increment();
        if (cancel)
            break;
    }
    // The range's last address (or the one after where the walk was left).
    QString hostName;
    if (ResolveHostName(range.Current.AsText(), hostName))
        addFound(hostName, cancel);
}

bool TIPNetworkNeigborhoodComputes::Refresh()
{
    m_computers.setSorted(false);
    const TSortOnExit sortOnExit{m_computers};
    m_resolver->SetTimeoutMs(LookupTimeoutMs);
    XLogSystem().LogFormat(u"Range count %d"_s, {std::int64_t{m_ipRanges.size()}}, 0);
    for (const QString &line : std::as_const(m_ipRanges)) {
        TRange range = readRange(line);
        if (range.IsReversed()) {
            XLogSystem().LogException(
                u"The IP range %1 ends below its first address (%2 - %3) and is not walked"_s.arg(
                    line, range.First.AsText(), range.Last.AsText()),
                LogPlace::ReverseLookup);
            continue;
        }
        walk(range);
    }
    return true;
}

} // namespace valmora
