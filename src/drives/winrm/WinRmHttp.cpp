#include "WinRmHttp.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives::winrm {

namespace {

struct CurlGlobal
{
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

CURL *handle(void *p)
{
    return static_cast<CURL *>(p);
}

size_t onBody(char *data, size_t size, size_t count, void *user)
{
    auto *response = static_cast<THttpResponse *>(user);
    const auto n = static_cast<qsizetype>(size * count);
    if (response->body.size() + n > response->limit) {
        response->tooLong = true;
        return 0; // ends the transfer
    }
    response->body.append(data, n);
    return size * count;
}

size_t onHeader(char *data, size_t size, size_t count, void *user)
{
    auto *response = static_cast<THttpResponse *>(user);
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(size * count)).trimmed();
    // A new status line starts a new header block (after 100 Continue).
    if (line.startsWith("HTTP/")) {
        response->contentType.clear();
        response->authenticate.clear();
    }
    const qsizetype colon = line.indexOf(':');
    if (colon > 0) {
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-type")
            response->contentType = value;
        else if (name == "www-authenticate")
            response->authenticate.append(value);
    }
    return size * count;
}

struct SList
{
    curl_slist *list = nullptr;
    ~SList() { curl_slist_free_all(list); }
    void add(const QByteArray &line) { list = curl_slist_append(list, line.constData()); }
};

// "Subject: CN = other.example" → "other.example"; the whole value without a CN.
QString commonName(const QByteArray &value)
{
    const QString text = QString::fromUtf8(value).trimmed();
    for (const QString &part : text.split(u',')) {
        const QString p = part.trimmed();
        if (p.startsWith(u"CN"_s) && p.mid(2).trimmed().startsWith(u'='))
            return p.mid(p.indexOf(u'=') + 1).trimmed();
    }
    return text;
}

} // namespace

