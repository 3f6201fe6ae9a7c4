// A process killed (SIGKILL) while it writes a readout, the state file, the
// credentials file or the settings, at many points of the write: the last
// good file always loads, nothing else in it is lost, and no more than one
// stray file per target is left beside it.
#include "drivedata/SmartTypes.h"
#include "foundation/DataPaths.h"
#include "foundation/Environment.h"
#include "foundation/IniFile.h"
#include "foundation/RegistryHelper.h"
#include "refresh/StateFile.h"
#include "refresh/UserPass.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <string_view>

#include <csignal>
#include <functional>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

// Enough to make each write take a while, so kills land inside it.
const QString Padding(20000, u'p');

struct Target
{
    const char *what;
    QString file;                           // the file written
    std::function<void(int)> write;         // writes version n
    std::function<int()> read;              // the version the file holds; -1 when it does not load whole
};

// Runs write in a child process for versions first, first+1, ... and kills
// it delayUs after its first write finished, so the kill falls into one of
// the writes that follow it.
void killWhileWriting(const std::function<void(int)> &write, int first, int delayUs)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        write(first);
        const char done = 1;
        (void)!::write(ready[1], &done, 1);
        for (int n = first + 1;; ++n)
            write(n);
    }
    ::close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    const bool started = ::poll(&p, 1, 30000) == 1;
    ::close(ready[0]);
    ::usleep(static_cast<useconds_t>(delayUs));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(started) << "the writer did not finish its first write within 30 s";
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer ended by itself: " << status;
}

std::vector<Target> targets(const QString &dataFolder)
{
    std::vector<Target> out;
    out.push_back({"readout", dataFolder + u"PC.wci"_s,
                   [dataFolder](int n) {
                       TDriveList list;
                       list.ComputerName = u"PC"_s;
                       for (int i = 0; i < 16; ++i) {
                           auto drive = std::make_unique<TDriveInformation>();
                           drive->Model = u"MODEL-%1"_s.arg(n);
                           list.Add(std::move(drive));
                       }
                       list.SaveToFile(dataFolder + u"PC.wci"_s);
                   },
                   [dataFolder]() {
                       TDriveList list;
                       try {
                           list.LoadFromFile(dataFolder + u"PC.wci"_s);
                       } catch (const std::exception &) {
                           return -1;
                       }
                       if (list.Count() != 16 || list.ComputerName != u"PC"_s)
                           return -1;
                       const QString model = list.Items(0).Model;
                       for (int i = 1; i < 16; ++i)
                           if (list.Items(i).Model != model)
                               return -1;
                       return model.mid(6).toInt();
                   }});
    out.push_back({"state file", StateFileName(dataFolder),
                   [dataFolder](int n) {
                       WriteComputerReason(dataFolder, u"PC"_s, {QString(u"v%1 "_s.arg(n) + Padding), 45000.0 + n});
                   },
                   [dataFolder]() {
                       const TMemIniFile ini(StateFileName(dataFolder), TextEncoding::Utf8);
                       // The other computers' sections survive every write.
                       for (int i = 0; i < 50; ++i)
                           if (ini.ReadString(u"OTHER%1"_s.arg(i), u"State"_s, QString()) != u"3"_s)
                               return -1;
                       const QString reason = ini.ReadString(u"PC"_s, u"Reason"_s, QString());
                       if (!reason.endsWith(Padding))
                           return -1;
                       return reason.mid(1, reason.indexOf(u' ') - 1).toInt();
                   }});
    out.push_back({"credentials", DataPaths::UserPassFile(dataFolder),
                   [dataFolder](int n) {
                       WriteUserPass(dataFolder, u"PC"_s, {u"user%1"_s.arg(n), QString(u"pass%1-"_s.arg(n) + Padding)});
                   },
                   [dataFolder]() {
                       TUserPass pass;
                       try {
                           pass = ReadUserPass(dataFolder, u"PC"_s);
                       } catch (const std::exception &) {
                           return -1;
                       }
                       if (ReadUserPass(dataFolder, u"KEPT"_s).UserName != u"kept"_s)
                           return -1;
                       const int n = pass.UserName.mid(4).toInt();
                       if (pass.Password != QString(u"pass%1-"_s.arg(n) + Padding))
                           return -1;
                       return n;
                   }});
    const QString key = u"Software\\Quillmoor\\VALMORA"_s;
    out.push_back({"settings", TRegistryStore::FileName(TRootKey::CurrentUser),
                   [key](int n) {
                       TRegistryHelper::WriteString(key, u"User"_s, TRootKey::CurrentUser, QString(u"v%1 "_s.arg(n) + Padding));
                   },
                   [key]() {
                       if (TRegistryHelper::ReadInteger(key, u"Interval"_s, TRootKey::CurrentUser, 0) != 600)
                           return -1;
                       const QString user = TRegistryHelper::ReadString(key, u"User"_s, TRootKey::CurrentUser, QString());
                       if (!user.endsWith(Padding))
                           return -1;
                       return user.mid(1, user.indexOf(u' ') - 1).toInt();
                   }});
    return out;
}

} // namespace

