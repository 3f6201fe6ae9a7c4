#include "IcmpLinux.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <system_error>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

class Socket
{
public:
    explicit Socket(int fd)
        : m_fd(fd)
    {
    }
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// strerror's buffer may be shared between threads; this one is not.
QString errnoText(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

QString dotted(in_addr address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return QString::fromLatin1(text);
}

std::uint16_t checksum(const unsigned char *data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (size % 2)
        sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

in_addr resolve(const QString &host)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo *result = nullptr;
    const QByteArray name = host.toUtf8();
    const int rc = ::getaddrinfo(name.constData(), nullptr, &hints, &result);
    if (rc != 0 || !result)
        throw EIcmpError(u"Cannot resolve host \"%1\": %2"_s.arg(host, QString::fromLocal8Bit(::gai_strerror(rc))));
    const in_addr address = reinterpret_cast<const sockaddr_in *>(result->ai_addr)->sin_addr;
    ::freeaddrinfo(result);
    return address;
}

class SystemIcmpEcho final : public TIcmpEcho
{
public:
    TReplyStatus Echo(const QString &host, int packetSize, int timeoutMs) override
    {
        const in_addr target = resolve(host);
        bool raw = false;
        int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd < 0) {
            fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
            raw = true;
        }
        if (fd < 0)
            throw EIcmpError(u"Cannot open an ICMP socket: %1"_s.arg(errnoText(errno)));
        Socket socket(fd);
        const std::uint16_t id = m_id;
        const std::uint16_t sequence = static_cast<std::uint16_t>(++m_sequence);
        if (!raw) {
            const int on = 1;
            // Unreachable and time-exceeded answers arrive on the error queue.
            ::setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
        } else {
            // Without it every raw socket queues the answers of every ping in
            // flight, and a busy cycle can crowd out its own reply. What slips
            // in before the filter is attached is still sorted out by AnswerTo.
            std::vector<sock_filter> code = platform::icmp::RawReplyFilter(id, sequence);
            const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
            ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
        }

        const std::size_t size = static_cast<std::size_t>(std::max(packetSize, static_cast<int>(sizeof(icmphdr))));
        QByteArray packet(static_cast<qsizetype>(size), '\0');
        auto *header = reinterpret_cast<icmphdr *>(packet.data());
        header->type = ICMP_ECHO;
        header->code = 0;
        header->un.echo.id = htons(id);
        header->un.echo.sequence = htons(sequence);
        for (std::size_t i = sizeof(icmphdr); i < size; ++i)
            packet[static_cast<qsizetype>(i)] = static_cast<char>('A' + i % 26);
        header->checksum = htons(checksum(reinterpret_cast<const unsigned char *>(packet.constData()), size));

        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_addr = target;
        TReplyStatus status;
        status.FromIpAddress = dotted(target);
        QElapsedTimer timer;
        timer.start();
        if (::sendto(fd, packet.constData(), size, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0) {
            const int error = errno;
            if (error == ENETUNREACH || error == EHOSTUNREACH || error == EINVAL || error == EACCES
                || error == EPERM) {
                status.ReplyStatusType = TReplyStatusType::rsErrorUnreachable;
                return status;
            }
            throw EIcmpError(u"Cannot send an echo request to %1: %2"_s.arg(host, errnoText(error)));
        }

        QByteArray buffer(65536, '\0');
        for (;;) {
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0) {
                status.ReplyStatusType = TReplyStatusType::rsTimeOut;
                return status;
            }
            pollfd p {fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                continue; // the deadline check above ends the wait
            if (!raw && (p.revents & POLLERR)) {
                if (auto type = readError(fd)) {
                    status.ReplyStatusType = *type;
                    status.MsRoundTripTime = static_cast<int>(timer.elapsed());
                    return status;
                }
                continue;
            }
            sockaddr_in from {};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(fd, buffer.data(), static_cast<std::size_t>(buffer.size()), 0,
                                         reinterpret_cast<sockaddr *>(&from), &fromLength);
            if (n < 0)
                continue;
            if (auto type = platform::icmp::AnswerTo(reinterpret_cast<const unsigned char *>(buffer.constData()),
                                           static_cast<std::size_t>(n), raw, id, sequence, from.sin_addr, target)) {
                status.ReplyStatusType = *type;
                status.FromIpAddress = dotted(from.sin_addr);
                status.MsRoundTripTime = static_cast<int>(timer.elapsed());
                return status;
            }
        }
    }

private:
    static std::optional<TReplyStatusType> readError(int fd)
    {
        char control[512];
        char data[1500];
        iovec iov {data, sizeof data};
        msghdr msg {};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (::recvmsg(fd, &msg, MSG_ERRQUEUE) < 0)
            return std::nullopt;
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
                continue;
            sock_extended_err error;
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            if (error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == ICMP_TIME_EXCEEDED)
                return TReplyStatusType::rsErrorTTLExceeded;
            return TReplyStatusType::rsErrorUnreachable;
        }
        return TReplyStatusType::rsError;
    }

    std::uint16_t m_id = static_cast<std::uint16_t>(std::random_device{}());
    std::atomic<std::uint32_t> m_sequence {0};
};

} // namespace

