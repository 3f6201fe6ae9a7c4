#pragma once

// A self-signed certificate and key made by the test with the openssl program,
// for the HTTPS endpoints of the tests.

#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace valmora::test {

// Writes folder/<stem>.pem and folder/<stem>-key.pem for the DNS name; empty
// when done, else why not.
inline QString MakeSelfSignedCertificate(const QString &folder, const QString &stem, const QString &dnsName)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        return QStringLiteral("the openssl program is not installed");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(openssl, {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                      QStringLiteral("-nodes"), QStringLiteral("-keyout"), folder + u'/' + stem + QStringLiteral("-key.pem"),
                      QStringLiteral("-out"), folder + u'/' + stem + QStringLiteral(".pem"), QStringLiteral("-days"),
                      QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=") + dnsName,
                      QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:") + dnsName});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("no test certificate: ") + QString::fromLocal8Bit(p.readAll());
    return QString();
}

} // namespace valmora::test
