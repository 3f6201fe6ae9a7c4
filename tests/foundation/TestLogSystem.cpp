#include "foundation/Environment.h"
#include "foundation/Exception.h"
#include "foundation/LogSystem.h"
#include "foundation/TextFile.h"

#include "TestSupport.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A log of its own in a fresh folder; the process-wide one is not disturbed.
struct LogFixture : ::testing::Test
{
    test::ScopedSandbox box;
    TXLogSystem log;
    // The folder as the program makes it at start-up.
    static QString logFolder() { return TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora\\Log"_s); }
    void SetUp() override { log.SetLogFolder(logFolder()); }
};

} // namespace

TEST(LogFileName, TokensExpandInOrder)
{
    // A moment whose every part differs from the others and has one digit
    // where a leading zero would show; ":mm" is the minute, not the month and "m".
    const QDateTime at(QDate(2015, 3, 2), QTime(4, 5, 9));
    EXPECT_EQ(TXLogSystem::BuildFileName(u"/logs"_s, u":y-:m-:d.:h-:mm-:s"_s, at), u"/logs/2015-3-2.4-5-9"_s);
    EXPECT_EQ(TXLogSystem::BuildFileName(u"/logs"_s, u":mm:m"_s, QDateTime(QDate(2015, 12, 31), QTime(23, 59, 58))),
              u"/logs/5912"_s);

    // Remaining colons vanish; a folder gets exactly one delimiter.
    EXPECT_EQ(TXLogSystem::BuildFileName(u"/a/"_s, u"x:z.log"_s), u"/a/xz.log"_s);
    const QString dflt = TXLogSystem::BuildFileName(u"/a"_s, u":D :T.log"_s);
    EXPECT_FALSE(dflt.mid(3).contains(u':'));
    EXPECT_FALSE(dflt.mid(3).contains(u'/')) << "a date separator must not become a folder";
    EXPECT_TRUE(dflt.endsWith(u".log"_s));
}

TEST(LogFileName, EmptyPatternOrFolderIsRefused)
{
    try {
        TXLogSystem::BuildFileName(u"/a"_s, QString());
        FAIL();
    } catch (const Exception &e) {
        EXPECT_EQ(e.message(), u"Brak nazwy pliku log!"_s);
    }
    try {
        TXLogSystem::BuildFileName(QString(), u"x.log"_s);
        FAIL();
    } catch (const Exception &e) {
        EXPECT_EQ(e.message(), u"Nie podano katalogu plików log!"_s);
    }
}

TEST_F(LogFixture, OrdinaryEntriesObeyTheSwitchExceptionsDoNot)
{
    EXPECT_FALSE(log.Enabled());
    EXPECT_TRUE(log.LogText(u"hidden"_s, 0).isEmpty());
    EXPECT_TRUE(log.LogFormat(u"Komputer: %s"_s, {u"pc"_s}, 0).isEmpty());
    EXPECT_TRUE(log.Lines().isEmpty());
    EXPECT_FALSE(QFile::exists(log.LogFileName()));

    log.LogException(Exception(u"x"_s), 1002);
    ASSERT_EQ(log.Lines().size(), 1);
    const QString line = log.Lines().first();
    // stamp: Place: 0. stamp: Place: 1002. x
    const QRegularExpression shape(u"^(.+): Place: 0\\. (.+): Place: 1002\\. x$"_s);
    const auto m = shape.match(line);
    ASSERT_TRUE(m.hasMatch()) << line.toStdString();
    EXPECT_FALSE(m.captured(1).isEmpty());
    EXPECT_EQ(fileBytes(log.LogFileName()), "\xEF\xBB\xBF" + line.toUtf8() + "\r\n");

    log.SetEnabled(true);
    const QString written = log.LogFormat(u"Komputer: %s"_s, {u"żuraw"_s}, 0);
    EXPECT_TRUE(written.endsWith(u": Place: 0. Komputer: żuraw"_s)) << written.toStdString();
    EXPECT_EQ(log.Lines().size(), 2);
}

TEST_F(LogFixture, BadFormatWritesTheInternalErrorLine)
{
    log.SetEnabled(true);
    const QString line = log.LogText(u"100%"_s, 0);
    EXPECT_EQ(line, u"Wewnętrzny błąd biblioteki:Format '100%' invalid or incompatible with argumentDla ciągu:100%"_s);
    EXPECT_TRUE(fileBytes(log.LogFileName()).endsWith(u"Dla ciągu:100%\r\n"_s.toUtf8()));
    const QString mismatch = log.LogFormat(u"NB.Refresh %d"_s, {u"text"_s}, 0);
    EXPECT_TRUE(mismatch.endsWith(u"Dla ciągu:NB.Refresh %d"_s));
}