namespace platform::icmp {

std::optional<TReplyStatusType> AnswerTo(const unsigned char *data, std::size_t n, bool raw, std::uint16_t id,
                                         std::uint16_t sequence, in_addr from, in_addr target)
{
    if (raw) {
        if (n < sizeof(iphdr))
            return std::nullopt;
        const std::size_t ipLength = static_cast<std::size_t>(reinterpret_cast<const iphdr *>(data)->ihl) * 4;
        if (ipLength < sizeof(iphdr) || n < ipLength + sizeof(icmphdr))
            return std::nullopt;
        data += ipLength;
        n -= ipLength;
    }
    if (n < sizeof(icmphdr))
        return std::nullopt;
    icmphdr header;
    std::memcpy(&header, data, sizeof header);
    if (header.type == ICMP_ECHOREPLY) {
        // A datagram socket only sees its own replies; the kernel chose the id.
        if (raw && (ntohs(header.un.echo.id) != id || from.s_addr != target.s_addr))
            return std::nullopt;
        if (ntohs(header.un.echo.sequence) != sequence)
            return std::nullopt;
        return TReplyStatusType::rsEcho;
    }
    if (!raw || (header.type != ICMP_DEST_UNREACH && header.type != ICMP_TIME_EXCEEDED))
        return std::nullopt;
    // The error quotes the IP header and the first bytes of our request.
    const unsigned char *quoted = data + sizeof(icmphdr);
    const std::size_t quotedLength = n - sizeof(icmphdr);
    if (quotedLength < sizeof(iphdr))
        return std::nullopt;
    const std::size_t innerIp = static_cast<std::size_t>(reinterpret_cast<const iphdr *>(quoted)->ihl) * 4;
    if (innerIp < sizeof(iphdr) || quotedLength < innerIp + sizeof(icmphdr))
        return std::nullopt;
    icmphdr inner;
    std::memcpy(&inner, quoted + innerIp, sizeof inner);
    if (inner.type != ICMP_ECHO || ntohs(inner.un.echo.id) != id || ntohs(inner.un.echo.sequence) != sequence)
        return std::nullopt;
    return header.type == ICMP_TIME_EXCEEDED ? TReplyStatusType::rsErrorTTLExceeded
                                             : TReplyStatusType::rsErrorUnreachable;
}

std::vector<sock_filter> RawReplyFilter(std::uint16_t id, std::uint16_t sequence)
{
    // X is the IP header's length; an error quotes our request's IP header at
    // X + 8 and its ICMP header after that. Loads beyond the datagram drop it.
    constexpr std::uint32_t accept = 18;
    constexpr std::uint32_t drop = 19;
    std::vector<sock_filter> code{
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 0, 7 - 3),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, drop - 5),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 6),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, sequence, accept - 7, drop - 7),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_DEST_UNREACH, 9 - 8, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TIME_EXCEEDED, 0, drop - 9),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0F),
        BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),
        BPF_STMT(BPF_MISC | BPF_TAX, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 12),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, drop - 16),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 14),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, sequence, accept - 18, drop - 18),
        BPF_STMT(BPF_RET | BPF_K, 0x40000),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    return code;
}

} // namespace platform::icmp

std::unique_ptr<TIcmpEcho> CreateSystemIcmpEcho()
{
    return std::make_unique<SystemIcmpEcho>();
}

} // namespace valmora
