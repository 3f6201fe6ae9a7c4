// E-mail and webhook, both through libcurl.
#include "AlertChannels.h"

#include <QJsonDocument>
#include <QLocale>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace valmora::alerts {

namespace {

struct CurlGlobal
{
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

void initCurl()
{
    static CurlGlobal global;
}

struct Easy
{
    CURL *handle = curl_easy_init();
    curl_slist *list = nullptr;
    char error[CURL_ERROR_SIZE] = {};
    ~Easy()
    {
        curl_slist_free_all(list);
        if (handle)
            curl_easy_cleanup(handle);
    }
    Easy(const Easy &) = delete;
    Easy &operator=(const Easy &) = delete;
    Easy() = default;
};

// Reads the upload from a byte array.
struct Upload
{
    QByteArray data;
    qsizetype offset = 0;
};

size_t readUpload(char *buffer, size_t size, size_t count, void *user)
{
    auto *upload = static_cast<Upload *>(user);
    const auto n = std::min<qsizetype>(static_cast<qsizetype>(size * count), upload->data.size() - upload->offset);
    std::memcpy(buffer, upload->data.constData() + upload->offset, static_cast<size_t>(n));
    upload->offset += n;
    return static_cast<size_t>(n);
}

// Keeps the start of an answer's body, for the error text.
size_t keepBody(char *data, size_t size, size_t count, void *user)
{
    auto *body = static_cast<QByteArray *>(user);
    const size_t n = size * count;
    if (body->size() < 4096)
        body->append(data, static_cast<qsizetype>(std::min<size_t>(n, 4096)));
    return n;
}

// Keeps the server's last refusal (a 4xx or 5xx reply line); lines the
// client sends, which hold the credentials, are never looked at.
int keepReply(CURL *, curl_infotype type, char *data, size_t size, void *user)
{
    if (type != CURLINFO_HEADER_IN)
        return 0;
    const QString line = QString::fromUtf8(data, static_cast<qsizetype>(size)).trimmed();
    if (line.startsWith(u'4') || line.startsWith(u'5'))
        *static_cast<QString *>(user) = line.left(300);
    return 0;
}

QString curlError(CURLcode code, const char *buffer)
{
    const QString detail = QString::fromUtf8(buffer).trimmed();
    return detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : detail;
}

// An RFC 2047 encoded word where the text is not plain ASCII.
QByteArray headerText(const QString &text)
{
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
    if (ascii)
        return text.toLatin1();
    QByteArray out;
    for (qsizetype i = 0; i < text.size();) {
        qsizetype n = std::min<qsizetype>(15, text.size() - i);
        if (i + n < text.size() && text.at(i + n - 1).isHighSurrogate())
            --n;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + text.mid(i, n).toUtf8().toBase64() + "?=";
        i += n;
    }
    return out;
}

QString smtpDate(const QDateTime &date)
{
    const QDateTime local = date.toLocalTime();
    const int offset = local.offsetFromUtc() / 60;
    return QLocale::c().toString(local, u"ddd, dd MMM yyyy HH:mm:ss "_s)
        + u"%1%2%3"_s.arg(offset < 0 ? u'-' : u'+').arg(std::abs(offset) / 60, 2, 10, QChar(u'0')).arg(std::abs(offset) % 60, 2, 10, QChar(u'0'));
}

class TSmtpChannel final : public TAlertChannel
{
public:
    explicit TSmtpChannel(TSmtpSettings settings)
        : m_settings(std::move(settings))
    {
    }
    QString Name() const override { return u"e-mail"_s; }

    bool Send(const TAlert &alert, QString &error) override
    {
        initCurl();
        const QString where = SafeUrl(m_settings.Url);
        Easy easy;
        if (!easy.handle) {
            error = u"e-mail through %1: libcurl cannot start"_s.arg(where);
            return false;
        }
        CURL *c = easy.handle;
        const QByteArray url = m_settings.Url.toUtf8();
        const QByteArray from = '<' + m_settings.From.toUtf8() + '>';
        for (const QString &to : m_settings.To)
        {
            const QByteArray recipient = '<' + to.toUtf8() + '>';
            easy.list = curl_slist_append(easy.list, recipient.constData());
        }
        Upload upload{MailMessage(alert, m_settings.From, m_settings.To, QDateTime::currentDateTime()), 0};
        const QByteArray user = m_settings.User.toUtf8(), password = m_settings.Password.toUtf8();
        const QByteArray caFile = m_settings.CaFile.toLocal8Bit();
        QString reply;
        curl_easy_setopt(c, CURLOPT_URL, url.constData());
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_PROXY, "");
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, easy.error);
        curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
        curl_easy_setopt(c, CURLOPT_MAIL_RCPT, easy.list);
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_READFUNCTION, &readUpload);
        curl_easy_setopt(c, CURLOPT_READDATA, &upload);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(upload.data.size()));
        // STARTTLS is required unless the settings say otherwise, and even then
        // taken whenever the server offers it.
        const bool tls = m_settings.RequireStartTls || m_settings.Url.startsWith(u"smtps:"_s, Qt::CaseInsensitive);
        curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(tls ? CURLUSESSL_ALL : CURLUSESSL_TRY));
        if (!user.isEmpty()) {
            curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
            curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
        }
        if (!caFile.isEmpty())
            curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData());
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
        curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(std::max(1, m_settings.TimeoutSeconds)));
        curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &keepReply);
        curl_easy_setopt(c, CURLOPT_DEBUGDATA, &reply);
        curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
        const CURLcode code = curl_easy_perform(c);
        if (code == CURLE_OK)
            return true;
        long response = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response);
        error = u"e-mail through %1 failed: %2"_s.arg(where, curlError(code, easy.error));
        if (!reply.isEmpty())
            error += u" (the server said \"%1\")"_s.arg(reply);
        return false;
    }

