// Services that log on and seal properly and then answer with something
// hostile: the reader refuses or cuts the answer with a reason, within its
// bounds, and the check of the next computer goes on.

#include "TestSupport.h"
#include "WinRmTestEndpoint.h"
#include "WinRmTestRealm.h"

#include "drivedata/WmiDriveReader.h"
#include "drives/winrm/WinRmProvider.h"
#include "foundation/Environment.h"
#include "refresh/ComputerCheck.h"

#include <QFile>

#include <gtest/gtest.h>

#include <map>
#include <optional>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::drives::winrm;
using valmora::test::THostileWinRm;
using valmora::test::TRecordedWinRm;
using valmora::test::TWinRmTestEndpoint;

namespace {

// The NTLM account of gss-ntlmssp's user file, written by the environment of
// this test program.
const QString user = QString::fromLatin1(valmora::test::NtlmDomain) + u'\\' + QString::fromLatin1(valmora::test::NtlmUser);
const QString password = QString::fromLatin1(valmora::test::NtlmPassword);

#define REQUIRE_NTLM()                                                                                                 \
    if (!valmora::test::NtlmMechanismInstalled()) {                                                                    \
        GTEST_SKIP() << "gss-ntlmssp (Debian gss-ntlmssp) is not installed";                                           \
    }

// One computer behind an NTLM endpoint of its own, hostile or not.
struct Computer
{
    Computer(std::optional<THostileWinRm::EMode> mode, int size)
    {
        recorded.AddRecordedDrives(10);
        if (mode)
            hostile = std::make_unique<THostileWinRm>(*mode, size, recorded);
        endpoint = std::make_unique<TWinRmTestEndpoint>(TWinRmTestEndpoint::ESecurity::Gss, [this](const QByteArray &soap) {
            return hostile ? hostile->Answer(soap) : recorded.Answer(soap);
        });
    }
    TRecordedWinRm recorded;
    std::unique_ptr<THostileWinRm> hostile;
    std::unique_ptr<TWinRmTestEndpoint> endpoint;
};

// A provider that reaches each computer name at the port of its endpoint.
std::unique_ptr<TWinRmProvider> providerFor(const std::map<QString, const Computer *> &computers, TWinRmOptions options)
{
    return std::make_unique<TWinRmProvider>(
        options, [computers](const QString &server, const QString &u, const QString &p, const TWinRmOptions &o) {
            TWinRmOptions routed = o;
            routed.port = computers.at(server)->endpoint->Port();
            return CreateWinRmSession(u"127.0.0.1"_s, u, p, routed);
        });
}

struct Hostility
{
    const char *what;
    THostileWinRm::EMode mode;
    int size;
    int result;
    const char *reason;
    int drives; // kept in the list: a failed drive stage keeps those read before
};

// Bounds smaller than the defaults keep the endless case short; the pages
// are larger so that 50,000 drives need a hundred Pulls, not 1,600.
TWinRmOptions testOptions()
{
    TWinRmOptions o;
    o.enumeration.maxPulls = 300;
    o.limits.maxElements = 500;
    return o;
}

const Hostility hostilities[] = {
    {"deep", THostileWinRm::EMode::DeepNesting, 100000, kReadNoCimv2, "inventory (Win32_DiskDrive of root\\CIMV2): WS-Management answer refused: an instance is nested deeper than 16", 0},
    {"endless", THostileWinRm::EMode::Endless, 0, kReadNoCimv2, "does not end \"SELECT * FROM Win32_DiskDrive\" within 300 Pull requests", 301},
    {"many", THostileWinRm::EMode::ManyDrives, 50000, kReadGood, "the list of drives was cut at 1024 drives", kMaxDrivesPerComputer},
};

} // namespace

