#include "MetricsServer.h"

#include "MetricsStore.h"

#include <QHostAddress>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

MHD_Result answer(MHD_Connection *connection, unsigned status, const QByteArray &contentType, const QByteArray &body)
{
    // The buffer is copied: the answer outlives this call.
    MHD_Response *response =
        MHD_create_response_from_buffer(static_cast<size_t>(body.size()), const_cast<char *>(body.constData()),
                                        MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType.constData());
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result handle(void *cls, MHD_Connection *connection, const char *url, const char *method, const char *,
                  const char *, size_t *uploadSize, void **)
{
    const auto &store = *static_cast<const TMetricsStore *>(cls);
    const QByteArray text("text/plain; charset=utf-8");
    // A body sent with the request is read and dropped before the answer.
    if (*uploadSize != 0) {
        *uploadSize = 0;
        return MHD_YES;
    }
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return answer(connection, MHD_HTTP_METHOD_NOT_ALLOWED, text, "only GET and HEAD are served\n");
    if (std::strcmp(url, "/metrics") == 0) {
        const char *accept = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT);
        const TExposition format = ExpositionFromAccept(QByteArray(accept ? accept : ""));
        return answer(connection, MHD_HTTP_OK, ExpositionContentType(format), store.Render(format));
    }
    if (std::strcmp(url, "/healthz") == 0)
        return answer(connection, MHD_HTTP_OK, text, "ok\n");
    if (std::strcmp(url, "/") == 0)
        return answer(connection, MHD_HTTP_OK, "text/html; charset=utf-8",
                      "<html><head><title>valmora-monitor</title></head><body><h1>valmora-monitor</h1>"
                      "<p><a href=\"/metrics\">Metrics</a></p></body></html>\n");
    return answer(connection, MHD_HTTP_NOT_FOUND, text, "not found; the metrics are at /metrics\n");
}

} // namespace

QString TListenAddress::Parse(const QString &text, TListenAddress &into)
{
    const QString t = text.trimmed();
    QString host = u"127.0.0.1"_s;
    QString portText = t;
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u"]:"_s);
        if (close < 0)
            return u"\"%1\" is no listen address ([IPV6]:PORT)"_s.arg(text);
        host = t.mid(1, close - 1);
        portText = t.mid(close + 2);
    } else if (t.contains(u':')) {
        if (t.count(u':') != 1)
            return u"\"%1\" is no listen address (an IPv6 address goes in brackets: [::1]:9748)"_s.arg(text);
        host = t.section(u':', 0, 0);
        portText = t.section(u':', 1);
    }
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port > 65535)
        return u"\"%1\" is no listen address: the port must be a number from 0 to 65535"_s.arg(text);
    QHostAddress check;
    if (!check.setAddress(host))
        return u"\"%1\" is no listen address: \"%2\" is no IP address"_s.arg(text, host);
    into.Host = host;
    into.Port = static_cast<std::uint16_t>(port);
    return QString();
}

QString TListenAddress::ToString() const
{
    return (Host.contains(u':') ? u"[%1]"_s.arg(Host) : Host) + u':' + QString::number(Port);
}

TMetricsServer::TMetricsServer(const TMetricsStore &store)
    : m_store(store)
{
}

TMetricsServer::~TMetricsServer()
{
    Close();
}

bool TMetricsServer::Listen(const TListenAddress &address, QString *error)
{
    Close();
    sockaddr_storage storage{};
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
    const QByteArray host = address.Host.toLatin1();
    if (address.Host.contains(u':')) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(address.Port);
        if (inet_pton(AF_INET6, host.constData(), &in6->sin6_addr) != 1) {
            if (error)
                *error = u"\"%1\" is no IPv6 address"_s.arg(address.Host);
            return false;
        }
        flags |= MHD_USE_IPv6;
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(address.Port);
        if (inet_pton(AF_INET, host.constData(), &in4->sin_addr) != 1) {
            if (error)
                *error = u"\"%1\" is no IPv4 address"_s.arg(address.Host);
            return false;
        }
    }
    errno = 0;
    // Bounded: a few scrapers at a time, none holding a connection for long.
    m_daemon = MHD_start_daemon(flags, address.Port, nullptr, nullptr, &handle,
                                const_cast<void *>(static_cast<const void *>(&m_store)), MHD_OPTION_SOCK_ADDR,
                                reinterpret_cast<sockaddr *>(&storage), MHD_OPTION_CONNECTION_LIMIT, 64U,
                                MHD_OPTION_CONNECTION_TIMEOUT, 30U, MHD_OPTION_END);
    if (!m_daemon) {
        if (error)
            *error = u"cannot listen on %1: %2"_s.arg(
                address.ToString(), errno ? QString::fromLocal8Bit(std::strerror(errno)) : u"the HTTP server did not start"_s);
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : address.Port;
    return true;
}

void TMetricsServer::Close()
{
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
}

} // namespace valmora
