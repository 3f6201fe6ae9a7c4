// The network neighbourhood on Linux: a WS-Discovery Probe for devices on every
// interface that can multicast, the computers among the ProbeMatches (with a
// Resolve for those that gave no transport address), and each computer's name
// from the "Computer" entry of its metadata, fetched over HTTP.
#include "foundation/ComputerName.h"
#include "WsDiscovery.h"

#include "platform/NetworkEnumerator.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <curl/curl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>

using namespace Qt::Literals::StringLiterals;

namespace valmora::platform {

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// Entries handed out per fetch, like a fixed-size enumeration buffer.
constexpr int BatchSize = 64;
// Time for Resolves sent at the end of the collection to be answered.
constexpr int ResolveGraceMs = 1000;

struct TInterface
{
    QString name;
    in_addr address{};
};

std::vector<TInterface> usableInterfaces(const QStringList &wanted)
{
    std::vector<TInterface> out;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        const unsigned flags = i->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_MULTICAST) || (flags & IFF_LOOPBACK))
            continue;
        const QString name = QString::fromLocal8Bit(i->ifa_name);
        if (!wanted.isEmpty() && !wanted.contains(name))
            continue;
        TInterface item;
        item.name = name;
        item.address = reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr;
        out.push_back(item);
    }
    freeifaddrs(list);
    return out;
}

class TFd
{
public:
    explicit TFd(int fd = -1) : m_fd(fd) {}
    ~TFd() { if (m_fd >= 0) ::close(m_fd); }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    int get() const { return m_fd; }
private:
    int m_fd;
};

void initCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TResponder
{
    QString sender;    // the address the reply came from
    QString xaddr;     // where its metadata is fetched
    bool resolveSent = false;
};

struct TTransfer
{
    QByteArray body;
    bool tooLarge = false;
};

size_t collect(char *data, size_t size, size_t count, void *userdata)
{
    auto *t = static_cast<TTransfer *>(userdata);
    const size_t n = size * count;
    if (static_cast<size_t>(t->body.size()) + n > static_cast<size_t>(wsd::MaxMetadataBytes)) {
        t->tooLarge = true;
        return 0; // ends the transfer
    }
    t->body.append(data, static_cast<qsizetype>(n));
    return n;
}

class TWsDiscoveryEnumeration final : public TNetworkEnumeration
{
public:
    TWsDiscoveryEnumeration(TWsDiscoveryOptions options, std::vector<TInterface> interfaces, int fd)
        : m_options(std::move(options))
        , m_interfaces(std::move(interfaces))
        , m_socket(fd)
    {
    }

    // Sends the probe; false when it went out on no interface.
    bool Start(QString &error)
    {
        m_probeId = wsd::NewMessageId();
        const QByteArray probe = wsd::BuildProbe(m_probeId);
        int sent = 0;
        for (int repeat = 0; repeat < 2; ++repeat)
            sent += sendMulticast(probe);
        if (sent == 0) {
            error = u"The discovery probe could not be sent: %1"_s.arg(QString::fromLocal8Bit(std::strerror(m_sendErrno)));
            return false;
        }
        m_started = Clock::now();
        return true;
    }

    TEnumBatch Next() override
    {
        TEnumBatch batch;
        if (m_closed) {
            batch.result = static_cast<std::uint32_t>(TEnumResult::InvalidHandle);
            return batch;
        }
        if (!m_collected) {
            m_collected = true;
            const std::uint32_t failure = collectReplies();
            if (failure != 0) {
                batch.result = failure;
                return batch;
            }
            fetchNames();
        }
        while (m_next < m_names.size() && batch.remoteNames.size() < BatchSize)
            batch.remoteNames.append(m_names.at(m_next++));
        batch.result = static_cast<std::uint32_t>(batch.remoteNames.isEmpty() ? TEnumResult::NoMoreItems
                                                                              : TEnumResult::Success);
        return batch;
    }

