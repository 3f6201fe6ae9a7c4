#include "WinRmTestEndpoint.h"

#include "drives/Wmi.h"
#include "drives/winrm/WinRmEncryption.h"
#include "drives/winrm/WsManMessages.h"
#include "drives/winrm/WinRmGss.h"

#include <gssapi/gssapi_krb5.h>

#include <QFile>
#include <QXmlStreamReader>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <csignal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

using namespace Qt::Literals::StringLiterals;
using namespace valmora::drives;
using namespace valmora::drives::winrm;

namespace valmora::test {

namespace {

const char *reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

// One accepted connection, with or without TLS.
struct Connection
{
    int fd;
    SSL *ssl = nullptr;
    ~Connection()
    {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
    }
    bool pending() const { return ssl && SSL_pending(ssl) > 0; }
    ssize_t read(char *buffer, int size) { return ssl ? SSL_read(ssl, buffer, size) : ::recv(fd, buffer, static_cast<size_t>(size), 0); }
    bool sendAll(const QByteArray &data)
    {
        qsizetype sent = 0;
        while (sent < data.size()) {
            const int chunk = static_cast<int>(std::min<qsizetype>(data.size() - sent, 1 << 20));
            const ssize_t n = ssl ? SSL_write(ssl, data.constData() + sent, chunk)
                                  : ::send(fd, data.constData() + sent, static_cast<size_t>(chunk), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }
};

struct Request
{
    QByteArray head;
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
};

struct ServerContext
{
    gss_ctx_id_t ctx = GSS_C_NO_CONTEXT;
    bool established = false;
    EGssMech mech = EGssMech::Ntlm;
    EAuthScheme scheme = EAuthScheme::Negotiate;
    ~ServerContext() { reset(); }
    void reset()
    {
        OM_uint32 minor = 0;
        if (ctx != GSS_C_NO_CONTEXT)
            gss_delete_sec_context(&minor, &ctx, GSS_C_NO_BUFFER);
        ctx = GSS_C_NO_CONTEXT;
        established = false;
    }
};

QByteArray response(int status, const QByteArray &contentType, const QList<QByteArray> &extra, const QByteArray &body)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    out += "Server: Valmora test endpoint\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    for (const QByteArray &h : extra)
        out += h + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    out += body;
    return out;
}

} // namespace

TWinRmTestEndpoint::TWinRmTestEndpoint(ESecurity security, TResponder responder, const QString &certFile,
                                       const QString &keyFile)
    : m_security(security)
    , m_responder(std::move(responder))
{
    if (!certFile.isEmpty()) {
        // OpenSSL writes to the socket itself (TLS 1.3 session tickets right
        // after the handshake): a client that has already gone, such as one that
        // only looked at the certificate, must not end the test with SIGPIPE.
        std::signal(SIGPIPE, SIG_IGN);
        SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
        if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, certFile.toLocal8Bit().constData()) != 1
            || SSL_CTX_use_PrivateKey_file(ctx, keyFile.toLocal8Bit().constData(), SSL_FILETYPE_PEM) != 1) {
            SSL_CTX_free(ctx);
            throw std::runtime_error("TLS set-up of the test endpoint failed");
        }
        m_tls = ctx;
    }
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        throw std::runtime_error("socket");
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(m_listen, 8) != 0)
        throw std::runtime_error("bind");
    socklen_t len = sizeof addr;
    ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
}

TWinRmTestEndpoint::~TWinRmTestEndpoint()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listen);
    SSL_CTX_free(static_cast<SSL_CTX *>(m_tls));
}

void TWinRmTestEndpoint::SetBasicAccount(const QByteArray &user, const QByteArray &password)
{
    m_basic = "Basic " + QByteArray(user + ':' + password).toBase64();
}

void TWinRmTestEndpoint::run()
{
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard guard(m_lock);
            ++m_connections;
        }
        serve(fd);
        ::close(fd);
    }
}