TEST(CrashSafety, KilledWritersLeaveTheLastGoodFile)
{
    test::ScopedSandbox box;
    const QString dataFolder = TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s);
    ASSERT_TRUE(QDir().mkpath(dataFolder));
    // What each file holds beside the value written, which no write may lose.
    QList<std::pair<QString, int>> others;
    for (int i = 0; i < 50; ++i)
        others.append({u"OTHER%1"_s.arg(i), 3});
    WriteComputerStates(dataFolder, others);
    WriteUserPass(dataFolder, u"KEPT"_s, {u"kept"_s, u"secret"_s});
    TRegistryHelper::WriteInteger(u"Software\\Quillmoor\\VALMORA"_s, u"Interval"_s, TRootKey::CurrentUser, 600);

    for (const Target &t : targets(dataFolder)) {
        SCOPED_TRACE(t.what);
        t.write(0);
        ASSERT_EQ(t.read(), 0);
        int last = 0;
        // Kills spread over a few milliseconds, several writes' worth, so
        // they fall at every stage of a write.
        for (int round = 0; round < 40; ++round) {
            const int delayUs = (round * 7919) % 5000;
            killWhileWriting(t.write, last + 1, delayUs);
            const int version = t.read();
            ASSERT_GT(version, last) << "round " << round << ": the file does not load, or lost a finished write";
            last = version;
        }
    }

    // A killed writer may leave its temporary file beside the target (how many
    // depends on where the kills fall); one of a file with passwords is
    // readable by its owner only, as the file itself.
    const QFileInfoList entries = QDir(dataFolder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
                                  + QDir(QFileInfo(StateFileName(dataFolder)).path())
                                        .entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
                                  + QDir(QFileInfo(TRegistryStore::FileName(TRootKey::CurrentUser)).path())
                                        .entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const Target &t : targets(dataFolder)) {
        QStringList beside;
        for (const QFileInfo &e : entries)
            if (e.absoluteFilePath() != QFileInfo(t.file).absoluteFilePath() && e.fileName().startsWith(QFileInfo(t.file).fileName()))
                beside.append(e.fileName());
        const bool secret = std::string_view(t.what) == "credentials" || std::string_view(t.what) == "settings";
        for (const QString &name : beside) {
            if (secret && !name.endsWith(u".lock"_s)) {
                EXPECT_EQ(test::PosixMode(QFileInfo(t.file).path() + u'/' + name), 0600)
                    << t.what << ": " << name.toStdString();
            }
        }
    }
    EXPECT_EQ(test::PosixMode(TRegistryStore::FileName(TRootKey::CurrentUser)), 0600);
    EXPECT_EQ(test::PosixMode(DataPaths::UserPassFile(dataFolder)), 0600);
}
