#include "foundation/Environment.h"
#include "foundation/LogStart.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"
#include "foundation/Settings.h"
#include "foundation/TextFile.h"

#include "TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <optional>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {
constexpr TRootKey HKCU = TRootKey::CurrentUser;
}

TEST(Options, EmptyStoreGivesTheDefaults)
{
    test::ScopedSandbox box;
    EXPECT_EQ(TOptions::ReadInterval(), 300);
    EXPECT_EQ(TOptions::ReadChecksAtOnce(), 16);
    EXPECT_EQ(TOptions::ReadUser(), QString());
    EXPECT_EQ(TOptions::ReadUserP(), QString());
    EXPECT_TRUE(TOptions::ReadFirstRun());
    EXPECT_TRUE(TOptions::ReadMinimizeToTray());
    EXPECT_TRUE(TOptions::ReadRunAtWindowsStart());
    EXPECT_EQ(TOptions::ReadSearchKind(), 1);
    EXPECT_EQ(TOptions::ReadTemperatureScale(), 0);
    EXPECT_TRUE(TOptions::ReadIPRanges().isEmpty());
    // The reads leave the key paths behind, and nothing else.
    const QString user = DecodeText(*ReadWholeFile(TRegistryStore::FileName(HKCU)));
    EXPECT_TRUE(user.contains(u"[HKEY_CURRENT_USER\\Software\\Quillmoor\\VALMORA]"_s));
    EXPECT_FALSE(user.contains(u'='));
    const QString machine = DecodeText(*ReadWholeFile(TRegistryStore::FileName(TRootKey::LocalMachine)));
    EXPECT_TRUE(machine.contains(u"[HKEY_LOCAL_MACHINE\\Software\\Quillmoor\\VALMORA]"_s));
}

TEST(Options, IntervalAndKindRules)
{
    test::ScopedSandbox box;
    const std::pair<int, int> intervals[] = {{2000, 1800}, {1800, 1800}, {0, 0}, {60, 60}};
    for (auto [stored, read] : intervals) {
        TRegistryHelper::WriteInteger(TOptions::KeyPath, u"Interval"_s, HKCU, stored);
        EXPECT_EQ(TOptions::ReadInterval(), read) << stored;
    }
    const std::pair<int, int> atOnce[] = {{1, 1}, {16, 16}, {256, 256}, {257, 256}, {0, 1}, {-5, 1}};
    for (auto [stored, read] : atOnce) {
        TRegistryHelper::WriteInteger(TOptions::KeyPath, u"ChecksAtOnce"_s, HKCU, stored);
        EXPECT_EQ(TOptions::ReadChecksAtOnce(), read) << stored;
    }
    TOptions::WriteChecksAtOnce(1000);
    EXPECT_EQ(TRegistryHelper::ReadInteger(TOptions::KeyPath, u"ChecksAtOnce"_s, HKCU, 0), 256);
    const std::pair<int, int> kinds[] = {{0, 0}, {1, 1}, {2, 2}, {3, 1}, {255, 1}, {256, 0}, {0x102, 2}, {-1, 1}};
    for (auto [stored, read] : kinds) {
        TRegistryHelper::WriteInteger(TOptions::KeyPath, u"SearchKind"_s, HKCU, stored);
        EXPECT_EQ(TOptions::ReadSearchKind(), read) << stored;
    }
    // A radio group without a selection stores 255: the network neighbourhood.
    TOptions::WriteSearchKind(static_cast<std::uint8_t>(-1));
    EXPECT_EQ(TRegistryHelper::ReadInteger(TOptions::KeyPath, u"SearchKind"_s, HKCU, 0), 255);
    EXPECT_EQ(TOptions::ReadSearchKind(), 1);

    TOptions::WriteFirstRun(false);
    EXPECT_FALSE(TOptions::ReadFirstRun());
    EXPECT_TRUE(TRegistryHelper::ReadBool(TOptions::KeyPath, u"FirstRun"_s, HKCU, true))
        << "FirstRun belongs to the machine";
}

TEST(Options, IPRangesCountStopsTheRead)
{
    test::ScopedSandbox box;
    TOptions::WriteIPRanges({u"10.0.0.1-10.0.0.9"_s, u"b"_s, u"c"_s});
    TOptions::WriteIPRanges({u"x"_s, u"y"_s});
    EXPECT_EQ(TOptions::ReadIPRanges(), (QStringList{u"x"_s, u"y"_s}));
    EXPECT_EQ(TRegistryHelper::ReadString(TOptions::IPRangesPath, u"Range2"_s, HKCU, QString()), u"c"_s);

    TRegistryHelper::WriteInteger(TOptions::IPRangesPath, u"RangeCount"_s, HKCU, 3);
    TRegistryHelper::DeleteValue(TOptions::IPRangesPath, u"Range1"_s, HKCU);
    EXPECT_EQ(TOptions::ReadIPRanges(), (QStringList{u"x"_s, QString(), u"c"_s}));
}