void TWinRmTestEndpoint::serve(int fd)
{
    Connection conn{fd};
    if (m_tls) {
        timeval limit{5, 0}; // a client that gives up the handshake must not block the endpoint
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        conn.ssl = SSL_new(static_cast<SSL_CTX *>(m_tls));
        SSL_set_fd(conn.ssl, fd);
        if (SSL_accept(conn.ssl) != 1) {
            ERR_clear_error();
            std::lock_guard guard(m_lock);
            ++m_tlsFailures;
            return;
        }
    }
    ServerContext gss;
    QByteArray buffer;
    // Reads more bytes; false at the end of the connection or when stopping.
    auto fill = [&]() {
        for (int waited = 0; !m_stop && waited < 20000; waited += 50) {
            pollfd p{fd, POLLIN, 0};
            if (!conn.pending() && ::poll(&p, 1, 50) <= 0)
                continue;
            char chunk[65536];
            const ssize_t n = conn.read(chunk, sizeof chunk);
            if (n <= 0)
                return false;
            buffer.append(chunk, n);
            std::lock_guard guard(m_lock);
            m_wire.append(chunk, n);
            return true;
        }
        return false;
    };

    while (!m_stop) {
        qsizetype end;
        while ((end = buffer.indexOf("\r\n\r\n")) < 0)
            if (!fill())
                return;
        Request req;
        req.head = buffer.left(end);
        const QList<QByteArray> lines = req.head.split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                req.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = req.headers.value("content-length", "0").toLongLong();
        buffer.remove(0, end + 4);
        while (buffer.size() < length)
            if (!fill())
                return;
        req.body = buffer.left(length);
        buffer.remove(0, length);
        {
            std::lock_guard guard(m_lock);
            ++m_requests;
        }
        for (int slept = 0; slept < m_delayMs && !m_stop; slept += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));

        QByteArray out;
        bool answeredSoap = false;
        const QByteArray contentType = req.headers.value("content-type");
        if (m_fixedStatus != 0) {
            out = response(m_fixedStatus, {}, {}, {});
        } else if (m_security == ESecurity::Plain && !m_basic.isEmpty()
                   && req.headers.value("authorization") != m_basic) {
            {
                std::lock_guard guard(m_lock);
                ++m_authFailures;
            }
            out = response(401, {}, {"WWW-Authenticate: Basic realm=\"WSMAN\""}, {});
        } else if (m_security == ESecurity::Plain) {
            const TEndpointReply reply = m_responder(req.body);
            out = response(reply.status, "application/soap+xml;charset=UTF-8", {}, reply.body);
            answeredSoap = true;
        } else {
            const QByteArray auth = req.headers.value("authorization");
            // Over TLS the bodies travel as they are; over HTTP they must be sealed.
            if (!m_tls && !req.body.isEmpty() && !contentType.startsWith("multipart/encrypted")) {
                std::lock_guard guard(m_lock);
                m_violations << u"unencrypted body of %1 bytes (%2)"_s.arg(req.body.size()).arg(
                    QString::fromLatin1(contentType));
            }
            if (!auth.isEmpty()) {
                const qsizetype space = auth.indexOf(' ');
                const QByteArray token = QByteArray::fromBase64(auth.mid(space + 1));
                if (gss.established)
                    gss.reset();
                gss.scheme = auth.left(space).compare(SchemeName(EAuthScheme::Kerberos), Qt::CaseInsensitive) == 0
                                 ? EAuthScheme::Kerberos
                                 : EAuthScheme::Negotiate;
                gss_buffer_desc in{static_cast<size_t>(token.size()), const_cast<char *>(token.constData())};
                gss_buffer_desc outToken{0, nullptr};
                gss_OID mech = GSS_C_NO_OID;
                OM_uint32 minor = 0, flags = 0;
                const OM_uint32 major =
                    gss_accept_sec_context(&minor, &gss.ctx, GSS_C_NO_CREDENTIAL, &in, GSS_C_NO_CHANNEL_BINDINGS,
                                           nullptr, &mech, &outToken, &flags, nullptr, nullptr);
                const QByteArray answer(static_cast<const char *>(outToken.value), static_cast<qsizetype>(outToken.length));
                OM_uint32 ignored = 0;
                gss_release_buffer(&ignored, &outToken);
                if (GSS_ERROR(major)) {
                    {
                        std::lock_guard guard(m_lock);
                        ++m_authFailures;
                    }
                    gss.reset();
                    out = response(401, {}, {"WWW-Authenticate: Negotiate"}, {});
                } else if (major & GSS_S_CONTINUE_NEEDED) {
                    out = response(401, {}, {"WWW-Authenticate: Negotiate " + answer.toBase64()}, {});
                } else {
                    gss.established = true;
                    gss.mech = gss_oid_equal(mech, gss_mech_krb5) ? EGssMech::Kerberos : EGssMech::Ntlm;
                    {
                        std::lock_guard guard(m_lock);
                        m_mechanisms << (gss.mech == EGssMech::Kerberos ? u"Kerberos"_s : u"NTLM"_s);
                    }
                    QList<QByteArray> extra;
                    if (!answer.isEmpty())
                        extra << "WWW-Authenticate: Negotiate " + answer.toBase64();
                    out = response(200, {}, extra, {});
                }
            } else if (!gss.established) {
                out = response(401, {}, {"WWW-Authenticate: Negotiate", "WWW-Authenticate: Kerberos"}, {});
            } else if (m_tls) {
                {
                    std::lock_guard guard(m_lock);
                    ++m_sealed;
                }
                const TEndpointReply reply = m_responder(req.body);
                answeredSoap = true;
                out = response(reply.status, "application/soap+xml;charset=UTF-8", {}, reply.body);
            } else {
                // A strict service: the body must carry the label of the scheme it authenticated with.
                const QByteArray protocol = SealingProtocol(gss.scheme);
                QByteArray soap;
                bool ok = false;
                try {
                    soap = UnwrapWinRm(gss.ctx, gss.mech, ParseEncryptedBody(contentType, req.body, {protocol}));
                    ok = true;
                } catch (const std::exception &e) {
                    std::lock_guard guard(m_lock);
                    m_violations << QString::fromUtf8(e.what());
                }
                if (!ok) {
                    out = response(400, {}, {}, {});
                } else {
                    {
                        std::lock_guard guard(m_lock);
                        ++m_sealed;
                    }
                    const TEndpointReply reply = m_responder(soap);
                    answeredSoap = true;
                    const QByteArray answerProtocol = m_answerProtocol.isEmpty() ? protocol : m_answerProtocol;
                    const TEncryptedMessage sealed = WrapWinRm(gss.ctx, gss.mech, reply.body, answerProtocol);
                    out = response(reply.status, EncryptedContentType(sealed.protocol), {}, BuildEncryptedBody(sealed));
                }
            }
        }
        if (!conn.sendAll(out))
            return;
        if (m_closeAfterAnswer && answeredSoap)
            return;
    }
}

