// The provider end to end against our own WinRM endpoint on 127.0.0.1:
// transport failures, then NTLM (gss-ntlmssp) and Kerberos (a real MIT KDC)
// with every body encrypted.

#include "TestSupport.h"
#include "TestCertificate.h"
#include "WinRmTestEndpoint.h"
#include "WinRmTestRealm.h"

#include "drives/WmiProviders.h"
#include "drives/winrm/WinRmEncryption.h"
#include "drives/winrm/WinRmGss.h"
#include "drives/winrm/WinRmHttp.h"
#include "drives/winrm/WinRmProvider.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <iostream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora::drives;
using namespace valmora::drives::winrm;
using valmora::test::TRecordedWinRm;
using valmora::test::TWinRmTestEndpoint;

namespace {

QByteArray own(const QString &name)
{
    QFile f(valmora::test::OwnFixture(u"winrm/"_s + name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

std::unique_ptr<TRecordedWinRm> recordings(int perPage)
{
    auto r = std::make_unique<TRecordedWinRm>();
    r->AddRecordedDrives(perPage);
    r->AddFault(u"Win32_Missing"_s, own(u"fault_class_not_found.xml"_s));
    return r;
}

std::unique_ptr<TWinRmTestEndpoint> endpoint(TWinRmTestEndpoint::ESecurity security, TRecordedWinRm &rec)
{
    return std::make_unique<TWinRmTestEndpoint>(security, [&rec](const QByteArray &soap) { return rec.Answer(soap); });
}

TWinRmOptions optionsFor(const TWinRmTestEndpoint &e)
{
    TWinRmOptions o;
    o.port = e.Port();
    o.connectTimeoutMs = 2000;
    o.requestTimeoutMs = 10000;
    return o;
}

// What the drive reader takes from the four stages.
struct TReadout
{
    QStringList serials;
    QStringList models, pnpIds;
    std::vector<std::int64_t> sizes;
    std::vector<std::vector<std::uint8_t>> data, thresholds;
};

template<typename Each>
void walk(TWmiProvider &provider, const QString &server, const QString &nameSpace, const QString &user,
          const QString &password, const QString &query, Each each)
{
    auto locator = provider.CreateLocator();
    auto services = locator->ConnectServer(server, nameSpace, user, password);
    auto set = services->ExecQuery(query, u"WQL"_s, 32);
    auto items = set->NewEnum();
    while (auto object = items->Next())
        each(*object);
}

TReadout readFourStages(TWmiProvider &p, const QString &server, const QString &user, const QString &password)
{
    TReadout r;
    walk(p, server, u"root\\CIMV2"_s, user, password, u"SELECT * FROM Win32_PhysicalMedia"_s, [&](TWmiObject &o) {
        r.serials << o.ReadText(u"Tag"_s) + u'=' + o.ReadText(u"SerialNumber"_s);
    });
    walk(p, server, u"root\\CIMV2"_s, user, password, u"SELECT * FROM Win32_DiskDrive"_s, [&](TWmiObject &o) {
        r.models << o.ReadText(u"Model"_s);
        r.pnpIds << o.ReadText(u"PNPDeviceID"_s);
        r.sizes.push_back(o.ReadInt64(u"Size"_s));
    });
    walk(p, server, u"root\\WMI"_s, user, password, u"SELECT * FROM MSStorageDriver_FailurePredictData"_s,
         [&](TWmiObject &o) {
             const int n = o.ReadInt32(u"Length"_s);
             std::vector<std::uint8_t> block;
             for (int i = 0; i < n; ++i)
                 block.push_back(o.ReadArrayByte(u"VendorSpecific"_s, i));
             r.data.push_back(std::move(block));
         });
    walk(p, server, u"root\\WMI"_s, user, password, u"SELECT * FROM MSStorageDriver_FailurePredictThresholds"_s,
         [&](TWmiObject &o) {
             std::vector<std::uint8_t> block;
             for (int i = 0; i < 512; ++i)
                 block.push_back(o.ReadArrayByte(u"VendorSpecific"_s, i));
             r.thresholds.push_back(std::move(block));
         });
    return r;
}

void expectRecordedDrives(const TReadout &r)
{
    EXPECT_EQ(r.serials, (QStringList{u"\\\\.\\PHYSICALDRIVE0=VT-0001-A"_s, u"\\\\.\\physicaldrive1="_s}));
    EXPECT_EQ(r.models, (QStringList{u"VALMORA TESTDISK A"_s, u"VALMORA TESTDISK B"_s}));
    EXPECT_EQ(r.pnpIds.value(0), u"SCSI\\DISK&VEN_VALMORA&PROD_TESTDISK_A\\4&1A2B3C&0&000000"_s);
    ASSERT_EQ(r.sizes.size(), 2u);
    EXPECT_EQ(r.sizes[0], 500105249280);
    ASSERT_EQ(r.data.size(), 2u);
    ASSERT_EQ(r.data[1].size(), 512u);
    // Drive B's second attribute: id 5, current value 30, raw 1800.
    EXPECT_EQ(r.data[1][14], 5);
    EXPECT_EQ(r.data[1][17], 30);
    EXPECT_EQ(r.data[1][19] | (r.data[1][20] << 8), 1800);
    ASSERT_EQ(r.thresholds.size(), 2u);
    EXPECT_EQ(r.thresholds[0][15], 36); // threshold of attribute 5
}

class NtlmEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        valmora::test::WriteNtlmUserFile(m_dir.path());
        // No realm and no DNS: a Kerberos attempt outside the test realm never leaves the machine.
        QFile conf(m_dir.path() + u"/krb5.conf"_s);
        if (conf.open(QIODevice::WriteOnly))
            conf.write("[libdefaults]\n dns_lookup_kdc = false\n dns_lookup_realm = false\n");
        qputenv("KRB5_CONFIG", conf.fileName().toLocal8Bit());
    }

private:
    QTemporaryDir m_dir;
};
const auto *const ntlmEnvironment = ::testing::AddGlobalTestEnvironment(new NtlmEnvironment);

const QString ntlmUser = QString::fromLatin1(valmora::test::NtlmDomain) + u'\\' + QString::fromLatin1(valmora::test::NtlmUser);
const QString ntlmPassword = QString::fromLatin1(valmora::test::NtlmPassword);

#define REQUIRE_NTLM()                                                                                                 \
    if (!valmora::test::NtlmMechanismInstalled()) {                                                                    \
        GTEST_SKIP() << "gss-ntlmssp (Debian gss-ntlmssp) is not installed";                                           \
    }

} // namespace

// ---------------------------------------------------------------------------
// Transport: libcurl against a plain HTTP endpoint.

TEST(WinRmTransport, KeepsOneConnectionAndPassesStatuses)
{
    auto rec = recordings(10);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Plain, *rec);
    TWinRmHttp http(u"127.0.0.1"_s, optionsFor(*e));
    EXPECT_EQ(http.Url(), u"http://127.0.0.1:%1/wsman"_s.arg(e->Port()));
    for (int i = 0; i < 3; ++i) {
        const THttpResponse r = http.Post("<not-soap/>", "application/soap+xml;charset=UTF-8");
        EXPECT_EQ(r.status, 500); // the recordings answer a fault to an unknown action
        EXPECT_TRUE(r.body.contains("ActionNotSupported"));
    }
    e->SetFixedStatus(401);
    EXPECT_EQ(http.Post("x", "text/plain").status, 401);
    EXPECT_EQ(e->Connections(), 1);
    EXPECT_EQ(http.Connections(), 1);
    EXPECT_EQ(http.Exchanges(), 4);
}