private:
    TSmtpSettings m_settings;
};

class TWebhookChannel final : public TAlertChannel
{
public:
    explicit TWebhookChannel(TWebhookSettings settings)
        : m_settings(std::move(settings))
    {
    }
    QString Name() const override { return u"webhook"_s; }

    bool Send(const TAlert &alert, QString &error) override
    {
        initCurl();
        const QString where = SafeUrl(m_settings.Url);
        Easy easy;
        if (!easy.handle) {
            error = u"webhook %1: libcurl cannot start"_s.arg(where);
            return false;
        }
        CURL *c = easy.handle;
        const QByteArray url = m_settings.Url.toUtf8();
        const QByteArray body = QJsonDocument(alert.ToJson()).toJson(QJsonDocument::Compact);
        const QByteArray caFile = m_settings.CaFile.toLocal8Bit();
        QByteArray answer;
        easy.list = curl_slist_append(easy.list, "Content-Type: application/json; charset=utf-8");
        curl_easy_setopt(c, CURLOPT_URL, url.constData());
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_NOPROXY, "127.0.0.0/8,localhost,::1");
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, easy.error);
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, easy.list);
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.constData());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &keepBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
        if (!caFile.isEmpty())
            curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData());
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
        curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(std::max(1, m_settings.TimeoutSeconds)));
        const CURLcode code = curl_easy_perform(c);
        if (code != CURLE_OK) {
            error = u"webhook %1 failed: %2"_s.arg(where, curlError(code, easy.error));
            return false;
        }
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 200 && status < 300)
            return true;
        error = u"webhook %1 answered HTTP %2"_s.arg(where).arg(status);
        const QString text = QString::fromUtf8(answer).simplified().left(200);
        if (!text.isEmpty())
            error += u": "_s + text;
        return false;
    }

private:
    TWebhookSettings m_settings;
};

class TDesktopChannel final : public TAlertChannel
{
public:
    explicit TDesktopChannel(std::function<void(const TAlert &)> show)
        : m_show(std::move(show))
    {
    }
    QString Name() const override { return u"desktop"_s; }
    bool Send(const TAlert &alert, QString &) override
    {
        m_show(alert);
        return true;
    }

private:
    std::function<void(const TAlert &)> m_show;
};

} // namespace

QString SafeUrl(const QString &url)
{
    const QUrl u(url);
    if (!u.isValid() || u.host().isEmpty())
        return u"\"%1\""_s.arg(u.scheme().isEmpty() ? u"(no URL)"_s : u.scheme() + u"://..."_s);
    QString text = u.scheme() + u"://"_s + (u.host().contains(u':') ? u'[' + u.host() + u']' : u.host());
    if (u.port() >= 0)
        text += u':' + QString::number(u.port());
    return text;
}

QByteArray MailMessage(const TAlert &alert, const QString &fromAddress, const QStringList &toAddresses,
                       const QDateTime &date)
{
    // Addresses go into header lines: a line break in one would start a header of its own.
    const auto oneLine = [](QString text) { return text.remove(u'\r').remove(u'\n'); };
    const QString from = oneLine(fromAddress);
    QStringList to;
    for (const QString &address : toAddresses)
        to << oneLine(address);
    QByteArray domain = from.section(u'@', 1).toUtf8();
    if (domain.isEmpty())
        domain = "valmora.invalid";
    QByteArray m;
    m += "Date: " + smtpDate(date).toLatin1() + "\r\n";
    m += "From: Valmora <" + from.toUtf8() + ">\r\n";
    m += "To: " + to.join(u", "_s).toUtf8() + "\r\n";
    m += "Message-ID: <" + alert.Id.toLatin1() + '.' + QUuid::createUuid().toString(QUuid::Id128).toLatin1() + '@'
         + domain + ">\r\n";
    m += "Subject: " + headerText(alert.Subject()) + "\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "Content-Type: text/plain; charset=utf-8\r\n";
    m += "Content-Transfer-Encoding: 8bit\r\n";
    m += "\r\n";
    QByteArray body = alert.Body().toUtf8();
    body.replace("\r\n", "\n").replace('\r', '\n').replace("\n", "\r\n");
    m += body;
    return m;
}

std::unique_ptr<TAlertChannel> CreateSmtpChannel(TSmtpSettings settings)
{
    return std::make_unique<TSmtpChannel>(std::move(settings));
}

std::unique_ptr<TAlertChannel> CreateWebhookChannel(TWebhookSettings settings)
{
    return std::make_unique<TWebhookChannel>(std::move(settings));
}

std::unique_ptr<TAlertChannel> CreateDesktopChannel(std::function<void(const TAlert &)> show)
{
    return std::make_unique<TDesktopChannel>(std::move(show));
}

} // namespace valmora::alerts
