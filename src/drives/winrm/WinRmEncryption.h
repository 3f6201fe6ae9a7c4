#pragma once

// The multipart/encrypted framing of WinRM's message-level encryption: the
// SOAP body is wrapped by the security context that authenticated the
// connection, and travels as a signature (token header) and sealed data,
// announced with the protocol of the authentication in use.

#include <QByteArray>
#include <QList>
#include <QString>

namespace valmora::drives::winrm {

inline constexpr char SpnegoProtocol[] = "application/HTTP-SPNEGO-session-encrypted";
inline constexpr char KerberosProtocol[] = "application/HTTP-Kerberos-session-encrypted";

// The HTTP authentication scheme that set up the security context. The scheme,
// not the mechanism negotiated underneath, names the protocol of the sealed
// bodies: "Negotiate" seals as SPNEGO for Kerberos and NTLM alike.
enum class EAuthScheme { Negotiate, Kerberos };

// "Negotiate" or "Kerberos", as the Authorization header names the scheme.
QByteArray SchemeName(EAuthScheme scheme);
// The protocol the bodies are sealed with after that scheme.
QByteArray SealingProtocol(EAuthScheme scheme);
// The protocols an answer may be announced with: the scheme's own, and after
// Negotiate with Kerberos underneath also the Kerberos label, which some
// services answer with; NTLM under Negotiate is SPNEGO only.
QList<QByteArray> AnswerProtocols(EAuthScheme scheme, bool kerberosMechanism);

// One wrapped message: the token header (signature) and the sealed data, and
// the length of the SOAP text before wrapping.
struct TEncryptedMessage
{
    QByteArray protocol;
    QByteArray header;
    QByteArray data;
    qsizetype originalLength = 0;
};

// The value of the HTTP Content-Type header for a body of that protocol.
QByteArray EncryptedContentType(const QByteArray &protocol);

QByteArray BuildEncryptedBody(const TEncryptedMessage &message);

// Splits an answer into its parts. Raises EWmiError when the content type is
// not multipart/encrypted of one of the accepted protocols or the framing is
// broken.
TEncryptedMessage ParseEncryptedBody(const QByteArray &contentType, const QByteArray &body,
                                     const QList<QByteArray> &acceptedProtocols);

} // namespace valmora::drives::winrm
