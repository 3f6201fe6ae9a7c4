// The one check of computer names that come from outside.
#include "DiscoveryTestSupport.h"

#include "discovery/ComputerNameCheck.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

TEST(ComputerNameCheck, KeepsOrdinaryNamesOfAnyScript)
{
    for (const QString &name : {u"PC-ACCOUNTING"_s, u"\\\\PC-ACCOUNTING"_s, u"host1.corp.example"_s, u"Łódź-PC"_s,
                                u"東京サーバ"_s, u"сервер_1"_s, u"pc 2"_s, u"a.b"_s, u"x"_s, u"ok𝔸name"_s,
                                QString(255, u'a')})
        EXPECT_EQ(ComputerNameProblem(name), QString()) << name.toStdString();
}

TEST(ComputerNameCheck, DropsNamesThatCannotBeFileNamesOrSections)
{
    const QString tooLong = QString(128, u'ż'); // 256 bytes of UTF-8
    const QString cases[] = {
        u""_s, u"\\\\"_s, QString(256, u'a'), tooLong, u"a/b"_s, u"a\\b"_s, u"\\\\\\\\double"_s, u"..\\x"_s,
        u"host..example"_s, u"tab\there"_s, u"nul"_s + QChar(0) + u"x"_s, u"del\x7f"_s, u"c1\u0085x"_s,
        u"bidi\u202eexe"_s, u"repl\ufffd"_s, u"lone"_s + QChar(0xd800), u"a:b"_s, u"a*"_s, u"a?"_s,
        u"a\"b"_s, u"<a>"_s, u"a|b"_s, u"[a]"_s, u"a=b"_s, u"a;b"_s, u" lead"_s, u"trail "_s,
    };
    for (const QString &name : cases)
        EXPECT_NE(ComputerNameProblem(name), QString()) << PrintableName(name).toStdString();
}

// One rule for names that would be special as file names on Windows or that
// mean this computer: dropped with the reason; names that merely look alike
// are kept, and so is this computer's own name (the check reads it locally).
TEST(ComputerNameCheck, DeviceNamesAndNamesOfThisComputer)
{
    const std::pair<QString, const char *> cases[] = {
        {u"CON"_s, "device"}, {u"\\\\nul"_s, "device"}, {u"Aux"_s, "device"}, {u"PRN"_s, "device"},
        {u"COM1"_s, "device"}, {u"lpt9"_s, "device"}, {u"COM\u00b9"_s, "device"}, {u"con.corp.example"_s, "device"},
        {u"NUL .x"_s, "device"}, {u"CONIN$"_s, "device"},
        {u"host."_s, "ends with a dot"}, {u"host.corp."_s, "ends with a dot"}, {u"host "_s, "blank"},
        {u"."_s, "this computer"}, {u"\\\\."_s, "this computer"}, {u"localhost"_s, "this computer"},
        {u"LOCALHOST"_s, "this computer"}, {u"localhost.localdomain"_s, "this computer"},
        {u"ip6-localhost"_s, "this computer"}, {u"127.0.0.1"_s, "this computer"}, {u"127.1.2.3"_s, "this computer"},
        {u"CONSOLE"_s, nullptr}, {u"COM10"_s, nullptr}, {u"LPT"_s, nullptr}, {u"nul-pc"_s, nullptr},
        {u"pc.con"_s, nullptr}, {u"mylocalhost"_s, nullptr}, {u"localhost-2"_s, nullptr}, {u"127.0.0.1x"_s, nullptr},
        {u"10.0.0.1"_s, nullptr}, {u"DESK"_s, nullptr},
    };
    for (const auto &[name, reason] : cases) {
        const QString problem = ComputerNameProblem(name);
        if (reason)
            EXPECT_TRUE(problem.contains(QLatin1StringView(reason))) << name.toStdString() << ": " << problem.toStdString();
        else
            EXPECT_EQ(problem, QString()) << name.toStdString();
    }
}

TEST(ComputerNameCheck, LogsWhatItDropsOnOneLine)
{
    test::LogCapture capture;
    EXPECT_TRUE(AcceptComputerName(u"good"_s, u"a test"_s));
    EXPECT_FALSE(AcceptComputerName(u"evil\r\n01-01-2000: Place: 0. forged"_s, u"a test"_s));
    const QStringList errors = capture.exceptions(0);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.first(),
              u"Computer name \"evil\\x{d}\\x{a}01-01-2000: Place: 0. forged\" from a test dropped: "
              "the name holds a control character"_s);
    EXPECT_EQ(PrintableName(QString(200, u'x')).size(), 81);
}