TEST(WinRmTransport, RefusedAndTimedOutRequestsRaise)
{
    // A port that is bound but not listening refuses connections, and stays
    // ours for the whole test: no other test's endpoint can take it meanwhile.
    const int bound = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(bound, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ::getsockname(bound, reinterpret_cast<sockaddr *>(&addr), &len);
    const int closedPort = ntohs(addr.sin_port);
    TWinRmOptions o;
    o.port = closedPort;
    TWinRmHttp refused(u"127.0.0.1"_s, o);
    try {
        refused.Post("x", "text/plain");
        ADD_FAILURE() << "a refused connection must raise";
    } catch (const EWmiError &err) {
        EXPECT_TRUE(err.message().contains(u"refused"_s)) << err.what();
        EXPECT_TRUE(err.message().contains(QString::number(closedPort))) << err.what();
    }
    ::close(bound);

    // The endpoint would answer only after a minute: the answer that comes is
    // the client's own time-out.
    auto rec = recordings(1);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Plain, *rec);
    e->SetDelayMs(60000);
    TWinRmOptions slow = optionsFor(*e);
    slow.requestTimeoutMs = 300;
    TWinRmHttp http(u"127.0.0.1"_s, slow);
    try {
        http.Post("x", "text/plain");
        ADD_FAILURE() << "a request without an answer must raise";
    } catch (const EWmiError &err) {
        EXPECT_TRUE(err.message().contains(u"time-out after 0.3 s waiting for the answer"_s)) << err.what();
    }
}