    bool Close() override
    {
        if (m_closed)
            return false;
        m_closed = true;
        return true;
    }

private:
    int sendMulticast(const QByteArray &message)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(wsd::DiscoveryPort);
        inet_pton(AF_INET, wsd::MulticastGroup, &to.sin_addr);
        int sent = 0;
        for (const TInterface &i : m_interfaces) {
            ip_mreqn mreq{};
            mreq.imr_address = i.address;
            mreq.imr_ifindex = static_cast<int>(if_nametoindex(i.name.toLocal8Bit().constData()));
            if (setsockopt(m_socket.get(), IPPROTO_IP, IP_MULTICAST_IF, &mreq, sizeof mreq) != 0) {
                m_sendErrno = errno;
                continue;
            }
            if (sendto(m_socket.get(), message.constData(), static_cast<size_t>(message.size()), 0,
                       reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0) {
                m_sendErrno = errno;
                continue;
            }
            ++sent;
        }
        return sent;
    }

    // Collects ProbeMatches and ResolveMatches until the collection time is up
    // (plus a grace for late Resolves). Gives 0, or the result code of a failure.
    std::uint32_t collectReplies()
    {
        const auto deadline = m_started + Ms(m_options.collectMs);
        auto end = deadline;
        std::vector<char> buffer(wsd::MaxDatagram + 1);
        // Bounds the work a flood of datagrams can cause.
        int budget = 64 * std::max(1, m_options.maxResponders);
        while (budget-- > 0) {
            const auto now = Clock::now();
            if (now >= end)
                break;
            pollfd p{m_socket.get(), POLLIN, 0};
            const int waitMs = static_cast<int>(std::chrono::duration_cast<Ms>(end - now).count()) + 1;
            const int ready = poll(&p, 1, waitMs);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return static_cast<std::uint32_t>(TEnumResult::ExtendedError);
            }
            if (ready == 0)
                continue;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(m_socket.get(), buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr *>(&from), &fromLength);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == ECONNREFUSED)
                    continue;
                if (errno == ENETDOWN || errno == ENETUNREACH)
                    return static_cast<std::uint32_t>(TEnumResult::NoNetwork);
                return static_cast<std::uint32_t>(TEnumResult::ExtendedError);
            }
            if (n > wsd::MaxDatagram || fromLength < sizeof from || from.sin_family != AF_INET)
                continue;
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            handleReply(QByteArray(buffer.data(), static_cast<qsizetype>(n)), QString::fromLatin1(text));
            if (m_resolveSentLate)
                end = std::max(end, std::min(Clock::now() + Ms(ResolveGraceMs), deadline + Ms(ResolveGraceMs)));
        }
        return 0;
    }

    void handleReply(const QByteArray &datagram, const QString &sender)
    {
        const std::optional<wsd::TDiscoveryReply> reply = wsd::ParseDiscoveryReply(datagram);
        if (!reply)
            return;
        if (reply->relatesTo != m_probeId && !m_resolveIds.contains(reply->relatesTo))
            return; // not an answer to us
        for (const wsd::TMatch &match : reply->matches) {
            if (!match.isComputer)
                continue;
            auto it = m_responders.find(match.endpoint);
            if (it == m_responders.end()) {
                if (static_cast<int>(m_responders.size()) >= m_options.maxResponders)
                    continue;
                it = m_responders.emplace(match.endpoint, TResponder{sender, QString(), false}).first;
            }
            TResponder &r = it->second;
            if (!r.xaddr.isEmpty() || r.sender != sender)
                continue; // an endpoint keeps the address it first answered from
            if (const std::optional<QString> xaddr = wsd::PickTransportAddress(match.xaddrs, sender)) {
                r.xaddr = *xaddr;
            } else if (match.xaddrs.isEmpty() && !r.resolveSent) {
                r.resolveSent = true;
                const QString id = wsd::NewMessageId();
                m_resolveIds.insert(id);
                sendMulticast(wsd::BuildResolve(id, match.endpoint));
                m_resolveSentLate = true;
            }
        }
    }

    // Fetches the metadata of every responder at once, each transfer bounded.
    void fetchNames()
    {
        std::vector<std::pair<QString, QString>> targets; // endpoint, xaddr
        for (const auto &[endpoint, r] : m_responders)
            if (!r.xaddr.isEmpty())
                targets.emplace_back(endpoint, r.xaddr);
        if (targets.empty())
            return;
        initCurl();
        CURLM *multi = curl_multi_init();
        if (!multi)
            return;
        std::vector<TTransfer> transfers(targets.size());
        std::vector<QByteArray> requests(targets.size());
        std::vector<QByteArray> urls(targets.size());
        std::vector<CURL *> handles(targets.size(), nullptr);
        curl_slist *headers = curl_slist_append(nullptr, "Content-Type: application/soap+xml");
        for (size_t i = 0; i < targets.size(); ++i) {
            CURL *h = curl_easy_init();
            if (!h)
                continue;
            handles[i] = h;
            requests[i] = wsd::BuildGetMetadata(wsd::NewMessageId(), targets[i].first);
            urls[i] = targets[i].second.toUtf8();
            curl_easy_setopt(h, CURLOPT_URL, urls[i].constData());
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, requests[i].constData());
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(requests[i].size()));
            curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
            curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
            curl_easy_setopt(h, CURLOPT_NOPROXY, "*"); // straight to the host, never through a proxy
            curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(m_options.metadataTimeoutMs));
            curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_options.metadataTimeoutMs));
            curl_easy_setopt(h, CURLOPT_MAXFILESIZE, static_cast<long>(wsd::MaxMetadataBytes));
            curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &collect);
            curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfers[i]);
            curl_easy_setopt(h, CURLOPT_USERAGENT, "valmora");
            curl_multi_add_handle(multi, h);
        }
        // Each transfer has its own time-out; this bounds the loop as a whole.
        const auto hardLimit = Clock::now() + Ms(m_options.metadataTimeoutMs + 1000);
        int running = 0;
        do {
            if (curl_multi_perform(multi, &running) != CURLM_OK)
                break;
            if (running)
                curl_multi_poll(multi, nullptr, 0, 100, nullptr);
        } while (running && Clock::now() < hardLimit);

        std::set<QString> seen;
        for (size_t i = 0; i < targets.size(); ++i) {
            CURL *h = handles[i];
            if (!h)
                continue;
            long status = 0;
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
            curl_multi_remove_handle(multi, h);
            curl_easy_cleanup(h);
            if (status != 200 || transfers[i].tooLarge)
                continue;
            const std::optional<QString> entry = wsd::ParseComputerEntry(transfers[i].body);
            if (!entry)
                continue;
            const QString name = wsd::ComputerNameOfEntry(*entry);
            if (name.isEmpty())
                continue;
            const QString remote = NetworkComputerName(name);
            if (seen.insert(remote.toCaseFolded()).second)
                m_names.append(remote);
        }
        curl_slist_free_all(headers);
        curl_multi_cleanup(multi);
    }

    TWsDiscoveryOptions m_options;
    std::vector<TInterface> m_interfaces;
    TFd m_socket;
    QString m_probeId;
    std::set<QString> m_resolveIds;
    std::map<QString, TResponder> m_responders;
    Clock::time_point m_started;
    int m_sendErrno = 0;
    bool m_resolveSentLate = false;
    bool m_collected = false;
    bool m_closed = false;
    QStringList m_names;
    qsizetype m_next = 0;
};

