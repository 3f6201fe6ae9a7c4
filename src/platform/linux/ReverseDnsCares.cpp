// Reverse lookups with c-ares: one PTR query at a time to one chosen server.
#include "ReverseDnsCares.h"

#include "platform/ReverseDns.h"

#include <QHostAddress>
#include <QStringDecoder>
#include <QtEndian>

#include <ares.h>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <poll.h>

#include <chrono>
#include <cstring>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace valmora::platform {

QString ReverseLookupName(const QString &dottedAddress)
{
    QHostAddress address;
    if (!address.setAddress(dottedAddress) || address.protocol() != QAbstractSocket::IPv4Protocol)
        return QString();
    const quint32 v = address.toIPv4Address();
    return u"%1.%2.%3.%4.in-addr.arpa"_s.arg(v & 0xff).arg((v >> 8) & 0xff).arg((v >> 16) & 0xff).arg(v >> 24);
}

namespace cares {

namespace {

// ares_expand_name writes bytes outside printable ASCII as "\DDD" and escapes
// "." and "\" inside a label; undo that to get the label bytes back.
QByteArray unescapeName(const char *text)
{
    QByteArray out;
    for (const char *p = text; *p;) {
        if (*p == '\\' && p[1] >= '0' && p[1] <= '9' && p[2] >= '0' && p[2] <= '9' && p[3] >= '0' && p[3] <= '9') {
            out.append(static_cast<char>((p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0')));
            p += 4;
        } else if (*p == '\\' && p[1]) {
            out.append(p[1]);
            p += 2;
        } else {
            out.append(*p++);
        }
    }
    return out;
}

// Skips one encoded name at pos; false when it runs past the message.
bool skipName(const unsigned char *msg, int length, int &pos)
{
    char *name = nullptr;
    long used = 0;
    if (ares_expand_name(msg + pos, msg, length, &name, &used) != ARES_SUCCESS)
        return false;
    ares_free_string(name);
    pos += static_cast<int>(used);
    return pos <= length;
}

std::uint16_t read16(const unsigned char *p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

} // namespace

std::optional<QString> PtrNameFromReply(const QByteArray &reply)
{
    const auto *msg = reinterpret_cast<const unsigned char *>(reply.constData());
    const int length = static_cast<int>(reply.size());
    if (length < HFIXEDSZ)
        return std::nullopt;
    const int questions = read16(msg + 4);
    const int answers = read16(msg + 6);
    if (answers == 0)
        throw EDnsError(u"The DNS reply holds no answer"_s);
    int pos = HFIXEDSZ;
    for (int i = 0; i < questions; ++i) {
        if (!skipName(msg, length, pos) || pos + QFIXEDSZ > length)
            return std::nullopt;
        pos += QFIXEDSZ;
    }
    for (int i = 0; i < answers; ++i) {
        if (!skipName(msg, length, pos) || pos + RRFIXEDSZ > length)
            return std::nullopt;
        const int type = read16(msg + pos);
        const int dataLength = read16(msg + pos + 8);
        pos += RRFIXEDSZ;
        if (pos + dataLength > length)
            return std::nullopt;
        if (type == ns_t_ptr) {
            char *name = nullptr;
            long used = 0;
            if (ares_expand_name(msg + pos, msg, length, &name, &used) != ARES_SUCCESS)
                return std::nullopt;
            const QByteArray bytes = unescapeName(name);
            ares_free_string(name);
            auto toUtf16 = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            QString text = toUtf16(bytes);
            // Bytes that are not UTF-8 would turn into replacement characters; the
            // name check drops names holding them.
            return text;
        }
        pos += dataLength;
    }
    return QString();
}

} // namespace cares

namespace {

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { ares_library_init(ARES_LIB_INIT_ALL); });
}

struct TQueryState
{
    bool done = false;
    int status = ARES_SUCCESS;
    QByteArray reply;
};

void onReply(void *arg, int status, int /*timeouts*/, unsigned char *abuf, int alen)
{
    auto *state = static_cast<TQueryState *>(arg);
    state->done = true;
    state->status = status;
    if (abuf && alen > 0)
        state->reply = QByteArray(reinterpret_cast<const char *>(abuf), alen);
}

class TCaresClient final : public TReverseDnsClient
{
public:
    TCaresClient() { initLibrary(); }
    ~TCaresClient() override { destroyChannel(); }
    TCaresClient(const TCaresClient &) = delete;
    TCaresClient &operator=(const TCaresClient &) = delete;

    void SetServer(const QString &address, std::uint16_t port) override
    {
        m_address = address;
        m_port = port;
        destroyChannel();
    }
    QString ServerAddress() const override { return m_address; }
    std::uint16_t ServerPort() const override { return m_port; }
    void SetTimeoutMs(int milliseconds) override
    {
        if (milliseconds != m_timeoutMs) {
            m_timeoutMs = milliseconds;
            destroyChannel();
        }
    }
    int TimeoutMs() const override { return m_timeoutMs; }

    std::optional<QString> LookupPtr(const QString &dottedAddress) override
    {
        const QString name = ReverseLookupName(dottedAddress);
        if (name.isEmpty())
            throw EDnsError(u"%1 is not an IPv4 address"_s.arg(dottedAddress));
        ensureChannel();

        TQueryState state;
        const QByteArray qname = name.toLatin1();
        ares_query(m_channel, qname.constData(), ns_c_in, ns_t_ptr, &onReply, &state);
        run(state);

        switch (state.status) {
        case ARES_SUCCESS:
            break;
        case ARES_ETIMEOUT:
            return std::nullopt;
        case ARES_ENODATA:
            throw EDnsError(u"The DNS reply for %1 holds no answer"_s.arg(dottedAddress));
        default:
            throw EDnsError(u"Reverse lookup of %1 at %2 failed: %3"_s.arg(
                dottedAddress, m_address, QString::fromUtf8(ares_strerror(state.status))));
        }
        std::optional<QString> host = cares::PtrNameFromReply(state.reply);
        if (!host)
            throw EDnsError(u"The DNS reply for %1 cannot be decoded"_s.arg(dottedAddress));
        return host;
    }

private:
    void ensureChannel()
    {
        if (m_channel)
            return;
        QHostAddress server;
        if (m_address.isEmpty() || !server.setAddress(m_address))
            throw EDnsError(m_address.isEmpty() ? u"No DNS server is known"_s
                                                : u"The DNS server %1 is no IP address"_s.arg(m_address));

        ares_options options{};
        // One try, the whole waiting time; error replies come to us as they are
        // instead of being retried; the socket stays open between the lookups.
        options.flags = ARES_FLAG_NOCHECKRESP | ARES_FLAG_STAYOPEN | ARES_FLAG_NOSEARCH;
        options.timeout = m_timeoutMs;
        options.tries = 1;
        options.ndots = 0;
        const int mask = ARES_OPT_FLAGS | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_NDOTS;
        int rc = ares_init_options(&m_channel, &options, mask);
        if (rc != ARES_SUCCESS) {
            m_channel = nullptr;
            throw EDnsError(u"The DNS client cannot start: %1"_s.arg(QString::fromUtf8(ares_strerror(rc))));
        }

        ares_addr_port_node node{};
        node.next = nullptr;
        if (server.protocol() == QAbstractSocket::IPv4Protocol) {
            node.family = AF_INET;
            const quint32 v = qToBigEndian(server.toIPv4Address());
            std::memcpy(&node.addr.addr4, &v, sizeof v);
        } else {
            node.family = AF_INET6;
            const Q_IPV6ADDR v6 = server.toIPv6Address();
            std::memcpy(&node.addr.addr6, &v6, sizeof v6);
        }
        node.udp_port = m_port;
        node.tcp_port = m_port;
        rc = ares_set_servers_ports(m_channel, &node);
        if (rc != ARES_SUCCESS) {
            destroyChannel();
            throw EDnsError(u"The DNS server %1 cannot be used: %2"_s.arg(m_address, QString::fromUtf8(ares_strerror(rc))));
        }
    }

    void destroyChannel()
    {
        if (m_channel)
            ares_destroy(m_channel);
        m_channel = nullptr;
    }

    // Serves the channel's sockets until the query has ended; c-ares ends it by
    // its own time-out, and a hard limit a little later guards against a stuck run.
    void run(TQueryState &state)
    {
        using clock = std::chrono::steady_clock;
        const auto hardLimit = clock::now() + std::chrono::milliseconds(m_timeoutMs + 1000);
        while (!state.done) {
            ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
            const int bits = ares_getsock(m_channel, sockets, ARES_GETSOCK_MAXNUM);
            pollfd fds[ARES_GETSOCK_MAXNUM];
            nfds_t count = 0;
            for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
                short events = 0;
                if (ARES_GETSOCK_READABLE(bits, i))
                    events |= POLLIN;
                if (ARES_GETSOCK_WRITABLE(bits, i))
                    events |= POLLOUT;
                if (events)
                    fds[count++] = pollfd{sockets[i], events, 0};
            }
            timeval tv{};
            timeval maxTv{0, 100000};
            const timeval *next = ares_timeout(m_channel, &maxTv, &tv);
            const int waitMs = static_cast<int>(next->tv_sec * 1000 + next->tv_usec / 1000) + 1;
            const int ready = poll(fds, count, waitMs);
            if (ready <= 0) {
                ares_process_fd(m_channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
            } else {
                for (nfds_t i = 0; i < count; ++i) {
                    const ares_socket_t r = (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) ? fds[i].fd : ARES_SOCKET_BAD;
                    const ares_socket_t w = (fds[i].revents & POLLOUT) ? fds[i].fd : ARES_SOCKET_BAD;
                    if (r != ARES_SOCKET_BAD || w != ARES_SOCKET_BAD)
                        ares_process_fd(m_channel, r, w);
                }
            }
            if (!state.done && clock::now() > hardLimit) {
                ares_cancel(m_channel); // calls onReply with ARES_ECANCELLED
                if (!state.done) {
                    state.done = true;
                    state.status = ARES_ETIMEOUT;
                } else if (state.status == ARES_ECANCELLED) {
                    state.status = ARES_ETIMEOUT;
                }
            }
        }
    }

    QString m_address;
    std::uint16_t m_port = 53;
    int m_timeoutMs = 5000;
    ares_channel m_channel = nullptr;
};

} // namespace

std::unique_ptr<TReverseDnsClient> CreateReverseDnsClient()
{
    return std::make_unique<TCaresClient>();
}

} // namespace valmora::platform