TEST(WinRmTransport, SilentComputerHitsTheConnectTimeout)
{
    // A listener whose queue is full drops further connection attempts, as
    // an unreachable computer (or a firewall that drops) does.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        fillers.push_back(fd);
    }
    // The first filler takes the queue's one place once its handshake is done.
    pollfd first{fillers.front(), POLLOUT, 0};
    ASSERT_EQ(::poll(&first, 1, 5000), 1);

    TWinRmOptions o;
    o.port = ntohs(addr.sin_port);
    o.connectTimeoutMs = 400;
    o.requestTimeoutMs = 800; // should a connection get through after all
    TWinRmHttp http(u"127.0.0.1"_s, o);
    try {
        http.Post("x", "text/plain");
        ADD_FAILURE() << "a connection that is never accepted must raise";
    } catch (const EWmiError &err) {
        EXPECT_TRUE(err.message().contains(u"time-out after 0.4 s connecting to 127.0.0.1:"_s) || err.message().contains(u"cannot be reached"_s))
            << err.what();
    }
    for (const int fd : fillers)
        ::close(fd);
    ::close(listener);
}

TEST(WinRmTransport, OverlongAnswersAreCutOff)
{
    TWinRmTestEndpoint e(TWinRmTestEndpoint::ESecurity::Plain,
                         [](const QByteArray &) { return valmora::test::TEndpointReply{200, QByteArray(3 << 20, 'x')}; });
    TWinRmHttp http(u"127.0.0.1"_s, optionsFor(e));
    try {
        http.Post("x", "text/plain");
        ADD_FAILURE() << "an answer beyond any envelope must raise";
    } catch (const EWmiError &err) {
        EXPECT_TRUE(err.message().contains(u"longer than"_s)) << err.what();
    }
}

TEST(WinRmTransport, PlainHttpNeverCarriesAPasswordOrAnUnencryptedBody)
{
    auto rec = recordings(1);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Plain, *rec);

    TWinRmOptions basic = optionsFor(*e);
    basic.auth = EAuthMethod::Basic;
    auto provider = CreateRemoteWmiProvider(basic);
    try {
        provider->CreateLocator()->ConnectServer(u"127.0.0.1"_s, u"root\\CIMV2"_s, u"admin"_s, u"pw-123"_s);
        ADD_FAILURE() << "Basic over HTTP must be refused";
    } catch (const EWmiError &err) {
        EXPECT_TRUE(err.message().contains(u"HTTPS"_s)) << err.what();
    }
    EXPECT_EQ(e->Requests(), 0);

    // A server that lets anyone in without a security context gets no SOAP text.
    TWinRmOptions ntlm = optionsFor(*e);
    ntlm.auth = EAuthMethod::Ntlm;
    auto gssProvider = CreateRemoteWmiProvider(ntlm);
    if (valmora::test::NtlmMechanismInstalled()) {
        EXPECT_THROW(readFourStages(*gssProvider, u"127.0.0.1"_s, ntlmUser, ntlmPassword), EWmiError);
        EXPECT_FALSE(e->Wire().contains("Envelope"));
        EXPECT_FALSE(e->Wire().contains(ntlmPassword.toUtf8()));
    }
    EXPECT_THROW(gssProvider->CreateLocator()->ConnectServer(u"127.0.0.1"_s, u"root\\CIMV2"_s, QString(), QString()),
                 EWmiError);
}

// ---------------------------------------------------------------------------
// NTLM through gss-ntlmssp, sealed with WinRM's message encryption.

TEST(WinRmNtlm, FullReadIsEncryptedOnOneConnection)
{
    REQUIRE_NTLM()
    // Every class in the Enumerate answer, as on a real computer; then one
    // instance per page, so that every stage pulls.
    for (const int perPage : {10, 1}) {
        SCOPED_TRACE(perPage);
        auto rec = recordings(perPage);
        auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
        auto provider = CreateRemoteWmiProvider(optionsFor(*e));

        QElapsedTimer clock;
        clock.start();
        const TReadout r = readFourStages(*provider, u"127.0.0.1"_s, ntlmUser, ntlmPassword);
        const qint64 ms = clock.elapsed();
        expectRecordedDrives(r);

        EXPECT_EQ(e->Connections(), 1);
        EXPECT_EQ(e->Mechanisms(), QStringList{u"NTLM"_s});
        EXPECT_TRUE(e->Violations().isEmpty()) << e->Violations().join(u"; "_s).toStdString();
        EXPECT_TRUE(rec->Problems().isEmpty()) << rec->Problems().join(u"; "_s).toStdString();
        EXPECT_EQ(rec->Enumerates(), 4);
        EXPECT_EQ(rec->Pulls(), perPage == 1 ? 4 : 0); // two instances per class
        EXPECT_EQ(rec->Releases(), 0);
        EXPECT_EQ(e->SealedRequests(), rec->Enumerates() + rec->Pulls());
        EXPECT_EQ(e->Requests(), e->SealedRequests() + 2); // the two legs of the NTLM handshake
        const QByteArray wire = e->Wire();
        EXPECT_FALSE(wire.contains("Win32_") || wire.contains("SELECT") || wire.contains("Envelope"));
        EXPECT_FALSE(wire.contains(ntlmPassword.toUtf8()));
        std::cout << "[ figures  ] NTLM four-stage read, " << perPage << " per page: " << e->Requests()
                  << " round trips, " << e->Connections() << " connection, " << ms << " ms\n";
    }
}

