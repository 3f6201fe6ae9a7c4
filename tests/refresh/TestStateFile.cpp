#include "refresh/StateFile.h"

#include "foundation/Environment.h"
#include "foundation/LogSystem.h"
#include "foundation/TextFile.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

class StateFileTest : public ::testing::Test
{
protected:
    QString folder() const { return m_sandbox.path(u"data/"_s); }
    QString fileText() const
    {
        const auto bytes = ReadWholeFile(StateFileName(folder()));
        return bytes ? DecodeText(*bytes) : QString();
    }
    test::ScopedSandbox m_sandbox;
};

TEST_F(StateFileTest, FileNameCreatesTheVmFolder)
{
    const QString name = StateFileName(folder());
    EXPECT_EQ(name, folder() + u"vm/valmora.vm"_s);
    EXPECT_TRUE(QDir(folder() + u"vm"_s).exists());
}

TEST_F(StateFileTest, StatesAndFlagsReadBackWithDefaults)
{
    EXPECT_EQ(ReadComputerState(folder(), u"PC1"_s), 5);
    EXPECT_FALSE(ReadDiskModelFlag(folder(), u"MODEL-A"_s));

    WriteComputerState(folder(), u"PC1"_s, 5);
    WriteDiskModelFlag(folder(), u"MODEL-A"_s, true);
    WriteComputerState(folder(), u"PC2"_s, 4);
    EXPECT_EQ(ReadComputerState(folder(), u"pc2"_s), 4) << "names match without regard to case";
    EXPECT_EQ(ReadComputerState(folder(), u"PC1"_s), 5);
    EXPECT_TRUE(ReadDiskModelFlag(folder(), u"model-a"_s));
    WriteDiskModelFlag(folder(), u"MODEL-A"_s, false);
    EXPECT_FALSE(ReadDiskModelFlag(folder(), u"MODEL-A"_s));

    // Ordinary names stand in the file as they are, sections in the order first written.
    EXPECT_EQ(fileText(), u"[PC1]\r\nState=5\r\n\r\n[$DISKMODELS$]\r\nMODEL-A=0\r\n\r\n[PC2]\r\nState=4\r\n\r\n"_s);
}

TEST_F(StateFileTest, ManyStatesInOneCall)
{
    WriteComputerState(folder(), u"PC1"_s, 2);
    WriteComputerStates(folder(), {{u"PC2"_s, 3}, {u"pc1"_s, 4}, {u"PC2"_s, 1}});
    EXPECT_EQ(ReadComputerStates(folder(), {u"PC1"_s, u"PC2"_s, u"PC3"_s}), (QList<int>{4, 1, 5}))
        << "later entries win, a missing one gives 5";
    EXPECT_EQ(fileText(), u"[PC1]\r\nState=4\r\n\r\n[PC2]\r\nState=1\r\n\r\n"_s);
}

TEST_F(StateFileTest, WriterKeepsTheOrderOfItsWrites)
{
    {
        TStateFileWriter writer;
        for (int i = 1; i <= 5; ++i)
            writer.Post([this, i] { WriteComputerStates(folder(), {{u"PC1"_s, i}, {u"PC%1"_s.arg(i + 1), i}}); });
        writer.Drain();
        EXPECT_EQ(ReadComputerState(folder(), u"PC1"_s), 5);
        writer.Post([this] { WriteComputerState(folder(), u"LAST"_s, 2); });
    } // the destructor finishes what is queued
    EXPECT_EQ(ReadComputerStates(folder(), {u"PC2"_s, u"PC6"_s, u"LAST"_s}), (QList<int>{1, 5, 2}));
}