class TWsDiscoveryEnumerator final : public TNetworkEnumerator
{
public:
    explicit TWsDiscoveryEnumerator(TWsDiscoveryOptions options) : m_options(std::move(options)) {}

    std::unique_ptr<TNetworkEnumeration> Open(QString &error) override
    {
        std::vector<TInterface> interfaces = usableInterfaces(m_options.interfaces);
        if (interfaces.empty()) {
            error = u"No network interface is up that can send multicast"_s;
            return nullptr;
        }
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = u"The discovery socket cannot be opened: %1"_s.arg(QString::fromLocal8Bit(std::strerror(errno)));
            return nullptr;
        }
        auto enumeration = std::make_unique<TWsDiscoveryEnumeration>(m_options, std::move(interfaces), fd);
        const int ttl = 1;
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        if (bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0) {
            error = u"The discovery socket cannot be bound: %1"_s.arg(QString::fromLocal8Bit(std::strerror(errno)));
            return nullptr;
        }
        if (!enumeration->Start(error))
            return nullptr;
        return enumeration;
    }

private:
    TWsDiscoveryOptions m_options;
};

} // namespace

std::unique_ptr<TNetworkEnumerator> CreateNetworkEnumerator(const TWsDiscoveryOptions &options)
{
    return std::make_unique<TWsDiscoveryEnumerator>(options);
}

} // namespace valmora::platform
