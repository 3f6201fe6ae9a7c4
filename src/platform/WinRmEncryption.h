#pragma once

// The multipart/encrypted framing of WinRM's message-level encryption: the
// SOAP body is wrapped by the security context that authenticated the
// connection, and travels as a signature (token header) and sealed data,
// announced with the protocol of the authentication in use.

#include <QByteArray>
#include <QString>

namespace valmora::wmi::winrm {

inline constexpr char SpnegoProtocol[] = "application/HTTP-SPNEGO-session-encrypted";
inline constexpr char KerberosProtocol[] = "application/HTTP-Kerberos-session-encrypted";

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
// not multipart/encrypted of the expected protocol or the framing is broken.
TEncryptedMessage ParseEncryptedBody(const QByteArray &contentType, const QByteArray &body,
                                     const QByteArray &expectedProtocol);

} // namespace valmora::wmi::winrm
