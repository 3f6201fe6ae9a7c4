// The domain password in a real Secret Service: a session bus and a GNOME
// Keyring of the test's own, in a temporary home, torn down afterwards.
#include "TestSupport.h"

#include "foundation/Options.h"
#include "foundation/PasswordVault.h"
#include "foundation/RegistryHelper.h"
#include "foundation/TextFile.h"
#include "platform/SessionKeyring.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

// A bus that activates nothing, so no keyring of the machine's user can start on it.
constexpr char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

class PrivateKeyring
{
public:
    PrivateKeyring()
    {
        const QString dbus = QStandardPaths::findExecutable(u"dbus-daemon"_s);
        const QString keyring = QStandardPaths::findExecutable(u"gnome-keyring-daemon"_s);
        if (dbus.isEmpty() || keyring.isEmpty() || QStandardPaths::findExecutable(u"dbus-send"_s).isEmpty()) {
            m_unavailable = u"needs dbus-daemon, dbus-send and gnome-keyring-daemon (packages dbus-daemon, dbus-bin, "
                            "gnome-keyring)"_s;
            return;
        }
        const QString config = m_dir.path() + u"/bus.conf"_s;
        QDir().mkpath(m_dir.path() + u"/bus"_s);
        if (!WriteFileAtomically(config, QString::fromLatin1(kBusConfig).arg(m_dir.path() + u"/bus"_s).toUtf8())) {
            m_unavailable = u"cannot write the bus configuration"_s;
            return;
        }
        m_bus.start(dbus, {u"--config-file="_s + config, u"--nofork"_s, u"--print-address=1"_s});
        if (!m_bus.waitForReadyRead(10000)) {
            m_unavailable = u"the session bus did not start: "_s + QString::fromLocal8Bit(m_bus.readAllStandardError());
            return;
        }
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString home = m_dir.path() + u"/home"_s, runtime = m_dir.path() + u"/run"_s;
        QDir().mkpath(home);
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(u"HOME"_s, home);
        env.insert(u"XDG_DATA_HOME"_s, home + u"/.local/share"_s);
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_address);
        m_keyring.setProcessEnvironment(env);
        m_keyring.start(keyring, {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
        if (!m_keyring.waitForStarted(10000)) {
            m_unavailable = u"gnome-keyring-daemon did not start"_s;
            return;
        }
        // --unlock reads the new login keyring's password from stdin.
        m_keyring.write("test-keyring-password");
        m_keyring.waitForBytesWritten(5000); // no event loop runs here to send it later
        m_keyring.closeWriteChannel();
        // Ready once it owns the Secret Service's name on the bus; bounded to 20 s.
        bool ready = false;
        for (int i = 0; i < 200 && !ready && m_keyring.state() == QProcess::Running; ++i) {
            ready = ownsSecretService();
            if (!ready)
                QThread::msleep(100);
        }
        if (!ready) {
            m_unavailable = u"gnome-keyring-daemon did not take the Secret Service's name: "_s
                + QString::fromLocal8Bit(m_keyring.readAllStandardError());
            return;
        }
        m_previousAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    }
    ~PrivateKeyring()
    {
        StopKeyring();
        m_bus.terminate();
        if (!m_bus.waitForFinished(5000))
            m_bus.kill();
        m_bus.waitForFinished(5000);
        if (!m_address.isEmpty())
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_previousAddress);
    }
    PrivateKeyring(const PrivateKeyring &) = delete;
    PrivateKeyring &operator=(const PrivateKeyring &) = delete;

    QString Unavailable() const { return m_unavailable; }
    void StopKeyring()
    {
        if (m_keyring.state() == QProcess::NotRunning)
            return;
        m_keyring.terminate();
        if (!m_keyring.waitForFinished(5000))
            m_keyring.kill();
        m_keyring.waitForFinished(5000);
    }

private:
    bool ownsSecretService() const
    {
        QProcess ask;
        ask.start(u"dbus-send"_s, {u"--bus="_s + m_address, u"--print-reply"_s, u"--dest=org.freedesktop.DBus"_s,
                                   u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.NameHasOwner"_s,
                                   u"string:org.freedesktop.secrets"_s});
        return ask.waitForFinished(5000) && ask.readAllStandardOutput().contains("boolean true");
    }

    QTemporaryDir m_dir;
    QProcess m_bus, m_keyring;
    QString m_address, m_unavailable;
    QByteArray m_previousAddress;
};

// Installs a vault for one test and takes it away again.
struct InstalledVault
{
    explicit InstalledVault(std::shared_ptr<TPasswordVault> vault) { InstallPasswordVault(std::move(vault)); }
    ~InstalledVault() { InstallPasswordVault(nullptr); }
    InstalledVault(const InstalledVault &) = delete;
    InstalledVault &operator=(const InstalledVault &) = delete;
};

QString userStore()
{
    const auto bytes = ReadWholeFile(TRegistryStore::FileName(TRootKey::CurrentUser));
    return bytes ? DecodeText(*bytes) : QString();
}

} // namespace

TEST(SessionKeyring, NoSessionBusMeansNoVault)
{
    const QByteArray old = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    EXPECT_EQ(platform::CreateSessionKeyring(), nullptr);
    if (!old.isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", old);
}

TEST(SessionKeyring, DomainPasswordLivesInTheKeyringAndTheFileServesWithoutIt)
{
    PrivateKeyring keyring;
    if (!keyring.Unavailable().isEmpty())
        GTEST_SKIP() << keyring.Unavailable().toStdString();
    test::ScopedSandbox box;
    // A password an earlier version left in the file is still read.
    TRegistryHelper::WriteString(TOptions::KeyPath, u"UserP"_s, TRootKey::CurrentUser, u"from-the-file"_s);

    const auto vault = platform::CreateSessionKeyring();
    ASSERT_NE(vault, nullptr);
    const InstalledVault installed(vault);
    EXPECT_EQ(TOptions::ReadUserP(), u"from-the-file"_s) << "the keyring holds none yet";

    TOptions::WriteUserP(u"s3cret ż"_s);
    EXPECT_FALSE(userStore().contains(u"UserP"_s)) << userStore().toStdString();
    EXPECT_EQ(TOptions::ReadUserP(), u"s3cret ż"_s);
    // Really in the service: a vault of its own finds it too.
    EXPECT_EQ(platform::CreateSessionKeyring()->Read(u"UserP"_s), u"s3cret ż"_s);

    // With the service gone, writes fall back to the owner-only file.
    keyring.StopKeyring();
    TOptions::WriteUserP(u"second"_s);
    EXPECT_TRUE(userStore().contains(u"\"UserP\"=\"second\""_s)) << userStore().toStdString();
    EXPECT_EQ(TOptions::ReadUserP(), u"second"_s);
}
