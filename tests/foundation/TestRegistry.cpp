#include "foundation/Environment.h"
#include "foundation/Exception.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"
#include "foundation/TextFile.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

const QString kKey = u"Software\\Quillmoor\\VALMORA"_s;
constexpr TRootKey HKCU = TRootKey::CurrentUser;
constexpr TRootKey HKLM = TRootKey::LocalMachine;

QString storeText(TRootKey root)
{
    auto bytes = ReadWholeFile(TRegistryStore::FileName(root));
    return bytes ? DecodeText(*bytes) : QString();
}

void writeStore(TRootKey root, const QString &text)
{
    QDir().mkpath(QFileInfo(TRegistryStore::FileName(root)).absolutePath());
    ASSERT_TRUE(WriteFileAtomically(TRegistryStore::FileName(root), text.toUtf8()));
}

template<typename F>
QString registryError(F &&f)
{
    try {
        f();
    } catch (const ERegistryException &e) {
        return e.message();
    }
    return QString();
}

} // namespace

TEST(Registry, StoresInTheExportFormUnderTheSandbox)
{
    test::ScopedSandbox box;
    EXPECT_TRUE(TRegistryStore::FileName(HKCU).startsWith(box.path()));
    EXPECT_TRUE(TRegistryStore::FileName(HKLM).startsWith(box.path()));

    TRegistryHelper::WriteInteger(kKey, u"Interval"_s, HKCU, 300);
    TRegistryHelper::WriteString(kKey, u"User"_s, HKCU, u"domain\\name \"q\""_s);
    TRegistryHelper::WriteInteger(kKey, u"lvComputersColumns0"_s, HKCU, -2);
    const QString text = storeText(HKCU);
    EXPECT_TRUE(text.contains(u"[HKEY_CURRENT_USER\\Software\\Quillmoor\\VALMORA]\r\n"_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"\"Interval\"=dword:0000012c\r\n"_s));
    EXPECT_TRUE(text.contains(u"\"User\"=\"domain\\\\name \\\"q\\\"\"\r\n"_s));
    EXPECT_TRUE(text.contains(u"\"lvComputersColumns0\"=dword:fffffffe\r\n"_s));

    EXPECT_EQ(TRegistryHelper::ReadInteger(kKey, u"interval"_s, HKCU, 0), 300); // names ignore case
    EXPECT_EQ(TRegistryHelper::ReadString(kKey.toLower(), u"User"_s, HKCU, QString()), u"domain\\name \"q\""_s);
    EXPECT_EQ(TRegistryHelper::ReadInteger(kKey, u"lvComputersColumns0"_s, HKCU, 0), -2);
    EXPECT_TRUE(storeText(HKLM).isEmpty()) << "the machine's store is another file";
}

TEST(Registry, ReadsCreateTheKeyButNeverAValue)
{
    test::ScopedSandbox box;
    EXPECT_EQ(TRegistryHelper::ReadInteger(kKey + u"\\IPRanges"_s, u"RangeCount"_s, HKCU, 7), 7);
    const QString text = storeText(HKCU);
    EXPECT_TRUE(text.contains(u"[HKEY_CURRENT_USER\\Software\\Quillmoor\\VALMORA\\IPRanges]"_s));
    EXPECT_FALSE(text.contains(u"RangeCount"_s));
}

