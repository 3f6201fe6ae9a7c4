#pragma once

// The real servers of the alert tests, started by the test on 127.0.0.1 and
// ended with it: an SMTP server (aiosmtpd, with STARTTLS and AUTH when asked),
// an HTTP server for the webhook, and a script for the command.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>

namespace valmora::test {

inline const QString kPython = QStringLiteral("/usr/bin/python3");

inline QString AlertPeerScript(const QString &name)
{
    return QStringLiteral(VALMORA_SOURCE_DIR "/tests/alerts/") + name;
}

// Why the SMTP peer cannot run here; empty when it can.
inline QString SmtpPeerUnavailable()
{
    QProcess p;
    p.start(kPython, {QStringLiteral("-c"), QStringLiteral("import aiosmtpd")});
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("needs /usr/bin/python3 with aiosmtpd (package python3-aiosmtpd)");
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        return QStringLiteral("needs the openssl program (package openssl)");
    return QString();
}

// A certificate for 127.0.0.1 and localhost: folder/cert.pem and folder/key.pem.
inline QString MakeLoopbackCertificate(const QString &folder)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"),
            {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
             QStringLiteral("-nodes"), QStringLiteral("-keyout"), folder + QStringLiteral("/key.pem"),
             QStringLiteral("-out"), folder + QStringLiteral("/cert.pem"), QStringLiteral("-days"), QStringLiteral("2"),
             QStringLiteral("-subj"), QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
             QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QStringLiteral("no test certificate: ") + QString::fromLocal8Bit(p.readAll());
    return QString();
}

// One Python server; it prints "PORT n" when it listens.
class TPythonPeer
{
public:
    TPythonPeer(const QString &script, const QStringList &arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(kPython, QStringList{AlertPeerScript(script)} + arguments);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000 && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(200);
            if (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("PORT "))
                    m_port = line.mid(5).toInt();
                break;
            }
        }
    }
    ~TPythonPeer() { Stop(); }
    TPythonPeer(const TPythonPeer &) = delete;
    TPythonPeer &operator=(const TPythonPeer &) = delete;

    // 0 when it did not start.
    int Port() const { return m_port; }
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
    int m_port = 0;
};

// The files a peer wrote, whole ones only, in no particular order.
inline QStringList ReceivedFiles(const QString &folder, const QString &pattern)
{
    QStringList files;
    for (const QString &name : QDir(folder).entryList({pattern}, QDir::Files))
        files << folder + QLatin1Char('/') + name;
    return files;
}

inline QString FileText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The command of the tests: writes its environment's VALMORA_ lines and its
// standard input to one file of the folder per run; exits with the code given.
inline QString WriteCommandScript(const QString &path, const QString &folder, int exitCode = 0, int sleepSeconds = 0)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(QStringLiteral("#!/bin/sh\n"
                           "n=%1/run-$$\n"
                           "{ env | grep '^VALMORA_' | sort; echo '--'; cat; } > \"$n.tmp\"\n"
                           "mv \"$n.tmp\" \"$n.txt\"\n"
                           "sleep %3\n"
                           "[ %2 -eq 0 ] || echo 'the pager refused the message' >&2\n"
                           "exit %2\n")
                .arg(folder)
                .arg(exitCode)
                .arg(sleepSeconds)
                .toUtf8());
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace valmora::test