int TWinRmTestEndpoint::Connections() const
{
    std::lock_guard guard(m_lock);
    return m_connections;
}
int TWinRmTestEndpoint::Requests() const
{
    std::lock_guard guard(m_lock);
    return m_requests;
}
int TWinRmTestEndpoint::SealedRequests() const
{
    std::lock_guard guard(m_lock);
    return m_sealed;
}
int TWinRmTestEndpoint::TlsFailures() const
{
    std::lock_guard guard(m_lock);
    return m_tlsFailures;
}
int TWinRmTestEndpoint::AuthFailures() const
{
    std::lock_guard guard(m_lock);
    return m_authFailures;
}
QStringList TWinRmTestEndpoint::Violations() const
{
    std::lock_guard guard(m_lock);
    return m_violations;
}
QStringList TWinRmTestEndpoint::Mechanisms() const
{
    std::lock_guard guard(m_lock);
    return m_mechanisms;
}
QByteArray TWinRmTestEndpoint::Wire() const
{
    std::lock_guard guard(m_lock);
    return m_wire;
}

// ---------------------------------------------------------------------------

namespace {

struct SoapRequest
{
    QString action, messageId, resourceUri, filter, dialect, context, operationTimeout, maxEnvelopeSize, maxElements;
    QString assocClass, selector; // of an association filter
};

QString associationKey(const QString &assocClass, const QString &keyValue)
{
    return u"assoc|"_s + assocClass.toLower() + u'|' + keyValue;
}

SoapRequest parseRequest(const QByteArray &soap)
{
    SoapRequest r;
    QXmlStreamReader x(soap);
    while (!x.atEnd()) {
        if (x.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = x.name();
        if (name == u"Action")
            r.action = x.readElementText();
        else if (name == u"MessageID")
            r.messageId = x.readElementText();
        else if (name == u"ResourceURI" && r.resourceUri.isEmpty()) // the header's, not the filter's object
            r.resourceUri = x.readElementText();
        else if (name == u"AssociationClassName")
            r.assocClass = x.readElementText();
        else if (name == u"Selector")
            r.selector = x.readElementText();
        else if (name == u"OperationTimeout")
            r.operationTimeout = x.readElementText();
        else if (name == u"MaxEnvelopeSize")
            r.maxEnvelopeSize = x.readElementText();
        else if (name == u"MaxElements")
            r.maxElements = x.readElementText();
        else if (name == u"Filter") {
            r.dialect = x.attributes().value(u"Dialect"_s).toString();
            if (r.dialect == QString::fromUtf16(winrm::WqlDialect))
                r.filter = x.readElementText();
        } else if (name == u"EnumerationContext")
            r.context = x.readElementText();
    }
    return r;
}

QByteArray envelope(const QString &action, const QString &relatesTo, const QByteArray &body)
{
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
           "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\" xml:lang=\"en-US\"><s:Header><a:Action>"
           + action.toUtf8() + "</a:Action><a:MessageID>" + winrm::NewMessageId().toUtf8()
           + "</a:MessageID><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To>"
             "<a:RelatesTo>"
           + relatesTo.toUtf8() + "</a:RelatesTo></s:Header><s:Body>" + body + "</s:Body></s:Envelope>";
}

QByteArray simpleFault(const QString &relatesTo, const QByteArray &subcode, const QByteArray &reason)
{
    return envelope(u"http://schemas.dmtf.org/wbem/wsman/1/wsman/fault"_s, relatesTo,
                    "<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>" + subcode
                        + "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en-US\">" + reason
                        + "</s:Text></s:Reason></s:Fault>");
}

} // namespace

void TRecordedWinRm::Add(const QString &className, const QString &nameSpace, const QByteArray &itemsXml, int perPage)
{
    // Split the recording at each instance's opening tag.
    const QByteArray open = "<p:" + className.toUtf8() + ' ';
    QList<QByteArray> instances;
    qsizetype at = itemsXml.indexOf(open);
    while (at >= 0) {
        const qsizetype next = itemsXml.indexOf(open, at + 1);
        instances << itemsXml.mid(at, next < 0 ? -1 : next - at).trimmed();
        at = next;
    }
    Recording rec;
    rec.resourceUri = winrm::ResourceUri(nameSpace);
    for (qsizetype i = 0; i < instances.size(); i += perPage) {
        QByteArray page;
        for (qsizetype j = i; j < std::min(instances.size(), i + perPage); ++j)
            page += instances[j];
        rec.pages << page;
    }
    std::lock_guard guard(m_lock);
    m_classes[className.toLower()] = rec;
}

void TRecordedWinRm::AddRecordedDrives(int perPage)
{
    const auto fixture = [](const char *name) {
        QFile f(QString::fromUtf8(VALMORA_TEST_FIXTURES) + u"/winrm/"_s + QString::fromLatin1(name));
        if (!f.open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot read the fixture " + f.fileName().toStdString());
        return f.readAll();
    };
    Add(u"Win32_PhysicalMedia"_s, u"root\\CIMV2"_s, fixture("physicalmedia_items.xml"), perPage);
    Add(u"Win32_DiskDrive"_s, u"root\\CIMV2"_s, fixture("diskdrive_items.xml"), perPage);
    Add(u"MSStorageDriver_FailurePredictData"_s, u"root\\WMI"_s, fixture("failurepredictdata_items.xml"), perPage);
    Add(u"MSStorageDriver_FailurePredictThresholds"_s, u"root\\WMI"_s, fixture("failurepredictthresholds_items.xml"),
        perPage);
}

void TRecordedWinRm::AddAssociated(const QString &assocClass, const QString &keyValue, const QString &className,
                                   const QString &nameSpace, const QByteArray &itemsXml)
{
    Add(className, nameSpace, itemsXml, 32);
    std::lock_guard guard(m_lock);
    m_classes[associationKey(assocClass, keyValue)] = m_classes.take(className.toLower());
}

void TRecordedWinRm::AddAssociatedFault(const QString &assocClass, const QString &keyValue,
                                        const QByteArray &faultEnvelope)
{
    std::lock_guard guard(m_lock);
    m_classes[associationKey(assocClass, keyValue)].fault = faultEnvelope;
}

void TRecordedWinRm::AddFault(const QString &className, const QByteArray &faultEnvelope)
{
    std::lock_guard guard(m_lock);
    m_classes[className.toLower()].fault = faultEnvelope;
}

TEndpointReply TRecordedWinRm::Answer(const QByteArray &soap)
{
    const SoapRequest r = parseRequest(soap);
    std::lock_guard guard(m_lock);
    if (r.messageId.isEmpty() || r.operationTimeout.isEmpty() || r.maxEnvelopeSize.isEmpty())
        m_problems << u"request without MessageID, OperationTimeout or MaxEnvelopeSize: "_s + r.action;

    auto page = [&](const QString &responseAction, const QString &contextId, bool optimized) {
        Open &o = m_contexts[contextId];
        const Recording &rec = m_classes[o.className];
        QByteArray items = o.next < rec.pages.size() ? rec.pages[o.next] : QByteArray();
        ++o.next;
        const bool last = o.next >= rec.pages.size();
        const QByteArray itemsNs = optimized ? "w" : "n";
        QByteArray body = (optimized ? "<n:EnumerateResponse>" : "<n:PullResponse>");
        if (!last)
            body += "<n:EnumerationContext>" + contextId.toUtf8() + "</n:EnumerationContext>";
        body += "<" + itemsNs + ":Items>" + items + "</" + itemsNs + ":Items>";
        if (last) {
            body += "<" + itemsNs + ":EndOfSequence/>";
            m_contexts.remove(contextId);
        }
        body += optimized ? "</n:EnumerateResponse>" : "</n:PullResponse>";
        return TEndpointReply{200, envelope(responseAction, r.messageId, body)};
    };

    if (r.action == QString::fromUtf16(winrm::action::Enumerate)) {
        ++m_enumerates;
        const bool association = r.dialect == QString::fromUtf16(winrm::AssociationDialect);
        if (r.dialect != QString::fromUtf16(winrm::WqlDialect) && !association)
            return {500, simpleFault(r.messageId, "w:FilterDialectRequestedUnavailable", "Unknown filter dialect.")};
        const QString cls = association ? associationKey(r.assocClass, r.selector) : QueriedClass(r.filter).toLower();
        const auto it = m_classes.constFind(cls);
        if (it == m_classes.constEnd() || !it->fault.isEmpty()) {
            QByteArray fault = it == m_classes.constEnd() ? QByteArray() : it->fault;
            if (fault.isEmpty())
                return {500, simpleFault(r.messageId, "n:CannotProcessFilter", "The specified class does not exist.")};
            fault.replace("@RELATES_TO@", r.messageId.toUtf8());
            return {500, fault};
        }
        if (r.resourceUri != it->resourceUri)
            return {500, simpleFault(r.messageId, "w:InvalidSelectors", "The class is not in this namespace.")};
        const QString contextId = u"uuid:00000000-0000-4000-8000-%1"_s.arg(m_nextContext++, 12, 10, QLatin1Char('0'));
        m_contexts[contextId] = Open{cls, 0};
        return page(QString::fromUtf16(winrm::action::EnumerateResponse), contextId, true);
    }
    if (r.action == QString::fromUtf16(winrm::action::Pull)) {
        ++m_pulls;
        if (!m_contexts.contains(r.context))
            return {500, simpleFault(r.messageId, "n:InvalidEnumerationContext", "The enumeration context is not valid.")};
        return page(QString::fromUtf16(winrm::action::PullResponse), r.context, false);
    }
    if (r.action == QString::fromUtf16(winrm::action::Release)) {
        ++m_releases;
        m_contexts.remove(r.context);
        return {200, envelope(QString::fromUtf16(winrm::action::ReleaseResponse), r.messageId, {})};
    }
    m_problems << u"unknown action "_s + r.action;
    return {500, simpleFault(r.messageId, "a:ActionNotSupported", "The action is not supported.")};
}

int TRecordedWinRm::Enumerates() const
{
    std::lock_guard guard(m_lock);
    return m_enumerates;
}
int TRecordedWinRm::Pulls() const
{
    std::lock_guard guard(m_lock);
    return m_pulls;
}
int TRecordedWinRm::Releases() const
{
    std::lock_guard guard(m_lock);
    return m_releases;
}
QStringList TRecordedWinRm::Problems() const
{
    std::lock_guard guard(m_lock);
    return m_problems;
}

// ---------------------------------------------------------------------------

THostileWinRm::THostileWinRm(EMode mode, int size, TRecordedWinRm &normal)
    : m_mode(mode)
    , m_size(size)
    , m_normal(normal)
{
}

QByteArray THostileWinRm::items(const QString &className, int from, int count) const
{
    const QByteArray open = "<p:" + className.toUtf8() + " xmlns:p=\"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/"
                            + className.toUtf8() + "\">";
    const QByteArray close = "</p:" + className.toUtf8() + '>';
    QByteArray out;
    for (int i = from; i < from + count; ++i) {
        const QByteArray n = QByteArray::number(i);
        out += open;
        if (className == u"Win32_PhysicalMedia")
            out += "<p:SerialNumber>SN-" + n + "</p:SerialNumber><p:Tag>\\\\.\\PHYSICALDRIVE" + n + "</p:Tag>";
        else
            out += "<p:DeviceID>\\\\.\\PHYSICALDRIVE" + n + "</p:DeviceID><p:Model>HOSTILE DISK " + n
                   + "</p:Model><p:PNPDeviceID>SCSI\\DISK&amp;VEN_HOSTILE\\" + n + "</p:PNPDeviceID><p:Size>1000</p:Size>";
        out += close;
    }
    return out;
}

TEndpointReply THostileWinRm::Answer(const QByteArray &soap)
{
    const SoapRequest r = parseRequest(soap);
    const bool enumerate = r.action == QString::fromUtf16(winrm::action::Enumerate);
    const QString cls = enumerate ? QueriedClass(r.filter) : r.context.section(u'/', 1, 1);
    const bool abused = cls == u"Win32_DiskDrive" || (m_mode == EMode::ManyDrives && cls == u"Win32_PhysicalMedia");
    if (r.action == QString::fromUtf16(winrm::action::Release) && r.context.startsWith(u"hostile/")) {
        std::lock_guard guard(m_lock);
        ++m_releases;
        return {200, envelope(QString::fromUtf16(winrm::action::ReleaseResponse), r.messageId, {})};
    }
    if (!abused)
        return m_normal.Answer(soap);

    // Contexts of our own: "hostile/<class>/<next item>".
    const int next = enumerate ? 0 : r.context.section(u'/', 2, 2).toInt();
    if (!enumerate) {
        std::lock_guard guard(m_lock);
        ++m_pulls;
    }
    const int perPage = std::max(1, r.maxElements.toInt());
    QByteArray page;
    bool end = true;
    int after = next;
    switch (m_mode) {
    case EMode::DeepNesting:
        page = items(cls, 0, 1);
        page.insert(page.indexOf("</p:Model>"), QByteArray("<x>").repeated(m_size) + QByteArray("</x>").repeated(m_size));
        break;
    case EMode::Endless:
        page = items(cls, next, 1);
        after = next + 1;
        end = false;
        break;
    case EMode::ManyDrives:
        after = std::min(m_size, next + perPage);
        page = items(cls, next, after - next);
        end = after >= m_size;
        break;
    }
    const QByteArray itemsNs = enumerate ? "w" : "n";
    QByteArray body = enumerate ? "<n:EnumerateResponse>" : "<n:PullResponse>";
    if (!end)
        body += "<n:EnumerationContext>hostile/" + cls.toUtf8() + '/' + QByteArray::number(after) + "</n:EnumerationContext>";
    body += '<' + itemsNs + ":Items>" + page + "</" + itemsNs + ":Items>";
    if (end)
        body += '<' + itemsNs + ":EndOfSequence/>";
    body += enumerate ? "</n:EnumerateResponse>" : "</n:PullResponse>";
    const auto action = enumerate ? winrm::action::EnumerateResponse : winrm::action::PullResponse;
    return {200, envelope(QString::fromUtf16(action), r.messageId, body)};
}

int THostileWinRm::Pulls() const
{
    std::lock_guard guard(m_lock);
    return m_pulls;
}

int THostileWinRm::Releases() const
{
    std::lock_guard guard(m_lock);
    return m_releases;
}

} // namespace valmora::test