TEST(Registry, TypesAndErrors)
{
    test::ScopedSandbox box;
    writeStore(HKCU, u"Windows Registry Editor Version 5.00\r\n\r\n"
                     "[HKEY_CURRENT_USER\\Software\\Quillmoor\\VALMORA]\r\n"
                     "\"Two\"=dword:00000002\r\n"
                     "\"Text\"=\"abc\"\r\n"
                     "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                     "\"Binary\"=hex:01,02\r\n"
                     "\"Broken\"=dword:xyz\r\n"
                     "this line was damaged by hand\r\n"
                     "\"Unterminated=\"x\r\n"
                     "\"After\"=dword:00000001\r\n"_s);
    EXPECT_TRUE(TRegistryHelper::ReadBool(kKey, u"Two"_s, HKCU, false));
    EXPECT_EQ(TRegistryHelper::ReadString(kKey, u"Expand"_s, HKCU, QString()), u"%A%"_s);
    EXPECT_EQ(TRegistryHelper::ReadInteger(kKey, u"After"_s, HKCU, 0), 1) << "damaged lines are skipped";

    struct Case
    {
        QString name;
        bool asInteger;
    };
    const Case wrong[] = {{u"Text"_s, true}, {u"Two"_s, false}, {u"Binary"_s, false}, {u"Broken"_s, true}};
    for (const Case &c : wrong) {
        const QString error = registryError([&] {
            if (c.asInteger)
                TRegistryHelper::ReadInteger(kKey, c.name, HKCU, 0);
            else
                TRegistryHelper::ReadString(kKey, c.name, HKCU, QString());
        });
        EXPECT_EQ(error, u"Invalid data type for '%1'"_s.arg(c.name));
    }
    EXPECT_EQ(registryError([] { TRegistryHelper::ReadBool(kKey, u"Text"_s, HKCU, false); }),
              u"Invalid data type for 'Text'"_s);

    // A write keeps every other value, even those it cannot read.
    TRegistryHelper::WriteInteger(kKey, u"Two"_s, HKCU, 3);
    const QString text = storeText(HKCU);
    EXPECT_TRUE(text.contains(u"\"Binary\"=hex:01,02"_s));
    EXPECT_TRUE(text.contains(u"\"Expand\"=hex(2):25,00,41,00,25,00,00,00"_s));
    EXPECT_TRUE(text.contains(u"\"Text\"=\"abc\""_s));
    EXPECT_TRUE(text.contains(u"\"Two\"=dword:00000003"_s));
}

TEST(Registry, LineBreaksInTextSurviveTheRoundTrip)
{
    test::ScopedSandbox box;
    const QString value = u"line one\r\nline \"two\"\\"_s;
    TRegistryHelper::WriteString(kKey, u"Range0"_s, HKCU, value);
    TRegistryHelper::WriteString(kKey, u"Next"_s, HKCU, u"n"_s);
    EXPECT_EQ(TRegistryHelper::ReadString(kKey, u"Range0"_s, HKCU, QString()), value);
    EXPECT_EQ(TRegistryHelper::ReadString(kKey, u"Next"_s, HKCU, QString()), u"n"_s);
}

TEST(Registry, DeleteValue)
{
    test::ScopedSandbox box;
    EXPECT_FALSE(TRegistryHelper::DeleteValue(kKey, u"Missing"_s, HKCU));
    TRegistryHelper::WriteBool(kKey, u"Flag"_s, HKCU, true);
    EXPECT_TRUE(TRegistryHelper::DeleteValue(kKey, u"flag"_s, HKCU));
    EXPECT_TRUE(TRegistryHelper::ReadBool(kKey, u"Flag"_s, HKCU, true));
    EXPECT_FALSE(TRegistryHelper::ReadBool(kKey, u"Flag"_s, HKCU, false));
}

TEST(Registry, UnwritableStoreFailsToSetData)
{
    test::ScopedSandbox box;
    TRegistryHelper::WriteInteger(kKey, u"Interval"_s, HKCU, 10);
    test::ScopedFileSizeLimit full(8);
    EXPECT_EQ(registryError([] { TRegistryHelper::WriteInteger(kKey, u"Interval"_s, HKCU, 20); }),
              u"Failed to set data for 'Interval'"_s);
    EXPECT_EQ(TRegistryHelper::ReadInteger(kKey, u"Interval"_s, HKCU, 0), 10) << "the old store is intact";
}

