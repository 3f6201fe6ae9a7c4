// The WinRM session of this platform: libcurl carries the requests, GSS-API
// authenticates the connection and, over plain HTTP, seals every body.

#include "drives/winrm/WinRmGss.h"
#include "drives/winrm/WinRmHttp.h"
#include "drives/winrm/WinRmProvider.h"

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives::winrm {

namespace {

const QByteArray soapType = QByteArrayLiteral("application/soap+xml;charset=UTF-8");
constexpr int maxHandshakeLegs = 6;
// The scheme of every handshake; the sealed bodies follow it.
constexpr EAuthScheme scheme = EAuthScheme::Negotiate;

// The token of a challenge in the scheme of the handshake.
QByteArray challengeToken(const QList<QByteArray> &authenticate)
{
    for (const QByteArray &value : authenticate) {
        const QList<QByteArray> parts = value.trimmed().split(' ');
        if (parts.size() >= 2 && parts[0].compare(SchemeName(scheme), Qt::CaseInsensitive) == 0)
            return QByteArray::fromBase64(parts[1].trimmed());
    }
    return {};
}

class LinuxSession final : public TWinRmSession
{
public:
    LinuxSession(const QString &server, const QString &user, const QString &password, const TWinRmOptions &options)
        : m_server(server)
        , m_user(user)
        , m_password(password)
        , m_account(TAccountName::Parse(user))
        , m_options(options)
        , m_http(server, options)
    {
    }

    void Open() override
    {
        if (!m_ready)
            authenticate();
    }

    QString Endpoint() const override { return m_http.Url(); }

    TWinRmReply Exchange(const QByteArray &soap) override
    {
        Open();
        THttpResponse r = send(soap);
        // A renewed connection has lost its security context: log on again once.
        if (!m_basic && (r.status == 401 || (r.newConnection && r.status != 200 && r.status != 500))) {
            m_ready = false;
            authenticate();
            r = send(soap);
        }
        if (r.status == 401)
            throw denied();
        TWinRmReply reply{r.status, {}};
        if (r.body.isEmpty() || (r.status != 200 && r.status != 500))
            return reply;
        if (!m_encrypt) {
            reply.soap = r.body;
            return reply;
        }
        try {
            const TEncryptedMessage message = ParseEncryptedBody(
                r.contentType, r.body, AnswerProtocols(scheme, m_gss->Mech() == EGssMech::Kerberos));
            reply.soap = m_gss->Unwrap(message);
        } catch (const EWmiError &e) {
            throw EWmiError(u"Answer of %1 (HTTP %2) refused: %3"_s.arg(Endpoint()).arg(r.status).arg(e.message()));
        }
        return reply;
    }

private:
    EWmiError denied() const
    {
        return EWmiError(u"HTTP 401 from %1: user %2 was refused (wrong password, or the account may not log on "
                         u"there)"_s.arg(Endpoint(), m_user));
    }

    THttpResponse send(const QByteArray &soap)
    {
        if (!m_encrypt)
            return m_http.Post(soap, soapType);
        const TEncryptedMessage message = m_gss->Wrap(soap, scheme);
        return m_http.Post(BuildEncryptedBody(message), EncryptedContentType(message.protocol));
    }

    void authenticate()
    {
        m_gss.reset();
        if (m_user.trimmed().isEmpty())
            throw EWmiError(u"No user name for %1: a remote computer needs an account"_s.arg(Endpoint()));
        if (m_options.auth == EAuthMethod::Basic) {
            m_http.UseBasic(m_user, m_password); // refuses plain HTTP
            m_basic = true;
            m_encrypt = false;
            m_ready = true;
            return;
        }
        const QString principal = m_account.KerberosPrincipal(
            m_options.auth == EAuthMethod::Ntlm ? QString() : KerberosDefaultRealm());
        std::vector<EGssMech> mechs;
        switch (m_options.auth) {
        case EAuthMethod::Kerberos:
            if (principal.isEmpty())
                throw EWmiError(u"Kerberos needs a user name with a domain (\"DOMAIN\\name\" or \"name@REALM\"), "
                                u"not \"%1\""_s.arg(m_user));
            mechs = {EGssMech::Kerberos};
            break;
        case EAuthMethod::Ntlm:
            mechs = {EGssMech::Ntlm};
            break;
        default:
            // Kerberos needs a realm and a host name it can find a service principal for.
            if (!principal.isEmpty() && !IsAddress(m_server))
                mechs = {EGssMech::Kerberos, EGssMech::Ntlm};
            else
                mechs = {EGssMech::Ntlm};
        }
        QStringList failures;
        for (std::size_t i = 0; i < mechs.size(); ++i) {
            try {
                m_gss = std::make_unique<TGssClient>(mechs[i],
                                                     mechs[i] == EGssMech::Kerberos ? principal : m_account.NtlmName(),
                                                     m_password, m_server);
                handshake();
                m_encrypt = !m_options.https; // TLS protects the bodies over HTTPS
                m_ready = true;
                return;
            } catch (const EGssLocalError &e) {
                m_gss.reset();
                failures << e.message();
                if (e.Rejected() || i + 1 == mechs.size())
                    throw EWmiError(u"Cannot log on to %1: %2"_s.arg(Endpoint(), failures.join(u"; "_s)));
            } catch (const EWmiError &e) {
                m_gss.reset();
                // Say why the first mechanism was not used beside why the next one failed.
                if (failures.isEmpty())
                    throw;
                throw EWmiError(u"%1; %2 was tried next: %3"_s.arg(failures.join(u"; "_s),
                                                                   mechs[i] == EGssMech::Ntlm ? u"NTLM"_s : u"Kerberos"_s,
                                                                   e.message()));
            } catch (...) {
                m_gss.reset();
                throw;
            }
        }
    }

    void handshake()
    {
        QByteArray token = m_gss->Step({});
        for (int leg = 0; leg < maxHandshakeLegs; ++leg) {
            const THttpResponse r = m_http.Post({}, soapType, SchemeName(scheme) + ' ' + token.toBase64());
            if (leg > 0 && r.newConnection)
                throw EWmiError(u"%1 renewed the connection during the authentication"_s.arg(Endpoint()));
            const QByteArray answer = challengeToken(r.authenticate);
            if (r.status == 401) {
                if (answer.isEmpty() || m_gss->Complete())
                    throw denied();
                token = m_gss->Step(answer);
                if (token.isEmpty())
                    throw EWmiError(u"Authentication with %1 failed: nothing left to send"_s.arg(Endpoint()));
                continue;
            }
            if (!answer.isEmpty() && !m_gss->Complete())
                m_gss->Step(answer);
            if (!m_gss->Complete())
                throw EWmiError(u"%1 ended the authentication before the security context was complete (HTTP %2)"_s
                                    .arg(Endpoint())
                                    .arg(r.status));
            return;
        }
        throw EWmiError(u"Authentication with %1 does not come to an end"_s.arg(Endpoint()));
    }

    QString m_server, m_user, m_password;
    TAccountName m_account;
    TWinRmOptions m_options;
    TWinRmHttp m_http;
    std::unique_ptr<TGssClient> m_gss;
    bool m_ready = false;
    bool m_basic = false;
    bool m_encrypt = true;
};

} // namespace

std::unique_ptr<TWinRmSession> CreateWinRmSession(const QString &server, const QString &user, const QString &password,
                                                  const TWinRmOptions &options)
{
    return std::make_unique<LinuxSession>(server, user, password, options);
}

} // namespace valmora::drives::winrm
