#include "WinRmEncryption.h"

#include "drives/Wmi.h"

#include <QList>

#include <algorithm>
#include <QtEndian>

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives::winrm {

namespace {

const QByteArray defaultBoundary = QByteArrayLiteral("Encrypted Boundary");

EWmiError broken(const char *what)
{
    return EWmiError(u"Broken encrypted WinRM message: %1"_s.arg(QString::fromLatin1(what)));
}

// The value of parameter name in a header such as `type/sub;a="x";b=y`.
QByteArray parameter(const QByteArray &header, const QByteArray &name)
{
    const QList<QByteArray> parts = header.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray part = parts[i].trimmed();
        const qsizetype eq = part.indexOf('=');
        if (eq < 0 || part.left(eq).trimmed().compare(name, Qt::CaseInsensitive) != 0)
            continue;
        QByteArray value = part.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

} // namespace

QByteArray SchemeName(EAuthScheme scheme)
{
    return scheme == EAuthScheme::Kerberos ? QByteArrayLiteral("Kerberos") : QByteArrayLiteral("Negotiate");
}

QByteArray SealingProtocol(EAuthScheme scheme)
{
    return scheme == EAuthScheme::Kerberos ? QByteArray(KerberosProtocol) : QByteArray(SpnegoProtocol);
}

QList<QByteArray> AnswerProtocols(EAuthScheme scheme, bool kerberosMechanism)
{
    if (scheme == EAuthScheme::Negotiate && kerberosMechanism)
        return {SpnegoProtocol, KerberosProtocol};
    return {SealingProtocol(scheme)};
}

QByteArray EncryptedContentType(const QByteArray &protocol)
{
    return "multipart/encrypted;protocol=\"" + protocol + "\";boundary=\"" + defaultBoundary + '"';
}

QByteArray BuildEncryptedBody(const TEncryptedMessage &message)
{
    const QByteArray dash = "--" + defaultBoundary;
    QByteArray out;
    out.reserve(message.header.size() + message.data.size() + 256);
    out += dash + "\r\n";
    out += "\tContent-Type: " + message.protocol + "\r\n";
    out += "\tOriginalContent: type=application/soap+xml;charset=UTF-8;Length="
           + QByteArray::number(message.originalLength) + "\r\n";
    out += dash + "\r\n";
    out += "\tContent-Type: application/octet-stream\r\n";
    char length[4];
    qToLittleEndian<quint32>(static_cast<quint32>(message.header.size()), length);
    out.append(length, 4);
    out += message.header;
    out += message.data;
    out += dash + "--\r\n";
    return out;
}

TEncryptedMessage ParseEncryptedBody(const QByteArray &contentType, const QByteArray &body,
                                     const QList<QByteArray> &acceptedProtocols)
{
    const QByteArray type = contentType.split(';').front().trimmed();
    if (type.compare("multipart/encrypted", Qt::CaseInsensitive) != 0)
        throw EWmiError(u"WinRM answer is not encrypted (content type \"%1\")"_s.arg(QString::fromLatin1(contentType)));
    TEncryptedMessage m;
    m.protocol = parameter(contentType, "protocol");
    const bool accepted = std::any_of(acceptedProtocols.begin(), acceptedProtocols.end(), [&](const QByteArray &p) {
        return m.protocol.compare(p, Qt::CaseInsensitive) == 0;
    });
    if (!accepted)
        throw EWmiError(u"WinRM answer is encrypted with \"%1\", expected \"%2\""_s.arg(
            QString::fromLatin1(m.protocol), QString::fromLatin1(acceptedProtocols.join("\" or \""))));
    QByteArray boundary = parameter(contentType, "boundary");
    if (boundary.isEmpty())
        boundary = defaultBoundary;
    const QByteArray dash = "--" + boundary;

    // First part: the description with the original length.
    if (!body.startsWith(dash))
        throw broken("no leading boundary");
    const qsizetype second = body.indexOf(dash, dash.size());
    if (second < 0)
        throw broken("no second part");
    const QByteArray description = body.mid(dash.size(), second - dash.size());
    const qsizetype lengthAt = description.indexOf("Length=");
    if (lengthAt < 0)
        throw broken("no original length");
    qsizetype end = lengthAt + 7;
    while (end < description.size() && description[end] >= '0' && description[end] <= '9')
        ++end;
    bool ok = false;
    m.originalLength = description.mid(lengthAt + 7, end - lengthAt - 7).toLongLong(&ok);
    if (!ok || m.originalLength < 0)
        throw broken("bad original length");

    // Second part: the octet stream up to the closing boundary.
    const QByteArray octets = "application/octet-stream\r\n";
    const qsizetype streamAt = body.indexOf(octets, second);
    if (streamAt < 0)
        throw broken("no octet stream");
    const qsizetype payloadAt = streamAt + octets.size();
    const qsizetype closing = body.lastIndexOf(QByteArray(dash + "--"));
    if (closing < payloadAt + 4)
        throw broken("no closing boundary");
    const QByteArray payload = body.mid(payloadAt, closing - payloadAt);
    const quint32 headerLength = qFromLittleEndian<quint32>(payload.constData());
    if (headerLength > static_cast<quint32>(payload.size() - 4))
        throw broken("signature longer than the message");
    m.header = payload.mid(4, headerLength);
    m.data = payload.mid(4 + headerLength);
    return m;
}

} // namespace valmora::drives::winrm