TEST_F(LogFixture, ExistingFileOfTheNameIsContinued)
{
    log.SetFileNamePattern(u"run.log"_s);
    log.LogException(Exception(u"first"_s), 2001);
    TXLogSystem second;
    second.SetFileNamePattern(u"run.log"_s);
    second.SetLogFolder(logFolder());
    ASSERT_EQ(second.LogFileName(), log.LogFileName());
    ASSERT_EQ(second.Lines().size(), 1);
    second.LogException(Exception(u"second"_s), 2003);
    const QStringList lines = SplitLines(DecodeText(fileBytes(second.LogFileName())));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(u"first"_s));
    EXPECT_TRUE(lines[1].endsWith(u"second"_s));
}

TEST(LogSystem, EmptyFolderLeavesTheNameAndLoadsNothing)
{
    test::ScopedSandbox box;
    TXLogSystem log;
    const QString before = log.LogFileName();
    log.SetLogFolder(QString());
    EXPECT_EQ(log.LogFileName(), before);
    log.SetFileNamePattern(QString());
    EXPECT_EQ(log.LogFileName(), before);
}

TEST(LogSystem, LastWriteAtTheEndKeepsEveryCharacter)
{
    test::ScopedSandbox box;
    QString fileName;
    {
        TXLogSystem log;
        log.SetLogFolder(TWindowsFolders::CommonAppDataFolder(u"Log"_s));
        log.LogException(Exception(u"dysk: Zażółć gęślą"_s), 1006);
        fileName = log.LogFileName();
    }
    const QByteArray bytes = fileBytes(fileName);
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(bytes.endsWith(u"Zażółć gęślą\r\n"_s.toUtf8()));

    // With no line, the end writes no file.
    QString emptyName;
    {
        TXLogSystem log;
        log.SetFileNamePattern(u"empty.log"_s);
        log.SetLogFolder(TWindowsFolders::CommonAppDataFolder(u"Log"_s));
        emptyName = log.LogFileName();
    }
    EXPECT_FALSE(QFile::exists(emptyName));
}

TEST_F(LogFixture, EntriesFromTwoThreadsNeverInterleave)
{
    log.SetEnabled(true);
    constexpr int perThread = 50;
    auto writer = [this](const QString &who) {
        for (int i = 0; i < perThread; ++i)
            log.LogFormat(u"%s %d"_s, {who, std::int64_t{i}}, 0);
    };
    std::thread a(writer, u"window"_s), b(writer, u"refresh"_s);
    a.join();
    b.join();
    const QStringList lines = SplitLines(DecodeText(fileBytes(log.LogFileName())));
    ASSERT_EQ(lines.size(), 2 * perThread);
    const QRegularExpression shape(u"^.+: Place: 0\\. (window|refresh) \\d+$"_s);
    for (const QString &line : lines)
        EXPECT_TRUE(shape.match(line).hasMatch()) << line.toStdString();
}

TEST_F(LogFixture, EchoShowsEachEntryWithOneStampAndItsRealPlace)
{
    QStringList echoed;
    log.SetEcho([&](const QString &line) { echoed.append(line); });
    log.LogText(u"not traced"_s, 0); // the trace is off
    log.LogException(Exception(u"disk gone"_s), 2001);
    log.SetEnabled(true);
    log.LogFormat(u"Komputer: %s"_s, {u"pc"_s}, 0);
    log.LogText(u"100%"_s, 0);

    ASSERT_EQ(echoed.size(), 3) << echoed.join(u'\n').toStdString();
    EXPECT_TRUE(echoed[0].endsWith(u": Place: 2001. disk gone"_s)) << echoed[0].toStdString();
    EXPECT_EQ(echoed[0].count(u"Place:"_s), 1) << echoed[0].toStdString();
    EXPECT_EQ(echoed[1], log.Lines()[1]);
    EXPECT_EQ(echoed[2], log.Lines()[2]) << "an internal-error line is echoed as stored";
    // The file keeps the stored form: the outer frame around the inner one.
    EXPECT_EQ(log.Lines()[0].count(u"Place:"_s), 2);
    EXPECT_TRUE(log.Lines()[0].endsWith(u". "_s + echoed[0])) << log.Lines()[0].toStdString();
}