TEST(WinRmNtlm, RefusedCredentialsFailTheConnection)
{
    REQUIRE_NTLM()
    auto rec = recordings(10);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
    auto provider = CreateRemoteWmiProvider(optionsFor(*e));
    for (const QString &user : {ntlmUser, u"VALMORA\\mallory"_s}) {
        try {
            provider->CreateLocator()->ConnectServer(u"127.0.0.1"_s, u"root\\CIMV2"_s, user, u"wrong"_s);
            ADD_FAILURE() << "refused credentials must raise";
        } catch (const EWmiError &err) {
            EXPECT_TRUE(err.message().contains(u"HTTP 401"_s)) << err.what();
        }
    }
    EXPECT_GE(e->AuthFailures(), 2);
    EXPECT_EQ(rec->Enumerates(), 0);
}

TEST(WinRmNtlm, FaultsAndAbandonedWalks)
{
    REQUIRE_NTLM()
    auto rec = recordings(1);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
    auto provider = CreateRemoteWmiProvider(optionsFor(*e));
    auto services = provider->CreateLocator()->ConnectServer(u"127.0.0.1"_s, u"root\\CIMV2"_s, ntlmUser, ntlmPassword);
    try {
        services->ExecQuery(u"SELECT * FROM Win32_Missing"_s, u"WQL"_s, 32);
        ADD_FAILURE() << "a fault must raise";
    } catch (const EWmiError &err) {
        EXPECT_TRUE(err.message().contains(u"The specified class does not exist"_s)) << err.what();
        EXPECT_TRUE(err.message().contains(u"2150858778"_s)) << err.what();
    }
    // The wrong namespace for a class is the service's fault too.
    EXPECT_THROW(services->ExecQuery(u"SELECT * FROM MSStorageDriver_FailurePredictData"_s, u"WQL"_s, 32), EWmiError);
    EXPECT_THROW(services->ExecQuery(u"SELECT * FROM Win32_DiskDrive"_s, u"WMI Query"_s, 32), EWmiError);
    {
        auto set = services->ExecQuery(u"SELECT * FROM Win32_DiskDrive"_s, u"WQL"_s, 32);
        auto items = set->NewEnum();
        EXPECT_THROW(set->NewEnum(), EWmiError); // forward-only
        ASSERT_NE(items->Next(), nullptr);
    } // abandoned with one instance left: released
    EXPECT_EQ(rec->Releases(), 1);
    {
        auto set = services->ExecQuery(u"SELECT * FROM Win32_DiskDrive"_s, u"WQL"_s, 32);
        auto items = set->NewEnum();
        int n = 0;
        while (items->Next())
            ++n;
        EXPECT_EQ(n, 2);
    } // walked to the end: nothing to release
    EXPECT_EQ(rec->Releases(), 1);
    EXPECT_TRUE(e->Violations().isEmpty()) << e->Violations().join(u"; "_s).toStdString();
    EXPECT_EQ(e->Connections(), 1);
}

TEST(WinRmNtlm, RenewedConnectionsAuthenticateAgain)
{
    REQUIRE_NTLM()
    auto rec = recordings(10);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
    e->SetCloseAfterAnswer(true);
    auto provider = CreateRemoteWmiProvider(optionsFor(*e));
    expectRecordedDrives(readFourStages(*provider, u"127.0.0.1"_s, ntlmUser, ntlmPassword));
    EXPECT_GT(e->Mechanisms().size(), 1);
    EXPECT_TRUE(e->Violations().isEmpty()) << e->Violations().join(u"; "_s).toStdString();
}

