#pragma once

// GSS-API security contexts for WinRM: the client's handshake with a password
// (Kerberos through MIT krb5, NTLM through gss-ntlmssp), and WinRM's wrapping
// of a message into signature and sealed data, used both ways.

#include "drives/winrm/WinRmEncryption.h"
#include "foundation/Exception.h"

#include <gssapi/gssapi.h>

#include <QByteArray>
#include <QString>

namespace valmora::drives::winrm {

enum class EGssMech { Kerberos, Ntlm };

gss_OID GssMechOid(EGssMech mech);

// The default realm of this machine's Kerberos configuration; empty when none.
QString KerberosDefaultRealm();

// The text of a GSS-API status pair.
QString GssStatusText(OM_uint32 major, OM_uint32 minor, gss_OID mech);

// Raised when the context cannot be started here. Rejected() is false when
// Kerberos cannot be used at all (no KDC for the realm, unknown service
// principal), so another mechanism may try; true for refused credentials.
class EGssLocalError final : public Exception
{
public:
    EGssLocalError(QString message, bool rejected)
        : Exception(std::move(message))
        , m_rejected(rejected)
    {
    }
    bool Rejected() const { return m_rejected; }

private:
    bool m_rejected;
};

// WinRM's message wrap: the token header travels as the signature. Kerberos
// wraps with separate header, data and padding buffers; NTLM's wrap token is
// the 16-byte signature followed by the sealed data. protocol: the label of
// the authentication scheme in use (SealingProtocol).
TEncryptedMessage WrapWinRm(gss_ctx_id_t context, EGssMech mech, const QByteArray &plain, const QByteArray &protocol);
// Raises EWmiError when the message does not unseal or its length differs
// from the announced one.
QByteArray UnwrapWinRm(gss_ctx_id_t context, EGssMech mech, const TEncryptedMessage &message);

class TGssClient
{
public:
    // principal: "name@REALM" for Kerberos, "DOMAIN\name" (or "name") for NTLM;
    // host: the computer, as the service principal HTTP@host.
    TGssClient(EGssMech mech, const QString &principal, const QString &password, const QString &host);
    ~TGssClient();
    TGssClient(const TGssClient &) = delete;
    TGssClient &operator=(const TGssClient &) = delete;

    // The next token to send, from the server's last one (empty at the start).
    QByteArray Step(const QByteArray &input);
    bool Complete() const { return m_complete; }
    EGssMech Mech() const { return m_mech; }
    gss_ctx_id_t Context() const { return m_context; }

    TEncryptedMessage Wrap(const QByteArray &plain, EAuthScheme scheme) const
    {
        return WrapWinRm(m_context, m_mech, plain, SealingProtocol(scheme));
    }
    QByteArray Unwrap(const TEncryptedMessage &m) const { return UnwrapWinRm(m_context, m_mech, m); }

private:
    EGssMech m_mech;
    gss_cred_id_t m_cred = GSS_C_NO_CREDENTIAL;
    gss_name_t m_target = GSS_C_NO_NAME;
    gss_ctx_id_t m_context = GSS_C_NO_CONTEXT;
    bool m_complete = false;
    int m_steps = 0;
};

} // namespace valmora::drives::winrm
