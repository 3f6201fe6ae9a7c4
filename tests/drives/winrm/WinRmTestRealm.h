#pragma once

// A temporary Kerberos realm with a real MIT KDC on 127.0.0.1, and an NTLM
// user file for gss-ntlmssp, for the authentication tests. Both point this
// process's GSS-API at them through the environment.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace valmora::test {

inline constexpr char TestRealm[] = "KERBEROS.VALMORA.TEST";
inline constexpr char KerberosUser[] = "alice";
inline constexpr char KerberosPassword[] = "Alice-Secret-1";
inline constexpr char NtlmDomain[] = "VALMORA";
inline constexpr char NtlmUser[] = "bob";
inline constexpr char NtlmPassword[] = "Bob-Secret-2";

inline bool NtlmMechanismInstalled()
{
    return QFile::exists(QStringLiteral("/etc/gss/mech.d/mech.ntlmssp.conf"))
           || QFile::exists(QStringLiteral("/etc/gss/mech"));
}

// gss-ntlmssp checks the acceptor's users against this file.
inline void WriteNtlmUserFile(const QString &folder)
{
    const QString path = folder + QStringLiteral("/ntlm_users");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(QByteArray(NtlmDomain) + ':' + NtlmUser + ':' + NtlmPassword + '\n');
    qputenv("NTLM_USER_FILE", path.toLocal8Bit());
}

class TTestRealm
{
public:
    ~TTestRealm()
    {
        if (m_kdc) {
            m_kdc->terminate();
            if (!m_kdc->waitForFinished(3000))
                m_kdc->kill();
            m_kdc->waitForFinished(3000);
        }
    }

    // Starts the KDC; false with a reason when this machine cannot run one.
    bool Start(QString &why)
    {
        const QString kdb5 = QStandardPaths::findExecutable(QStringLiteral("kdb5_util"), {QStringLiteral("/usr/sbin")});
        const QString kadmin = QStandardPaths::findExecutable(QStringLiteral("kadmin.local"), {QStringLiteral("/usr/sbin")});
        const QString krb5kdc = QStandardPaths::findExecutable(QStringLiteral("krb5kdc"), {QStringLiteral("/usr/sbin")});
        if (kdb5.isEmpty() || kadmin.isEmpty() || krb5kdc.isEmpty()) {
            why = QStringLiteral("the MIT KDC (Debian krb5-kdc, krb5-admin-server) is not installed");
            return false;
        }
        if (!m_dir.isValid()) {
            why = QStringLiteral("no temporary folder");
            return false;
        }
        const QString d = m_dir.path();
        writeConfiguration(freePort());
        qputenv("KRB5_CONFIG", (d + QStringLiteral("/krb5.conf")).toLocal8Bit());
        qputenv("KRB5_KDC_PROFILE", (d + QStringLiteral("/kdc.conf")).toLocal8Bit());
        qputenv("KRB5_KTNAME", (d + QStringLiteral("/http.keytab")).toLocal8Bit());
        qputenv("KRB5CCNAME", QByteArray("MEMORY:valmora-tests"));

        const QByteArray realm(TestRealm);
        if (!run(kdb5, {QStringLiteral("create"), QStringLiteral("-s"), QStringLiteral("-r"), QString::fromLatin1(realm),
                        QStringLiteral("-P"), QStringLiteral("master-key-of-tests")},
                 why))
            return false;
        for (const QString &q : {QStringLiteral("addprinc -pw %1 %2").arg(QLatin1StringView(KerberosPassword), QLatin1StringView(KerberosUser)),
                                 QStringLiteral("addprinc -randkey HTTP/localhost"),
                                 QStringLiteral("ktadd -k %1/http.keytab HTTP/localhost").arg(d)}) {
            if (!run(kadmin, {QStringLiteral("-r"), QString::fromLatin1(realm), QStringLiteral("-q"), q}, why))
                return false;
        }
        // The port was free when it was picked, but another process may take it
        // before the KDC binds it: then try another one.
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (attempt > 0)
                writeConfiguration(freePort());
            m_kdc = std::make_unique<QProcess>();
            m_kdc->setProcessChannelMode(QProcess::MergedChannels);
            m_kdc->start(krb5kdc, {QStringLiteral("-n"), QStringLiteral("-r"), QString::fromLatin1(realm)});
            if (!m_kdc->waitForStarted(5000)) {
                why = QStringLiteral("krb5kdc does not start");
                return false;
            }
            for (int i = 0; i < 100 && m_kdc->state() == QProcess::Running; ++i) {
                // Listening is not enough: another process may hold the port,
                // and then our KDC ends with a bind error.
                if (listening(m_port) && !m_kdc->waitForFinished(200))
                    return true;
                QThread::msleep(50);
            }
            why = QStringLiteral("krb5kdc does not listen: ") + QString::fromLocal8Bit(m_kdc->readAll());
            m_kdc->kill();
            m_kdc->waitForFinished(3000);
            m_kdc.reset();
        }
        return false;
    }

    QString Folder() const { return m_dir.path(); }

private:
    void writeConfiguration(int port)
    {
        m_port = port;
        const QString d = m_dir.path();
        const QByteArray realm(TestRealm);
        write(d + QStringLiteral("/krb5.conf"),
              "[libdefaults]\n default_realm = " + realm
                  + "\n dns_lookup_kdc = false\n dns_lookup_realm = false\n dns_canonicalize_hostname = false\n"
                    " rdns = false\n udp_preference_limit = 1\n max_retries = 1\n"
                    "[realms]\n "
                  + realm + " = {\n  kdc = 127.0.0.1:" + QByteArray::number(port)
                  + "\n }\n[domain_realm]\n localhost = " + realm + "\n");
        write(d + QStringLiteral("/kdc.conf"),
              "[kdcdefaults]\n kdc_ports = " + QByteArray::number(port) + "\n kdc_tcp_ports = "
                  + QByteArray::number(port) + "\n[realms]\n " + realm + " = {\n  database_name = " + d.toUtf8()
                  + "/principal\n  key_stash_file = " + d.toUtf8() + "/stash\n  acl_file = " + d.toUtf8()
                  + "/kadm5.acl\n  supported_enctypes = aes256-cts-hmac-sha1-96:normal aes128-cts-hmac-sha1-96:normal\n"
                    " }\n[logging]\n kdc = FILE:"
                  + d.toUtf8() + "/kdc.log\n");
        write(d + QStringLiteral("/kadm5.acl"), "");
    }

    static void write(const QString &path, const QByteArray &text)
    {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }

    static bool run(const QString &program, const QStringList &args, QString &why)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            why = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAll());
            return false;
        }
        return true;
    }

    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
        ::close(fd);
        return ntohs(addr.sin_port);
    }

    static bool listening(int port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_kdc;
    int m_port = 0;
};

} // namespace valmora::test