TEST(WinRmNtlm, EndpointCatchesUnencryptedAndTamperedBodies)
{
    REQUIRE_NTLM()
    auto rec = recordings(10);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
    const QByteArray soapType = "application/soap+xml;charset=UTF-8";
    const QByteArray soap = winrm::BuildEnumerate(u"x"_s, winrm::ResourceUri(u"root\\cimv2"_s),
                                                  u"SELECT * FROM Win32_DiskDrive"_s, winrm::NewMessageId(), {});
    TWinRmHttp http(u"127.0.0.1"_s, optionsFor(*e));
    EXPECT_EQ(http.Post(soap, soapType).status, 401);
    EXPECT_EQ(e->Violations().size(), 1);

    // Log on by hand, then send a sealed body with one flipped bit.
    TGssClient gss(EGssMech::Ntlm, ntlmUser, ntlmPassword, u"127.0.0.1"_s);
    THttpResponse r = http.Post({}, soapType, "Negotiate " + gss.Step({}).toBase64());
    ASSERT_EQ(r.status, 401);
    ASSERT_FALSE(r.authenticate.isEmpty());
    const QByteArray challenge = QByteArray::fromBase64(r.authenticate.front().mid(10));
    r = http.Post({}, soapType, "Negotiate " + gss.Step(challenge).toBase64());
    ASSERT_EQ(r.status, 200);
    ASSERT_TRUE(gss.Complete());
    TEncryptedMessage sealed = gss.Wrap(soap, EAuthScheme::Negotiate);
    sealed.data[7] = static_cast<char>(sealed.data[7] ^ 1);
    EXPECT_EQ(http.Post(BuildEncryptedBody(sealed), EncryptedContentType(sealed.protocol)).status, 400);
    EXPECT_EQ(e->Violations().size(), 2);
    EXPECT_EQ(e->SealedRequests(), 0);
}

// ---------------------------------------------------------------------------
// Kerberos with a real MIT KDC in a temporary realm.

class WinRmKerberos : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_realm = std::make_unique<valmora::test::TTestRealm>();
        if (!s_realm->Start(s_why))
            s_realm.reset();
    }
    static void TearDownTestSuite() { s_realm.reset(); }
    void SetUp() override
    {
        if (!s_realm)
            GTEST_SKIP() << "no test KDC: " << s_why.toStdString();
    }
    static QString user() { return QString::fromLatin1(valmora::test::KerberosUser) + u'@' + QString::fromLatin1(valmora::test::TestRealm); }
    static QString password() { return QString::fromLatin1(valmora::test::KerberosPassword); }

    static inline std::unique_ptr<valmora::test::TTestRealm> s_realm;
    static inline QString s_why;
};

TEST_F(WinRmKerberos, FullReadIsEncryptedOnOneConnection)
{
    auto rec = recordings(10); // every class fits the Enumerate answer, as on a real computer
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
    auto provider = CreateRemoteWmiProvider(optionsFor(*e));
    QElapsedTimer clock;
    clock.start();
    const TReadout r = readFourStages(*provider, u"localhost"_s, user(), password());
    const qint64 ms = clock.elapsed();
    expectRecordedDrives(r);
    EXPECT_EQ(e->Mechanisms(), QStringList{u"Kerberos"_s});
    EXPECT_EQ(e->Connections(), 1);
    EXPECT_TRUE(e->Violations().isEmpty()) << e->Violations().join(u"; "_s).toStdString();
    EXPECT_EQ(e->Requests(), e->SealedRequests() + 1); // one leg: AP-REQ, AP-REP
    EXPECT_EQ(rec->Enumerates(), 4);
    EXPECT_EQ(rec->Pulls(), 0);
    // Negotiate seals as SPNEGO whatever the mechanism underneath.
    EXPECT_TRUE(e->Wire().contains("Content-Type: multipart/encrypted;protocol=\"application/HTTP-SPNEGO-session-encrypted\""));
    EXPECT_FALSE(e->Wire().contains("HTTP-Kerberos-session-encrypted"));
    EXPECT_FALSE(e->Wire().contains("Win32_") || e->Wire().contains("Envelope"));
    std::cout << "[ figures  ] Kerberos four-stage read: " << e->Requests() << " round trips, " << e->Connections()
              << " connection, " << ms << " ms\n";
    ::testing::Test::RecordProperty("round_trips", e->Requests());
    ::testing::Test::RecordProperty("wall_ms", static_cast<int>(ms));
}

