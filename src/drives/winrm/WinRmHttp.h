#pragma once

// HTTP POSTs to one WinRM endpoint through libcurl, on one kept-alive
// connection, with bounded connect and transfer times. Transport failures
// (refused, unreachable, unknown host, time-out, TLS) raise EWmiError naming
// the endpoint.

#include "drives/winrm/WinRmProvider.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

namespace valmora::drives::winrm {

struct THttpResponse
{
    long status = 0;
    QByteArray contentType;
    QList<QByteArray> authenticate; // the WWW-Authenticate header values
    QByteArray body;
    bool newConnection = false;     // the exchange had to open a new connection
    qsizetype limit = 0;            // the most body bytes taken
    bool tooLong = false;
};

class TWinRmHttp
{
public:
    TWinRmHttp(const QString &host, const TWinRmOptions &options);
    ~TWinRmHttp();
    TWinRmHttp(const TWinRmHttp &) = delete;
    TWinRmHttp &operator=(const TWinRmHttp &) = delete;

    const QString &Url() const { return m_url; }
    // HTTPS only: raises over plain HTTP, where the password would travel in clear.
    void UseBasic(const QString &user, const QString &password);

    THttpResponse Post(const QByteArray &body, const QByteArray &contentType, const QByteArray &authorization = {});

    int Exchanges() const { return m_exchanges; }
    int Connections() const { return m_connections; }

private:
    // What a failed transfer of libcurl code means, naming host and port, and
    // for a refused certificate what the certificate names.
    QString failureText(int code) const;
    QString certificateText() const;

    void *m_curl = nullptr;
    QString m_host;
    QString m_url;
    std::array<char, 256> m_error{}; // libcurl's CURL_ERROR_SIZE
    TWinRmOptions m_options;
    QByteArray m_urlUtf8, m_caFile, m_user, m_password;
    int m_exchanges = 0;
    int m_connections = 0;
};

} // namespace valmora::drives::winrm