TEST_F(StateFileTest, StoredValuesOutsideTheStatesGiveTheDefault)
{
    QDir().mkpath(folder() + u"vm"_s);
    ASSERT_TRUE(WriteFileAtomically(StateFileName(folder()),
                                    "[A]\r\nState=0\r\n[B]\r\nState=x\r\n[C]\r\nState=3\r\n[D]\r\nState=9\r\n"
                                    "[$DISKMODELS$]\r\nM1=7\r\nM2=yes\r\n"));
    EXPECT_EQ(ReadComputerState(folder(), u"A"_s), 5);
    EXPECT_EQ(ReadComputerState(folder(), u"B"_s), 5);
    EXPECT_EQ(ReadComputerState(folder(), u"C"_s), 3);
    EXPECT_EQ(ReadComputerState(folder(), u"D"_s), 5);
    EXPECT_TRUE(ReadDiskModelFlag(folder(), u"M1"_s));
    EXPECT_FALSE(ReadDiskModelFlag(folder(), u"M2"_s));
}

TEST_F(StateFileTest, AwkwardNamesReadBackAsWritten)
{
    const QStringList names{u"PC]1"_s, u"A=B"_s, u"two\r\nlines"_s, u";comment"_s, u"[x]"_s, u" padded "_s,
                            u"50%"_s, u"%41"_s};
    int state = 1;
    for (const QString &name : names)
        WriteComputerState(folder(), name, 1 + (state++ % 5));
    state = 1;
    for (const QString &name : names)
        EXPECT_EQ(ReadComputerState(folder(), name), 1 + (state++ % 5)) << name.toStdString();
    EXPECT_EQ(ReadComputerState(folder(), u"A"_s), 5) << "\"%41\" must not read as \"A\"";

    WriteDiskModelFlag(folder(), u"WDC=X]"_s, true);
    EXPECT_TRUE(ReadDiskModelFlag(folder(), u"WDC=X]"_s));
    EXPECT_FALSE(ReadDiskModelFlag(folder(), u"WDC"_s));
    for (const QString &name : names)
        EXPECT_EQ(UnescapeProfileName(EscapeProfileName(name)), name);
}

TEST_F(StateFileTest, FailuresAreLoggedWithTheirPlaces)
{
    auto &log = XLogSystem();
    QDir().mkpath(m_sandbox.path(u"log"_s));
    log.SetLogFolder(m_sandbox.path(u"log"_s));
    // A folder where the file should be: it can be neither read nor replaced.
    QDir().mkpath(StateFileName(folder()));
    const auto before = log.Lines().size();
    EXPECT_EQ(ReadComputerStates(folder(), {u"A"_s, u"B"_s}), (QList<int>{5, 5}));
    EXPECT_EQ(ReadComputerState(folder(), u"PC1"_s), 5);
    WriteComputerState(folder(), u"PC1"_s, 4);
    EXPECT_FALSE(ReadDiskModelFlag(folder(), u"M"_s));
    WriteDiskModelFlag(folder(), u"M"_s, true);
    const QStringList lines = log.Lines().mid(before);
    ASSERT_EQ(lines.size(), 5) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines[0].contains(u"Place: 1002."_s));
    EXPECT_TRUE(lines[1].contains(u"Place: 1002."_s));
    EXPECT_TRUE(lines[2].contains(u"Place: 1006."_s));
    EXPECT_TRUE(lines[3].contains(u"Place: 1003."_s));
    EXPECT_TRUE(lines[4].contains(u"Place: 1007."_s));
}

} // namespace

TEST_F(StateFileTest, WritesFromSeveralThreadsLoseNothing)
{
    constexpr int threads = 6;
    constexpr int each = 15;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < each; ++i) {
                WriteComputerState(folder(), u"pc-%1-%2"_s.arg(t).arg(i), 1 + (t + i) % 5);
                ReadComputerState(folder(), u"pc-0-0"_s); // a reader meanwhile sees a whole file
            }
            WriteDiskModelFlag(folder(), u"MODEL-%1"_s.arg(t), true);
        });
    }
    for (std::thread &w : writers)
        w.join();
    QStringList names;
    QList<int> expected;
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < each; ++i) {
            names.append(u"pc-%1-%2"_s.arg(t).arg(i));
            expected.append(1 + (t + i) % 5);
        }
    EXPECT_EQ(ReadComputerStates(folder(), names), expected);
    for (int t = 0; t < threads; ++t)
        EXPECT_TRUE(ReadDiskModelFlag(folder(), u"MODEL-%1"_s.arg(t))) << t;
}