TEST_F(WinRmKerberos, AnswersLabelledKerberosAreTakenOnlyFromKerberos)
{
    // After Negotiate, a service may label its Kerberos-sealed answers with the
    // Kerberos protocol; an NTLM context never seals that way.
    struct Case
    {
        QString host, user, password;
        bool accepted;
    };
    const Case cases[] = {
        {u"localhost"_s, user(), password(), true},
        {u"127.0.0.1"_s, ntlmUser, ntlmPassword, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.user.toStdString());
        if (!c.accepted && !valmora::test::NtlmMechanismInstalled())
            continue;
        auto rec = recordings(10);
        auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
        e->SetAnswerProtocol(KerberosProtocol);
        auto provider = CreateRemoteWmiProvider(optionsFor(*e));
        if (c.accepted) {
            expectRecordedDrives(readFourStages(*provider, c.host, c.user, c.password));
        } else {
            try {
                readFourStages(*provider, c.host, c.user, c.password);
                ADD_FAILURE() << "an NTLM answer labelled Kerberos must be refused";
            } catch (const EWmiError &err) {
                EXPECT_TRUE(err.message().contains(u"HTTP-Kerberos-session-encrypted"_s)) << err.what();
            }
        }
        EXPECT_TRUE(e->Violations().isEmpty()) << e->Violations().join(u"; "_s).toStdString();
    }
}

TEST_F(WinRmKerberos, DomainBackslashNameIsThePrincipal)
{
    auto rec = recordings(10);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
    TWinRmOptions o = optionsFor(*e);
    o.auth = EAuthMethod::Kerberos;
    auto provider = CreateRemoteWmiProvider(o);
    // The full realm, and the short domain that is its first label.
    for (const QString &domain : {QString::fromLatin1(valmora::test::TestRealm).toLower(), u"Kerberos"_s}) {
        const QString user = domain + u'\\' + QString::fromLatin1(valmora::test::KerberosUser);
        SCOPED_TRACE(user.toStdString());
        expectRecordedDrives(readFourStages(*provider, u"localhost"_s, user, password()));
    }
    EXPECT_EQ(e->Mechanisms(), (QStringList{u"Kerberos"_s, u"Kerberos"_s}));
}

TEST_F(WinRmKerberos, UnknownRealmFallsBackToNtlm)
{
    REQUIRE_NTLM()
    auto rec = recordings(10);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
    auto provider = CreateRemoteWmiProvider(optionsFor(*e));
    // "VALMORA" is no realm this machine knows: Kerberos cannot start, NTLM goes on.
    expectRecordedDrives(readFourStages(*provider, u"localhost"_s, ntlmUser, ntlmPassword));
    EXPECT_EQ(e->Mechanisms(), QStringList{u"NTLM"_s});
    EXPECT_TRUE(e->Violations().isEmpty()) << e->Violations().join(u"; "_s).toStdString();
}

TEST_F(WinRmKerberos, RefusedPasswordFailsWithoutTouchingTheComputer)
{
    auto rec = recordings(10);
    auto e = endpoint(TWinRmTestEndpoint::ESecurity::Gss, *rec);
    auto provider = CreateRemoteWmiProvider(optionsFor(*e));
    EXPECT_THROW(provider->CreateLocator()->ConnectServer(u"localhost"_s, u"root\\CIMV2"_s, user(), u"wrong"_s),
                 EWmiError);
    EXPECT_EQ(e->Requests(), 0);
}

// ---------------------------------------------------------------------------
// HTTPS: certificates verified, Basic allowed.

class WinRmHttps : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<QTemporaryDir>();
        s_why = valmora::test::MakeSelfSignedCertificate(s_dir->path(), u"cert"_s, u"localhost"_s);
    }
    static void TearDownTestSuite() { s_dir.reset(); }
    void SetUp() override
    {
        if (!s_why.isEmpty())
            GTEST_SKIP() << s_why.toStdString();
    }
    static QString cert() { return s_dir->path() + u"/cert.pem"_s; }
    static QString key() { return s_dir->path() + u"/cert-key.pem"_s; }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline QString s_why;
};

TEST_F(WinRmHttps, BasicOverVerifiedTls)
{
    auto rec = recordings(1);
    TWinRmTestEndpoint e(TWinRmTestEndpoint::ESecurity::Plain, [&](const QByteArray &soap) { return rec->Answer(soap); },
                         cert(), key());
    e.SetBasicAccount("admin", "Tls-Secret-3");
    TWinRmOptions o = optionsFor(e);
    o.https = true;
    o.caFile = cert();
    o.auth = EAuthMethod::Basic;
    {
        auto provider = CreateRemoteWmiProvider(o);
        expectRecordedDrives(readFourStages(*provider, u"localhost"_s, u"admin"_s, u"Tls-Secret-3"_s));
        EXPECT_EQ(e.Connections(), 1);
        EXPECT_EQ(e.AuthFailures(), 0);
    } // the endpoint serves one connection at a time: close this one

    auto other = CreateRemoteWmiProvider(o);
    auto services = other->CreateLocator()->ConnectServer(u"localhost"_s, u"root\\CIMV2"_s, u"admin"_s, u"wrong"_s);
    try {
        services->ExecQuery(u"SELECT * FROM Win32_DiskDrive"_s, u"WQL"_s, 32);
        ADD_FAILURE() << "a refused password must raise";
    } catch (const EWmiError &err) {
        EXPECT_TRUE(err.message().contains(u"HTTP 401"_s)) << err.what();
    }
}

