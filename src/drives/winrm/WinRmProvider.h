#pragma once

// The management instrumentation of a remote Windows computer, reached over
// WS-Management (WinRM) at http://HOST:5985/wsman or https://HOST:5986/wsman.
// Each query is an Enumerate with a WQL filter followed by Pulls until the end
// of the sequence; an abandoned walk is Released. All locators of one provider
// share one authenticated connection per computer, so the four stages of a
// reading cost one handshake.

#include "drives/Wmi.h"
#include "drives/winrm/WsManMessages.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace valmora::drives::winrm {

enum class EAuthMethod {
    Auto,      // Kerberos where the user has a domain and the host a name, else NTLM
    Kerberos,
    Ntlm,
    Basic,     // HTTPS only: the password would otherwise travel in clear
};

// Bounds of one query, so that a service whose sequence never ends fails the
// stage with a reason instead of holding the reader and its memory.
struct TEnumerationLimits
{
    int maxItems = 65536;      // instances of one query
    int maxPulls = 4096;       // Pull requests of one query
    int maxQueryMs = 120000;   // one query, from its Enumerate to the end of its sequence
};

struct TWinRmOptions
{
    bool https = false;
    int port = 0;                     // 0: 5985 for HTTP, 5986 for HTTPS
    QString path = QStringLiteral("/wsman");
    // HTTPS: a PEM file of the certificate authorities to trust instead of the
    // system's; certificates and host names are always verified.
    QString caFile;
    EAuthMethod auth = EAuthMethod::Auto;
    int connectTimeoutMs = 5000;      // TCP (and TLS) connection set-up
    int requestTimeoutMs = 30000;     // one HTTP exchange from start to last byte
    winrm::TRequestLimits limits;     // OperationTimeout (20 s), MaxEnvelopeSize, MaxElements
    TEnumerationLimits enumeration;   // items, Pulls and time of one query

    int Port() const { return port > 0 ? port : (https ? 5986 : 5985); }
};

// The parts of a user name as the settings hold it: "DOMAIN\name",
// "name@REALM" or a plain local "name".
struct TAccountName
{
    QString name;
    QString domain;   // the domain or realm, empty for a local name
    bool upn = false; // written as name@REALM

    static TAccountName Parse(const QString &user);
    // "name@DOMAIN" with the realm in capitals; empty when there is no domain.
    // A short (NetBIOS) domain that is the first label of the machine's
    // default realm stands for that realm: "CORP\\name" is name@CORP.EXAMPLE.COM.
    QString KerberosPrincipal(const QString &defaultRealm = {}) const;
    // The form NTLM is given: "DOMAIN\name", "name@domain" or "name".
    QString NtlmName() const;
};

// Whether a host is written as an IPv4 or IPv6 address (Kerberos needs a name).
bool IsAddress(const QString &host);

struct TWinRmReply
{
    long status = 0;       // HTTP status
    QByteArray soap;       // the answer envelope, decrypted
};

// One authenticated conversation with one computer; requests strictly one
// after the other. Open and Exchange raise EWmiError.
class TWinRmSession
{
public:
    virtual ~TWinRmSession() = default;
    virtual void Open() = 0;
    virtual TWinRmReply Exchange(const QByteArray &soap) = 0;
    virtual QString Endpoint() const = 0;
};

using TWinRmSessionFactory = std::function<std::unique_ptr<TWinRmSession>(
    const QString &server, const QString &user, const QString &password, const TWinRmOptions &options)>;

class TWinRmProvider final : public TWmiProvider
{
public:
    TWinRmProvider(TWinRmOptions options, TWinRmSessionFactory factory);
    ~TWinRmProvider() override;

    std::unique_ptr<TWmiLocator> CreateLocator() override;

    // The session for that computer and account, kept while they stay the same.
    std::shared_ptr<TWinRmSession> Session(const QString &server, const QString &user, const QString &password);
    const TWinRmOptions &Options() const { return m_options; }

private:
    TWinRmOptions m_options;
    TWinRmSessionFactory m_factory;
    QString m_server, m_user, m_password;
    std::shared_ptr<TWinRmSession> m_session;
};

// The session of this platform: libcurl as transport, GSS-API for Kerberos
// and NTLM with WinRM's message encryption over HTTP, Basic over HTTPS.
std::unique_ptr<TWinRmSession> CreateWinRmSession(const QString &server, const QString &user,
                                                  const QString &password, const TWinRmOptions &options);

} // namespace valmora::drives::winrm
