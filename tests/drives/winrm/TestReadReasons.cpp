// Why a remote reading failed, as the reader tells it: every failure the
// network or the computer can give names its cause and what it concerns, the
// result code stays the one of the stage that stopped, and no reason carries
// the password.

#include "TestCertificate.h"
#include "TestSupport.h"
#include "WinRmTestEndpoint.h"
#include "WinRmTestRealm.h"

#include "drivedata/WmiDriveReader.h"
#include "drives/WmiProviders.h"
#include "drives/winrm/WinRmProvider.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::drives::winrm;
using valmora::test::TRecordedWinRm;
using valmora::test::TWinRmTestEndpoint;

namespace {

const QString user = QString::fromLatin1(valmora::test::NtlmDomain) + u'\\' + QString::fromLatin1(valmora::test::NtlmUser);
const QString password = QString::fromLatin1(valmora::test::NtlmPassword);
const QString wrongPassword = u"Wrong-Secret-42"_s;

QByteArray own(const QString &name)
{
    QFile f(valmora::test::OwnFixture(u"winrm/"_s + name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

// A loopback port that is bound but never listens: connecting is refused, and
// no other test can take the port while the socket lives.
struct ClosedPort
{
    ClosedPort()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
    }
    ~ClosedPort() { ::close(fd); }
    int fd = -1;
    int port = 0;
};

// One computer of a row: what answers for it, and how it is reached.
struct Computer
{
    TRecordedWinRm recorded;
    std::unique_ptr<TWinRmTestEndpoint> endpoint;
    std::unique_ptr<ClosedPort> closed;
    TWinRmOptions options;
    QString host = u"127.0.0.1"_s;
    QString password = ::password;

    int Port() const { return endpoint ? endpoint->Port() : closed->port; }
};

class ReadReasons : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<QTemporaryDir>();
        // Self-signed: "localhost" names the endpoint, "other.example" another host.
        s_why = valmora::test::MakeSelfSignedCertificate(s_dir->path(), u"localhost"_s, u"localhost"_s);
        if (s_why.isEmpty())
            s_why = valmora::test::MakeSelfSignedCertificate(s_dir->path(), u"other"_s, u"other.example"_s);
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    void SetUp() override
    {
        if (!valmora::test::NtlmMechanismInstalled())
            GTEST_SKIP() << "gss-ntlmssp (Debian gss-ntlmssp) is not installed";
    }

    static QString cert(const QString &stem) { return s_dir->path() + u'/' + stem + u".pem"_s; }
    static QString key(const QString &stem) { return s_dir->path() + u'/' + stem + u"-key.pem"_s; }

    static std::unique_ptr<Computer> gss()
    {
        auto c = std::make_unique<Computer>();
        c->recorded.AddRecordedDrives(10);
        c->endpoint = std::make_unique<TWinRmTestEndpoint>(
            TWinRmTestEndpoint::ESecurity::Gss, [r = &c->recorded](const QByteArray &soap) { return r->Answer(soap); });
        return c;
    }
    static std::unique_ptr<Computer> https(const QString &stem)
    {
        auto c = std::make_unique<Computer>();
        c->recorded.AddRecordedDrives(10);
        c->endpoint = std::make_unique<TWinRmTestEndpoint>(
            TWinRmTestEndpoint::ESecurity::Plain, [r = &c->recorded](const QByteArray &soap) { return r->Answer(soap); },
            cert(stem), key(stem));
        c->options.https = true;
        c->options.auth = EAuthMethod::Basic;
        c->host = u"localhost"_s;
        return c;
    }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline QString s_why;
};

struct Row
{
    const char *what;
    std::function<std::unique_ptr<Computer>()> make;
    int result;
    QStringList reason; // each with %1 for the port
};

} // namespace

TEST_F(ReadReasons, EachFailureNamesItsCauseBesideTheStagesResult)
{
    const QString media = u"media (Win32_PhysicalMedia of root\\CIMV2): "_s;
    const std::vector<Row> rows = {
        {"refused port",
         [] {
             auto c = std::make_unique<Computer>();
             c->closed = std::make_unique<ClosedPort>();
             return c;
         },
         kReadNoCimv2,
         {media, u"connection refused by 127.0.0.1:%1"_s}},
        {"TLS name mismatch",
         [] {
             auto c = https(u"other"_s);
             c->options.caFile = cert(u"other"_s); // trusted, but issued to another host
             return c;
         },
         kReadNoCimv2,
         {media, u"TLS certificate of localhost:%1 does not name localhost"_s, u"issued to other.example"_s}},
        {"unknown issuer",
         [] {
             auto c = https(u"localhost"_s);
             c->options.caFile = cert(u"other"_s); // an authority that did not issue it
             return c;
         },
         kReadNoCimv2,
         {media, u"TLS certificate of localhost:%1 is not trusted"_s, u"issued to localhost"_s, u"self-signed"_s}},
        {"refused password (HTTP 401)",
         [] {
             auto c = gss();
             c->password = wrongPassword;
             return c;
         },
         kReadNoCimv2,
         {media, u"HTTP 401 from http://127.0.0.1:%1/wsman: user %2 was refused"_s.arg(u"%1"_s, user)}},
        {"no realm for Kerberos, then NTLM refused",
         [] {
             auto c = gss();
             c->host = u"localhost"_s; // a name, so Kerberos is tried first
             c->password = wrongPassword;
             return c;
         },
         kReadNoCimv2,
         {u"Kerberos cannot log on as"_s, u"NTLM was tried next: HTTP 401"_s}},
        {"SOAP fault",
         [] {
             auto c = gss();
             c->recorded.AddFault(u"Win32_PhysicalMedia"_s, own(u"fault_class_not_found.xml"_s));
             return c;
         },
         kReadNoCimv2,
         {media, u"WMI fault from http://127.0.0.1:%1/wsman in answer to Enumerate: "_s,
          u"The specified class does not exist in the given namespace"_s}},
        {"access denied on root\\WMI",
         [] {
             auto c = gss();
             c->recorded.AddFault(u"MSStorageDriver_FailurePredictData"_s, own(u"fault_access_denied.xml"_s));
             return c;
         },
         kReadNoSmart,
         {u"S.M.A.R.T. data (MSStorageDriver_FailurePredictData of root\\WMI): WMI fault from "_s,
          u"Access is denied"_s}},
        {"time-out",
         [] {
             auto c = gss();
             c->endpoint->SetDelayMs(60000);
             c->options.requestTimeoutMs = 300;
             return c;
         },
         kReadNoCimv2,
         {media, u"time-out after 0.3 s waiting for the answer of http://127.0.0.1:%1/wsman"_s}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        if (!s_why.isEmpty() && (QByteArray(row.what).contains("TLS") || QByteArray(row.what).contains("issuer"))) {
            std::cout << "[ skipped  ] " << row.what << ": " << s_why.toStdString() << '\n';
            continue;
        }
        const auto computer = row.make();
        TWinRmOptions options = computer->options;
        options.port = computer->Port();
        options.connectTimeoutMs = 10000; // the TLS handshake is slow under the sanitizers
        if (options.requestTimeoutMs == TWinRmOptions().requestTimeoutMs)
            options.requestTimeoutMs = 10000;
        const auto provider = drives::CreateRemoteWmiProvider(options);
        TDriveList list;
        QString reason;
        EXPECT_EQ(ReadComputerDrives(*provider, computer->host, list, user, computer->password, &reason), row.result);
        for (const QString &part : row.reason)
            EXPECT_TRUE(reason.contains(part.contains(u"%1"_s) ? part.arg(computer->Port()) : part))
                << "missing \"" << part.toStdString() << "\" in: " << reason.toStdString();
        EXPECT_FALSE(reason.contains(computer->password)) << reason.toStdString();
        if (row.result == kReadNoCimv2)
            EXPECT_EQ(list.Count(), 0);
        else
            EXPECT_EQ(list.Count(), 2); // the inventory stays when root\WMI refuses
    }
}

// What a new user sees first: valmora-cli read against an HTTPS listener whose
// certificate is self-signed and names another host.
TEST_F(ReadReasons, CliReadNamesTheCertificateProblemAndExits1)
{
    if (!s_why.isEmpty())
        GTEST_SKIP() << s_why.toStdString();
    const auto computer = https(u"other"_s);
    valmora::test::ScopedSandbox box;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"VALMORA_WINRM_HTTPS"_s, u"1"_s);
    env.insert(u"VALMORA_WINRM_PORT"_s, QString::number(computer->Port()));
    env.remove(u"VALMORA_WINRM_CA_FILE"_s);
    env.remove(u"VALMORA_RECORDINGS"_s);
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(QString::fromUtf8(VALMORA_CLI), {u"read"_s, u"127.0.0.1"_s, u"--user"_s, user, u"--password"_s, wrongPassword});
    ASSERT_TRUE(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    EXPECT_EQ(cli.exitCode(), 1) << out.toStdString() << QString::fromUtf8(cli.readAllStandardError()).toStdString();
    EXPECT_TRUE(out.contains(u"Result: 1 "_s)) << out.toStdString();
    const QString expected = u"Reason: media (Win32_PhysicalMedia of root\\CIMV2): TLS certificate of 127.0.0.1:%1 is not "
                             u"trusted (issued to other.example, names DNS:other.example, self-signed)"_s.arg(computer->Port());
    EXPECT_TRUE(out.contains(expected)) << out.toStdString();
    EXPECT_FALSE(out.contains(wrongPassword));

    // The same reason as "Error" of the JSON.
    cli.start(QString::fromUtf8(VALMORA_CLI),
              {u"read"_s, u"127.0.0.1"_s, u"--user"_s, user, u"--password"_s, wrongPassword, u"--json"_s});
    ASSERT_TRUE(cli.waitForFinished(60000));
    const QJsonObject json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
    EXPECT_EQ(json.value(u"Result"_s).toInt(), 1);
    EXPECT_TRUE(json.value(u"Error"_s).toString().contains(u"is not trusted (issued to other.example"_s))
        << json.value(u"Error"_s).toString().toStdString();
}