TEST_F(WinRmHttps, UntrustedCertificateStopsBeforeAnyRequest)
{
    auto rec = recordings(1);
    TWinRmTestEndpoint e(TWinRmTestEndpoint::ESecurity::Plain, [&](const QByteArray &soap) { return rec->Answer(soap); },
                         cert(), key());
    TWinRmOptions o = optionsFor(e);
    o.https = true; // the system's authorities do not know the test certificate
    o.auth = EAuthMethod::Basic;
    auto provider = CreateRemoteWmiProvider(o);
    EXPECT_THROW(readFourStages(*provider, u"localhost"_s, u"admin"_s, u"Tls-Secret-3"_s), EWmiError);
    EXPECT_EQ(e.Requests(), 0);
    for (int i = 0; i < 100 && e.TlsFailures() == 0; ++i)
        QThread::msleep(20);
    EXPECT_GE(e.TlsFailures(), 1);
}

TEST_F(WinRmHttps, NtlmOverVerifiedTlsWithoutMessageSealing)
{
    REQUIRE_NTLM()
    auto rec = recordings(1);
    TWinRmTestEndpoint e(TWinRmTestEndpoint::ESecurity::Gss, [&](const QByteArray &soap) { return rec->Answer(soap); },
                         cert(), key());
    TWinRmOptions o = optionsFor(e);
    o.https = true;
    o.caFile = cert();
    o.auth = EAuthMethod::Ntlm;
    auto provider = CreateRemoteWmiProvider(o);
    expectRecordedDrives(readFourStages(*provider, u"localhost"_s, ntlmUser, ntlmPassword));
    EXPECT_EQ(e.Mechanisms(), QStringList{u"NTLM"_s});
    EXPECT_EQ(e.Connections(), 1);
    EXPECT_TRUE(e.Violations().isEmpty()) << e.Violations().join(u"; "_s).toStdString();
    EXPECT_EQ(e.SealedRequests(), rec->Enumerates() + rec->Pulls());
}

// ---------------------------------------------------------------------------
// An independent peer: python3-winrm's Encryption class and python3-gssapi
// frame and seal on the other side, so a mistake our own endpoint shares with
// the client shows here.

namespace {

class TPythonPeer
{
public:
    // False with a reason when the peer cannot run here.
    bool Start(QString &why)
    {
        const QString python = u"/usr/bin/python3"_s; // Debian's, where python3-winrm lives
        if (!QFile::exists(python)) {
            why = u"Debian's python3 is not installed"_s;
            return false;
        }
        QStringList args{QString::fromUtf8(VALMORA_SOURCE_DIR) + u"/tests/drives/winrm/winrm_peer.py"_s, u"60"_s};
        for (const auto &[cls, ns, file] : {std::tuple{"Win32_PhysicalMedia", "root\\CIMV2", "physicalmedia_items.xml"},
                                           {"Win32_DiskDrive", "root\\CIMV2", "diskdrive_items.xml"},
                                           {"MSStorageDriver_FailurePredictData", "root\\WMI", "failurepredictdata_items.xml"},
                                           {"MSStorageDriver_FailurePredictThresholds", "root\\WMI",
                                            "failurepredictthresholds_items.xml"}})
            args << u"%1=%2=%3"_s.arg(QLatin1StringView(cls), QLatin1StringView(ns),
                                      valmora::test::OwnFixture(u"winrm/"_s + QLatin1StringView(file)));
        m_process.start(python, args);
        if (!m_process.waitForStarted(5000)) {
            why = u"python3 does not start"_s;
            return false;
        }
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        const QByteArray first = m_process.readLine().trimmed();
        if (first.startsWith("PORT ")) {
            m_port = first.mid(5).toInt();
            return m_port > 0;
        }
        why = first.startsWith("MISSING ") ? u"python3-winrm or python3-gssapi is not installed: "_s
                                                 + QString::fromUtf8(first.mid(8))
                                           : u"the peer did not start: "_s + QString::fromUtf8(first + m_process.readAll());
        return false;
    }
    ~TPythonPeer() { Stop(); }

