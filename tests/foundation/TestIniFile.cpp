#include "foundation/Exception.h"
#include "foundation/IniFile.h"
#include "foundation/TextFile.h"

#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

TEST(IniFile, ReadsByTheConvention)
{
    const QString text = u"stray=before any section\r\n"
                         "; a comment\r\n"
                         "\t[ Main ]  \r\n"
                         "  Key = value with = inside \r\n"
                         "key=second key of the same name\r\n"
                         "Empty=\r\n"
                         "no equals sign here\r\n"
                         "\x01" "Ctl=x\x02\r\n"
                         "\r\n"
                         "[Other]\n"
                         "a=1\r"
                         "[main]\n"
                         "Late=late\n"_s;
    const TMemIniFile ini = TMemIniFile::fromText(text);
    struct Case
    {
        QString section, key, expected;
    };
    const Case cases[] = {
        {u"MAIN"_s, u"KEY"_s, u"value with = inside"_s}, // first match wins, both sides trimmed
        {u"main"_s, u"empty"_s, u""_s},                  // present but empty
        {u"main"_s, u"missing"_s, u"<default>"_s},
        {u"nosuch"_s, u"key"_s, u"<default>"_s},
        {u"main"_s, u"ctl"_s, u"x"_s},                   // control characters trimmed
        {u"other"_s, u"a"_s, u"1"_s},                    // CR alone ends a line
        {u"main"_s, u"late"_s, u"late"_s},               // a repeated section continues the first
        {u"main"_s, u"stray"_s, u"<default>"_s},         // lines before the first section are ignored
        {u"main"_s, u"no equals sign here"_s, u"<default>"_s}, // not a key line
    };
    for (const Case &c : cases)
        EXPECT_EQ(ini.ReadString(c.section, c.key, u"<default>"_s), c.expected)
            << c.section.toStdString() << "/" << c.key.toStdString();
    EXPECT_EQ(ini.ReadSections(), (QStringList{u"Main"_s, u"Other"_s}));
    EXPECT_TRUE(ini.ReadString(u"main"_s, u"empty"_s, u"d"_s).isEmpty());
}

TEST(IniFile, SavesWholeInInsertionOrderWithCrLf)
{
    test::ScopedSandbox box;
    const QString path = box.path(u"out.ini"_s);
    {
        TMemIniFile ini(path);
        ini.WriteString(u"PC1"_s, u"UserName"_s, u"adm"_s);
        ini.WriteString(u"PC1"_s, u"Password"_s, u"żółw"_s);
        ini.WriteString(u"pc2"_s, u"UserName"_s, u"x"_s);
        ini.WriteString(u"pc1"_s, u"username"_s, u"admin"_s); // replaces in place
        ini.UpdateFile(kOwnerOnly);
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes, QByteArray("\xEF\xBB\xBF[PC1]\r\nUserName=admin\r\nPassword=\xC5\xBC\xC3\xB3\xC5\x82w\r\n\r\n"
                                "[pc2]\r\nUserName=x\r\n\r\n"));
    EXPECT_EQ(test::PosixMode(path), 0600);
    const TMemIniFile again(path);
    EXPECT_EQ(again.ReadString(u"PC1"_s, u"Password"_s, QString()), u"żółw"_s);
}

TEST(IniFile, DecodesTheEncodingsOfDescriptionFiles)
{
    const QString expected = u"[Attr]\r\nName=Zażółć\r\n"_s;
    QByteArray utf16le("\xFF\xFE"), utf16be("\xFE\xFF");
    for (const QChar c : expected) {
        utf16le.append(static_cast<char>(c.unicode() & 0xFF)).append(static_cast<char>(c.unicode() >> 8));
        utf16be.append(static_cast<char>(c.unicode() >> 8)).append(static_cast<char>(c.unicode() & 0xFF));
    }
    EXPECT_EQ(DecodeText(utf16le), expected);
    EXPECT_EQ(DecodeText(utf16be), expected);
    EXPECT_EQ(DecodeText("\xEF\xBB\xBF" + expected.toUtf8()), expected);
    EXPECT_EQ(DecodeText(expected.toUtf8()), expected);
    // 8-bit text that is not UTF-8 is read byte for byte, never dropped.
    EXPECT_EQ(DecodeText("Caf\xE9"), u"Café"_s);
}

TEST(IniFile, UnwritableFileIsAnErrorNamingIt)
{
    test::ScopedSandbox box;
    const QString path = box.path(u"no/such/folder/x.ini"_s);
    TMemIniFile ini(path);
    ini.WriteString(u"s"_s, u"k"_s, u"v"_s);
    try {
        ini.UpdateFile();
        FAIL() << "no error";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.message().contains(u"x.ini"_s)) << e.what();
    }
}

TEST(IniFile, InterruptedSaveLeavesTheOldFile)
{
    test::ScopedSandbox box;
    const QString path = box.path(u"keep.ini"_s);
    ASSERT_TRUE(WriteFileAtomically(path, "[a]\r\nk=old\r\n\r\n"));
    TMemIniFile ini(path);
    ini.WriteString(u"a"_s, u"k"_s, u"a new value far longer than the old one"_s);
    {
        // The disk fills up after 16 bytes of the new file.
        test::ScopedFileSizeLimit limit(16);
        EXPECT_THROW(ini.UpdateFile(), Exception);
    }
    EXPECT_EQ(TMemIniFile(path).ReadString(u"a"_s, u"k"_s, QString()), u"old"_s);
    EXPECT_EQ(QDir(box.path()).entryList(QDir::Files), QStringList{u"keep.ini"_s}); // no temporary left behind
}
