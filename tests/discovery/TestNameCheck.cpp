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