TEST(Options, RunAtStartWritesAndDeletesBothStartEntries)
{
    test::ScopedSandbox box;
    const QString user = StartEntry::UserFile();
    const QString machine = StartEntry::MachineFile();
    EXPECT_EQ(user, box.path(u"config/autostart/valmora.desktop"_s));
    EXPECT_EQ(machine, box.path(u"etc/xdg/autostart/valmora.desktop"_s));

    TOptions::WriteRunAtWindowsStart(false); // no entry yet: only the value changes
    EXPECT_FALSE(TOptions::ReadRunAtWindowsStart());
    EXPECT_FALSE(QFile::exists(user));

    TOptions::WriteRunAtWindowsStart(true);
    EXPECT_TRUE(TOptions::ReadRunAtWindowsStart());
    for (const QString &file : {user, machine}) {
        const QString text = QString::fromUtf8(*ReadWholeFile(file));
        EXPECT_TRUE(text.startsWith(u"[Desktop Entry]\n"_s));
        EXPECT_TRUE(text.contains(u"\nExec="_s + TWindowsFolders::ProgramFile() + u'\n')) << text.toStdString();
    }
    TOptions::WriteRunAtWindowsStart(false);
    EXPECT_FALSE(QFile::exists(user));
    EXPECT_FALSE(QFile::exists(machine));
}

TEST(Options, StartEntryQuotesPathsThatNeedIt)
{
    const std::pair<QString, QString> cases[] = {
        {u"/usr/bin/valmora"_s, u"Exec=/usr/bin/valmora\n"_s},
        {u"/opt/My Tools/valmora"_s, u"Exec=\"/opt/My Tools/valmora\"\n"_s},
        {u"/opt/a$b/valmora"_s, u"Exec=\"/opt/a\\\\$b/valmora\"\n"_s},
        {u"/opt/100%/valmora"_s, u"Exec=/opt/100%%/valmora\n"_s},
    };
    for (const auto &[path, line] : cases)
        EXPECT_TRUE(StartEntry::DesktopEntry(path).contains(line)) << StartEntry::DesktopEntry(path).toStdString();
}

TEST(TraceSwitch, TheVariableOverridesTheSettingAndIsOffByDefault)
{
    struct Case
    {
        std::optional<const char *> variable; // nullopt: not set
        std::optional<bool> setting;          // nullopt: never written
        bool enabled;
        bool problem;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, false, false},
        {std::nullopt, true, true, false},
        {std::nullopt, false, false, false},
        {"1", false, true, false},
        {" On ", false, true, false},
        {"TRUE", std::nullopt, true, false},
        {"0", true, false, false},
        {"off", true, false, false},
        {"", true, true, false}, // empty counts as unset
        {"maybe", true, true, true},
        {"maybe", std::nullopt, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "variable " << c.variable.value_or("(unset)") << ", setting "
                                          << (c.setting ? (*c.setting ? "on" : "off") : "(none)"));
        test::ScopedSandbox box;
        const QByteArray old = qgetenv("VALMORA_LOG_TRACE");
        const bool wasSet = qEnvironmentVariableIsSet("VALMORA_LOG_TRACE");
        if (c.variable)
            qputenv("VALMORA_LOG_TRACE", *c.variable);
        else
            qunsetenv("VALMORA_LOG_TRACE");
        if (c.setting)
            TOptions::WriteLogTrace(*c.setting);
        const TTraceSwitch trace = ReadTraceSwitch();
        EXPECT_EQ(trace.enabled, c.enabled);
        EXPECT_EQ(!trace.problem.isEmpty(), c.problem) << trace.problem.toStdString();
        if (c.problem) {
            EXPECT_TRUE(trace.problem.contains(u"VALMORA_LOG_TRACE"_s)) << trace.problem.toStdString();
        }

        TXLogSystem log;
        StartLog(log);
        EXPECT_EQ(log.Enabled(), c.enabled);
        EXPECT_EQ(log.LogFolder(), box.path(u"appdata/Quillmoor/Valmora/Log/"_s));
        if (wasSet)
            qputenv("VALMORA_LOG_TRACE", old);
        else
            qunsetenv("VALMORA_LOG_TRACE");
    }
}

// The kept settings: read once, read anew after a write of this process or
// a Reload, never because the file changed behind the program's back.
TEST(Settings, KeptUntilThisProcessWritesOrReloads)
{
    test::ScopedSandbox box;
    TOptions::WriteTemperatureScale(1);
    TOptions::WriteSearchKind(7); // a hand-edited value counts as the network neighbourhood
    const auto first = TSettings::Current();
    EXPECT_EQ(first->TemperatureScale, 1);
    EXPECT_EQ(first->SearchKind, TSearchKind::NetworkNeighbourhood);
    EXPECT_EQ(TSettings::Current(), TSettings::Current()); // no second read

    // An edit by hand (another program) is not seen until a reload.
    const QString file = TRegistryStore::FileName(HKCU);
    QString text = DecodeText(*ReadWholeFile(file));
    text.replace(u"\"TemperatureScale\"=dword:00000001"_s, u"\"TemperatureScale\"=dword:00000000"_s);
    ASSERT_TRUE(text.contains(u"\"TemperatureScale\"=dword:00000000"_s)) << qPrintable(text);
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
    }
    EXPECT_EQ(TSettings::Current()->TemperatureScale, 1);
    TSettings::Reload();
    EXPECT_EQ(TSettings::Current()->TemperatureScale, 0);

    // A write of this process (the options dialog's Save) is seen at once.
    TOptions::WriteSearchKind(2);
    EXPECT_EQ(TSettings::Current()->SearchKind, TSearchKind::IPRanges);

    // Another store (another user, or a test's sandbox) is read afresh.
    {
        test::ScopedSandbox other;
        EXPECT_EQ(TSettings::Current()->SearchKind, TSearchKind::NetworkNeighbourhood);
        EXPECT_EQ(TSettings::Current()->Interval, 300);
    }
    EXPECT_EQ(TSettings::Current()->SearchKind, TSearchKind::IPRanges);
}