QString TWinRmHttp::certificateText() const
{
    // A second handshake without verification, only to see the certificate:
    // it sends nothing but the TLS greeting, never a request or a credential.
    CURL *probe = curl_easy_init();
    if (!probe)
        return QString();
    curl_easy_setopt(probe, CURLOPT_URL, m_urlUtf8.constData());
    curl_easy_setopt(probe, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(probe, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(probe, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(probe, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(probe, CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(probe, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(probe, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(probe, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_options.connectTimeoutMs));
    QString text;
    if (curl_easy_perform(probe) == CURLE_OK) {
        curl_certinfo *info = nullptr;
        if (curl_easy_getinfo(probe, CURLINFO_CERTINFO, &info) == CURLE_OK && info && info->num_of_certs > 0) {
            QByteArray subject, issuer, names;
            for (curl_slist *field = info->certinfo[0]; field; field = field->next) {
                const QByteArray line(field->data);
                const qsizetype colon = line.indexOf(':');
                const QByteArray key = line.left(colon);
                const QByteArray value = line.mid(colon + 1).trimmed();
                if (key == "Subject")
                    subject = value;
                else if (key == "Issuer")
                    issuer = value;
                else if (key == "X509v3 Subject Alternative Name")
                    names = value;
            }
            QStringList parts;
            parts << u"issued to %1"_s.arg(commonName(subject));
            if (!names.isEmpty())
                parts << u"names %1"_s.arg(QString::fromUtf8(names));
            if (subject == issuer)
                parts << u"self-signed"_s;
            else
                parts << u"issued by %1"_s.arg(commonName(issuer));
            text = parts.join(u", "_s);
        }
    }
    curl_easy_cleanup(probe);
    return text;
}

QString TWinRmHttp::failureText(int code) const
{
    const auto rc = static_cast<CURLcode>(code);
    CURL *c = handle(m_curl);
    const QString detail = QString::fromUtf8(m_error.data()).trimmed();
    const QString why = detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(rc)) : detail;
    const QString address = u"%1:%2"_s.arg(m_host).arg(m_options.Port());
    long osError = 0;
    curl_easy_getinfo(c, CURLINFO_OS_ERRNO, &osError);
    switch (rc) {
    case CURLE_COULDNT_CONNECT:
        if (osError == ECONNREFUSED)
            return u"connection refused by %1 (no WinRM listener on that port, or a firewall rejects it)"_s.arg(address);
        return u"%1 cannot be reached%2"_s.arg(address,
                                                 osError ? u": "_s + QString::fromLocal8Bit(std::strerror(int(osError)))
                                                         : QString());
    case CURLE_COULDNT_RESOLVE_HOST:
        return u"the host name %1 is unknown"_s.arg(m_host);
    case CURLE_OPERATION_TIMEDOUT: {
        double connected = 0;
        curl_easy_getinfo(c, CURLINFO_CONNECT_TIME, &connected);
        if (connected <= 0)
            return u"time-out after %1 s connecting to %2"_s.arg(m_options.connectTimeoutMs / 1000.0).arg(address);
        return u"time-out after %1 s waiting for the answer of %2"_s.arg(m_options.requestTimeoutMs / 1000.0).arg(m_url);
    }
    case CURLE_PEER_FAILED_VERIFICATION: {
        const QString certificate = certificateText();
        const QString what = detail.contains(u"subject name"_s) || detail.contains(u"host name"_s)
                                 ? u"does not name %1"_s.arg(m_host)
                                 : u"is not trusted"_s;
        return u"TLS certificate of %1 %2%3: %4"_s.arg(address, what,
                                                       certificate.isEmpty() ? QString() : u" ("_s + certificate + u')', why);
    }
    case CURLE_SSL_CONNECT_ERROR:
        return u"TLS handshake with %1 failed: %2"_s.arg(address, why);
    default:
        return u"WinRM request to %1 failed: %2"_s.arg(m_url, why);
    }
}

TWinRmHttp::TWinRmHttp(const QString &host, const TWinRmOptions &options)
    : m_options(options)
{
    static CurlGlobal global;
    QString h = host;
    if (h.contains(u':') && !h.startsWith(u'['))
        h = u'[' + h + u']';
    m_host = host;
    m_url = u"%1://%2:%3%4"_s.arg(options.https ? u"https"_s : u"http"_s, h).arg(options.Port()).arg(options.path);
    m_urlUtf8 = m_url.toUtf8();
    m_caFile = options.caFile.toLocal8Bit();
    m_curl = curl_easy_init();
    if (!m_curl)
        throw EWmiError(u"Cannot set up an HTTP connection to %1"_s.arg(m_url));
    CURL *c = handle(m_curl);
    curl_easy_setopt(c, CURLOPT_URL, m_urlUtf8.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_MAXCONNECTS, 1L);
    curl_easy_setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(options.requestTimeoutMs));
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Valmora WinRM client");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, m_error.data());
    if (options.https) {
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!m_caFile.isEmpty())
            curl_easy_setopt(c, CURLOPT_CAINFO, m_caFile.constData());
    }
}

TWinRmHttp::~TWinRmHttp()
{
    curl_easy_cleanup(handle(m_curl));
}

void TWinRmHttp::UseBasic(const QString &user, const QString &password)
{
    if (!m_options.https)
        throw EWmiError(u"Basic authentication to %1 refused: over plain HTTP it would send the password "
                        u"unencrypted; use HTTPS"_s.arg(m_url));
    m_user = user.toUtf8();
    m_password = password.toUtf8();
    CURL *c = handle(m_curl);
    curl_easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(c, CURLOPT_USERNAME, m_user.constData());
    curl_easy_setopt(c, CURLOPT_PASSWORD, m_password.constData());
}

THttpResponse TWinRmHttp::Post(const QByteArray &body, const QByteArray &contentType, const QByteArray &authorization)
{
    CURL *c = handle(m_curl);
    THttpResponse response;
    // An answer is at most one envelope of MaxEnvelopeSize; sealing adds little.
    response.limit = std::max<qsizetype>(2 * qsizetype(m_options.limits.maxEnvelopeSize), 1 << 20);
    SList headers;
    headers.add("Content-Type: " + contentType);
    headers.add("Expect:"); // no 100-continue round trip
    if (!authorization.isEmpty())
        headers.add("Authorization: " + authorization);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &response);

    const CURLcode rc = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    ++m_exchanges;
    long connects = 0;
    curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &connects);
    response.newConnection = connects > 0;
    m_connections += static_cast<int>(connects);
    if (response.tooLong)
        throw EWmiError(u"WinRM answer of %1 is longer than %2 bytes"_s.arg(m_url).arg(response.limit));
    if (rc != CURLE_OK)
        throw EWmiError(failureText(rc));
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

} // namespace valmora::drives::winrm