TEST(WinRmHostile, ReaderStopsWithAReasonWithinItsBounds)
{
    REQUIRE_NTLM()
    for (const Hostility &h : hostilities) {
        SCOPED_TRACE(h.what);
        Computer pc(h.mode, h.size);
        auto provider = providerFor({{u"HOSTILEPC"_s, &pc}}, testOptions());
        TDriveList list;
        QString reason;
        EXPECT_EQ(ReadComputerDrives(*provider, u"HOSTILEPC"_s, list, user, password, &reason), h.result);
        EXPECT_TRUE(reason.contains(QLatin1StringView(h.reason))) << reason.toStdString();
        EXPECT_FALSE(reason.contains(password)) << reason.toStdString();
        EXPECT_EQ(list.Count(), h.drives);
        EXPECT_TRUE(pc.endpoint->Violations().isEmpty()) << pc.endpoint->Violations().join(u"; "_s).toStdString();
        switch (h.mode) {
        case THostileWinRm::EMode::Endless:
            EXPECT_EQ(pc.hostile->Pulls(), 300);
            EXPECT_EQ(pc.hostile->Releases(), 1); // the abandoned walk is released
            break;
        case THostileWinRm::EMode::ManyDrives:
            // Serials found by tag at the far end of 50,000 media; the drive walk abandoned at the cut.
            EXPECT_EQ(list.Items(1000).SerialNumber, u"SN-1000"_s);
            EXPECT_EQ(list.Items(1023).Model, u"HOSTILE DISK 1023"_s);
            EXPECT_EQ(pc.hostile->Releases(), 1);
            EXPECT_EQ(pc.recorded.Enumerates(), 4); // the three root\WMI stages and the storage classes still ran
            break;
        case THostileWinRm::EMode::DeepNesting:
            break;
        }
    }
}

TEST(WinRmHostile, CycleOverAHostileComputerStillChecksTheGoodOne)
{
    REQUIRE_NTLM()
    for (const Hostility &h : hostilities) {
        SCOPED_TRACE(h.what);
        test::ScopedSandbox box;
        const QString dataFolder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
        // Twice the cap shows the cut; the reader's test above takes the full 50,000.
        Computer hostile(h.mode, h.mode == THostileWinRm::EMode::ManyDrives ? 2 * kMaxDrivesPerComputer : h.size);
        Computer good(std::nullopt, 0);
        auto provider = providerFor({{u"HOSTILEPC"_s, &hostile}, {u"GOODPC"_s, &good}}, testOptions());

        class Answering final : public TIcmpEcho
        {
        public:
            TReplyStatus Echo(const QString &, int, int) override
            {
                TReplyStatus s;
                s.ReplyStatusType = TReplyStatusType::rsEcho;
                return s;
            }
        };
        TCheckEnvironment environment;
        environment.Echo = std::make_shared<Answering>();
        environment.ReadDrives = [&](const QString &computer, TDriveList &list, const QString &u, const QString &p) {
            return ReadComputerDrives(*provider, computer, list, u, p);
        };
        environment.DomainUser = user;
        environment.DomainPassword = password;
        environment.DataFolder = dataFolder;
        environment.LocalComputerName = u"DESK"_s;

        // The cycle's checks, in the order of its names: the hostile computer first.
        TCheckedComputers checked;
        for (const QString &name : {u"HOSTILEPC"_s, u"GOODPC"_s})
            CheckComputer(name, checked, environment);

        ASSERT_EQ(checked.size(), 2u);
        EXPECT_EQ(checked[0]->State, StateFromReadResult(h.result));
        EXPECT_EQ(checked[1]->Name, u"GOODPC"_s);
        EXPECT_EQ(checked[1]->State, StateSuspected); // read and judged: the recording holds a failing drive
        ASSERT_EQ(checked[1]->Drives.Count(), 2);
        EXPECT_EQ(checked[1]->Drives.Items(0).Model, u"VALMORA TESTDISK A"_s);
        EXPECT_GT(checked[1]->Drives.Items(1).AttributeCount, 0);
        ASSERT_TRUE(QFile::exists(dataFolder + u"GOODPC.wci"_s));
        TDriveList saved;
        saved.LoadFromFile(dataFolder + u"GOODPC.wci"_s);
        EXPECT_EQ(saved.Count(), 2);
    }
}
