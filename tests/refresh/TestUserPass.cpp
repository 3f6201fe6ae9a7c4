#include "refresh/UserPass.h"

#include "foundation/Environment.h"
#include "foundation/Exception.h"
#include "foundation/TextFile.h"

#include "TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

QString dataFolder()
{
    return TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
}

QByteArray fileBytes()
{
    return ReadWholeFile(dataFolder() + u"userpass.valmora"_s).value_or(QByteArray());
}

} // namespace

TEST(UserPass, InvertedFormAsStored)
{
    EXPECT_EQ(InvertChars(u"abc"_s), QString::fromUtf16(u"\xFF9E\xFF9D\xFF9C"));
    EXPECT_EQ(InvertChars(QString()), QString());
    EXPECT_EQ(InvertChars(u"é"_s), QString::fromUtf16(u"\xFF16"));
    for (const QString &s : {u"abc"_s, u"Zażółć €"_s, u"\U0001F600x"_s})
        EXPECT_EQ(InvertChars(InvertChars(s)), s);

    test::ScopedSandbox box;
    WriteUserPass(dataFolder(), u"PC1"_s, {u"adm"_s, u"abc"_s});
    EXPECT_EQ(fileBytes(), QByteArray("\xEF\xBB\xBF[PC1]\r\nUserName=adm\r\nPassword=\xEF\xBE\x9E\xEF\xBE\x9D\xEF\xBE\x9C\r\n\r\n"));
    EXPECT_EQ(test::PosixMode(dataFolder() + u"userpass.valmora"_s), 0600);
}

TEST(UserPass, EveryPasswordSurvivesASave)
{
    test::ScopedSandbox box;
    const QString passwords[] = {
        u"plain"_s,
        u"café"_s,
        u"price: 20€"_s,                              // U+20AC inverts to a lone surrogate
        u"\u2000\u27FF\u2500"_s,                      // the whole range that does
        u"\U0001F600"_s,                              // a real pair inverts to two lone surrogates
        QString::fromUtf16(u"\xFFFF\x0041"),          // the escape's own value
        QString::fromUtf16(u"\x0000" "0041"),         // U+0000 followed by hex digits
        QString::fromUtf16(u"\xFFE0x\xFFF2\xFFF5\xFFDF"), // invert to control characters and blanks
    };
    int n = 0;
    for (const QString &p : passwords) {
        const QString pc = u"pc"_s + QString::number(n++);
        WriteUserPass(dataFolder(), pc, {u"user"_s, p});
        EXPECT_EQ(ReadUserPass(dataFolder(), pc.toUpper()).Password, p) << p.toStdString();
    }
    // A password without such characters is stored exactly as the plain inverted form.
    EXPECT_EQ(EncodeStoredPassword(u"café"_s), InvertChars(u"café"_s));
}

TEST(UserPass, LookupAndUsability)
{
    test::ScopedSandbox box;
    TUserPass none = ReadUserPass(dataFolder(), u"pc"_s); // no file at all
    EXPECT_TRUE(none.UserName.isEmpty());
    EXPECT_TRUE(none.Password.isEmpty());
    EXPECT_FALSE(UserPassIsUsable(none));
    EXPECT_FALSE(QFile::exists(dataFolder() + u"userpass.valmora"_s));

    WriteUserPass(dataFolder(), u"OnlyUser"_s, {u"u"_s, QString()});
    WriteUserPass(dataFolder(), u"OnlyPass"_s, {QString(), u"p"_s});
    WriteUserPass(dataFolder(), u"Both"_s, {u"dom\\u"_s, u"p"_s});
    WriteUserPass(dataFolder(), u"both"_s, {u"dom\\v"_s, u"q"_s}); // same section
    EXPECT_FALSE(UserPassIsUsable(ReadUserPass(dataFolder(), u"onlyuser"_s)));
    EXPECT_FALSE(UserPassIsUsable(ReadUserPass(dataFolder(), u"onlypass"_s)));
    const TUserPass both = ReadUserPass(dataFolder(), u"BOTH"_s);
    EXPECT_TRUE(UserPassIsUsable(both));
    EXPECT_EQ(both.UserName, u"dom\\v"_s);
    EXPECT_EQ(both.Password, u"q"_s);
    // The sections of other computers stay as they were, in their order.
    const QString text = DecodeText(fileBytes());
    EXPECT_LT(text.indexOf(u"[OnlyUser]"_s), text.indexOf(u"[OnlyPass]"_s));
    EXPECT_LT(text.indexOf(u"[OnlyPass]"_s), text.indexOf(u"[Both]"_s));
    EXPECT_EQ(test::PosixMode(dataFolder() + u"userpass.valmora"_s), 0600);
}

TEST(UserPass, ExistingLooseFileBecomesOwnerOnlyOnSave)
{
    test::ScopedSandbox box;
    const QString path = dataFolder() + u"userpass.valmora"_s;
    ASSERT_TRUE(WriteFileAtomically(path, "\xEF\xBB\xBF[a]\r\nUserName=x\r\n\r\n"));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    WriteUserPass(dataFolder(), u"b"_s, {u"y"_s, u"z"_s});
    EXPECT_EQ(test::PosixMode(path), 0600);
    EXPECT_EQ(ReadUserPass(dataFolder(), u"a"_s).UserName, u"x"_s);
}

TEST(UserPass, UnreadableFileReachesTheCaller)
{
    test::ScopedSandbox box;
    // A folder where the file should be cannot be read as a file.
    QDir().mkpath(dataFolder() + u"userpass.valmora"_s);
    EXPECT_THROW(ReadUserPass(dataFolder(), u"pc"_s), Exception);
    EXPECT_THROW(WriteUserPass(dataFolder(), u"pc"_s, {u"u"_s, u"p"_s}), Exception);
}

TEST(UserPass, WritesFromSeveralThreadsLoseNothing)
{
    test::ScopedSandbox box;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 10; ++i) {
                const QString computer = u"PC%1-%2"_s.arg(t).arg(i);
                WriteUserPass(dataFolder(), computer, {u"user-"_s + computer, u"pass-"_s + computer});
                ReadUserPass(dataFolder(), u"PC0-0"_s); // a reader meanwhile sees a whole file
            }
        });
    }
    for (std::thread &w : writers)
        w.join();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 10; ++i) {
            const QString computer = u"PC%1-%2"_s.arg(t).arg(i);
            const TUserPass read = ReadUserPass(dataFolder(), computer);
            EXPECT_EQ(read.UserName, u"user-"_s + computer);
            EXPECT_EQ(read.Password, u"pass-"_s + computer);
        }
}