TEST(Folders, PathsEndWithOneDelimiterAndChainsAreCreated)
{
    test::ScopedSandbox box;
    const QString base = TWindowsFolders::SpecialFolder(TWindowsFolders::CommonAppData);
    EXPECT_EQ(base, box.path(u"appdata/"_s));
    const QString data = TWindowsFolders::SpecialSubFolder(35, u"Quillmoor\\Valmora"_s);
    EXPECT_EQ(data, base + u"Quillmoor/Valmora/"_s);
    EXPECT_TRUE(QDir(data).exists());
    EXPECT_EQ(TWindowsFolders::CommonAppDataFolder(QString()), base);
    EXPECT_TRUE(TWindowsFolders::SpecialFolder(26).isEmpty());
    EXPECT_TRUE(TWindowsFolders::SpecialSubFolder(26, u"x"_s).isEmpty());
    EXPECT_TRUE(TWindowsFolders::ProgramFolder().endsWith(u"/tests/foundation/"_s))
        << TWindowsFolders::ProgramFolder().toStdString();
}

namespace {

// The permission bits of a store's file, as ls shows them in octal.
mode_t modeOf(TRootKey root)
{
    struct stat st{};
    if (::stat(QFile::encodeName(TRegistryStore::FileName(root)).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

bool readableByOthers(TRootKey root)
{
    return modeOf(root) & (S_IRGRP | S_IROTH);
}

// The process's umask for one test: 0 shows that no mode comes from luck.
struct ScopedUmask
{
    explicit ScopedUmask(mode_t mask) : old(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old); }
    ScopedUmask(const ScopedUmask &) = delete;
    ScopedUmask &operator=(const ScopedUmask &) = delete;
    mode_t old;
};

} // namespace

TEST(RegistryPrivacy, StoresThatHoldAPasswordAreReadableByTheirOwnerOnly)
{
    struct Case
    {
        const char *what;
        TRootKey root;
        bool storesPassword;
        bool mustBePrivate;
    };
    const Case cases[] = {
        {"user store with a password", HKCU, true, true},
        {"user store without one", HKCU, false, true},
        {"machine store with a password", HKLM, true, true},
        {"machine store without one stays readable for every user", HKLM, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        test::ScopedSandbox box;
        const ScopedUmask mask(0);
        TRegistryHelper::WriteInteger(kKey, u"Interval"_s, c.root, 300);
        if (c.storesPassword)
            TRegistryHelper::WriteString(kKey, u"UserP"_s, c.root, u"secret"_s);
        EXPECT_EQ(readableByOthers(c.root), !c.mustBePrivate) << "created";
        // Every later atomic save replaces the file; the mode must survive it.
        TRegistryHelper::WriteString(kKey, u"User"_s, c.root, u"domain\\name"_s);
        EXPECT_EQ(readableByOthers(c.root), !c.mustBePrivate) << "saved again";
        if (c.mustBePrivate) {
            EXPECT_EQ(modeOf(c.root), 0600u);
        }
    }
}

TEST(RegistryPrivacy, AWiderStoreIsNarrowedWhenOpened)
{
    test::ScopedSandbox box;
    const ScopedUmask mask(0);
    // As an earlier version left them: world-readable, the password in clear.
    const QString text = u"[HKEY_CURRENT_USER\\Software\\Quillmoor\\VALMORA]\r\n\"UserP\"=\"secret\"\r\n"_s;
    writeStore(HKCU, text);
    writeStore(HKLM, QString(text).replace(u"CURRENT_USER"_s, u"LOCAL_MACHINE"_s));
    const auto wide = kOwnerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    for (const TRootKey root : {HKCU, HKLM}) {
        ASSERT_TRUE(QFile::setPermissions(TRegistryStore::FileName(root), wide));
        // A read alone writes nothing, so the narrowing must happen on opening.
        EXPECT_EQ(TRegistryHelper::ReadString(kKey, u"UserP"_s, root, QString()), u"secret"_s);
        EXPECT_EQ(modeOf(root), 0600u) << TRegistryStore::RootName(root).toStdString();
    }
}