    TWinRmOptions Options() const
    {
        TWinRmOptions o;
        o.port = m_port;
        return o;
    }

    // Ends the peer and gives every line it printed after its port.
    QList<QByteArray> Stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel();
            if (!m_process.waitForFinished(10000)) {
                m_process.kill();
                m_process.waitForFinished(3000);
            }
            m_lines += m_process.readAll().split('\n');
            m_lines.removeAll(QByteArray());
        }
        return m_lines;
    }

private:
    QProcess m_process;
    int m_port = 0;
    QList<QByteArray> m_lines;
};

#define REQUIRE_PEER(peer)                                                                                             \
    if (QString why; !(peer).Start(why)) {                                                                             \
        GTEST_SKIP() << why.toStdString();                                                                             \
    }

qsizetype countStarting(const QList<QByteArray> &lines, const QByteArray &prefix)
{
    return std::count_if(lines.begin(), lines.end(), [&](const QByteArray &l) { return l.startsWith(prefix); });
}

} // namespace

TEST_F(WinRmKerberos, IndependentPeerReadsEverySealedBody)
{
    struct Case
    {
        const char *mech;
        QString host, user, password;
    };
    const Case cases[] = {
        {"kerberos", u"localhost"_s, user(), password()},
        {"ntlm", u"127.0.0.1"_s, ntlmUser, ntlmPassword},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mech);
        if (QByteArray(c.mech) == "ntlm" && !valmora::test::NtlmMechanismInstalled())
            continue;
        TPythonPeer peer;
        REQUIRE_PEER(peer)
        auto provider = CreateRemoteWmiProvider(peer.Options());
        expectRecordedDrives(readFourStages(*provider, c.host, c.user, c.password));
        const QList<QByteArray> lines = peer.Stop();
        EXPECT_EQ(countStarting(lines, "MECH " + QByteArray(c.mech)), 1) << lines.join('\n').constData();
        EXPECT_EQ(countStarting(lines, "SEALED " + QByteArray("http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate")), 4)
            << lines.join('\n').constData();
        EXPECT_EQ(countStarting(lines, "REFUSED"), 0) << lines.join('\n').constData();
    }
}

TEST_F(WinRmKerberos, IndependentPeerRefusesTheKerberosLabelAfterNegotiate)
{
    TPythonPeer peer;
    REQUIRE_PEER(peer)
    TWinRmHttp http(u"localhost"_s, peer.Options());
    TGssClient gss(EGssMech::Kerberos, user(), password(), u"localhost"_s);
    const THttpResponse logon = http.Post({}, "application/soap+xml;charset=UTF-8", "Negotiate " + gss.Step({}).toBase64());
    ASSERT_EQ(logon.status, 200);
    ASSERT_FALSE(logon.authenticate.isEmpty());
    gss.Step(QByteArray::fromBase64(logon.authenticate.front().mid(10)));
    ASSERT_TRUE(gss.Complete());

    const QString id = winrm::NewMessageId();
    const QByteArray soap = winrm::BuildEnumerate(u"http://localhost/wsman"_s, winrm::ResourceUri(u"root\\CIMV2"_s),
                                                  u"SELECT * FROM Win32_DiskDrive"_s, id, {});
    const TEncryptedMessage right = gss.Wrap(soap, EAuthScheme::Negotiate);
    const THttpResponse r = http.Post(BuildEncryptedBody(right), EncryptedContentType(right.protocol));
    ASSERT_EQ(r.status, 200);
    const QByteArray answer =
        gss.Unwrap(ParseEncryptedBody(r.contentType, r.body, AnswerProtocols(EAuthScheme::Negotiate, true)));
    const auto page = winrm::ParseEnumerationResponse(answer, QString::fromUtf16(winrm::action::EnumerateResponse), id);
    EXPECT_EQ(page.items.size(), 2u);
    EXPECT_TRUE(page.endOfSequence);

    // The label the client used to send with Kerberos underneath: a strict service refuses it.
    const TEncryptedMessage wrong = gss.Wrap(soap, EAuthScheme::Kerberos);
    EXPECT_EQ(http.Post(BuildEncryptedBody(wrong), EncryptedContentType(wrong.protocol)).status, 400);

    const QList<QByteArray> lines = peer.Stop();
    EXPECT_EQ(countStarting(lines, "REFUSED content type multipart/encrypted;protocol=\"application/HTTP-Kerberos"), 1)
        << lines.join('\n').constData();
    EXPECT_EQ(countStarting(lines, "SEALED"), 1) << lines.join('\n').constData();
}
