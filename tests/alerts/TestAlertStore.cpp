// The last alerted state and the outbox in the data folder.
#include "alerts/AlertStore.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::alerts;

TEST(AlertStore, StateAndOutboxComeBackAsSaved)
{
    test::ScopedSandbox box;
    TAlertStore store(box.path());
    EXPECT_TRUE(store.LoadState().empty()) << "no file yet is an empty state";
    EXPECT_TRUE(store.LoadOutbox().empty());

    TAlertedState state;
    TAlertedComputer pc;
    pc.Name = u"pc1"_s;
    pc.LastRead = QDateTime(QDate(2026, 12, 3), QTime(8, 0, 1, 500));
    pc.Drives[u"DISK|S1"_s] = {u"DISK"_s, u"S1"_s, u"\\\\.\\PHYSICALDRIVE0"_s, {u"197|Warning|529 sectors"_s}};
    state[ComputerKey(pc.Name)] = pc;
    store.SaveState(state);
    const TAlertedState back = store.LoadState();
    ASSERT_EQ(back.size(), 1u);
    const TAlertedComputer &b = back.at(u"PC1"_s);
    EXPECT_EQ(b.LastRead, pc.LastRead);
    EXPECT_FALSE(b.FirstSeen.isValid());
    EXPECT_EQ(b.Drives.at(u"DISK|S1"_s).Flags, pc.Drives[u"DISK|S1"_s].Flags);

    TAlert alert = MakeAlert(TAlertEvent::DriveFailing, u"PC1"_s, pc.LastRead);
    alert.DriveModel = u"DISK"_s;
    alert.Attributes.push_back({197, u"Warning"_s, u"529 sectors"_s, 100, 100, 0, 529, true});
    TOutboxEntry entry{alert, pc.LastRead, {}};
    entry.Pending[u"e-mail"_s] = {2, pc.LastRead.addSecs(60), u"connection refused"_s};
    store.SaveOutbox({entry});
    const TOutbox outbox = store.LoadOutbox();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(outbox[0].Alert, alert);
    EXPECT_EQ(outbox[0].Pending.at(u"e-mail"_s).Attempts, 2);
    EXPECT_EQ(outbox[0].Pending.at(u"e-mail"_s).NextAttempt, pc.LastRead.addSecs(60));
    EXPECT_EQ(QDir(store.Folder()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{u"alerted.json"_s, u"outbox.json"_s})) << "no temporary file is left";
}

TEST(AlertStore, DamagedFileIsNamedInTheError)
{
    test::ScopedSandbox box;
    TAlertStore store(box.path());
    QDir().mkpath(store.Folder());
    QFile f(store.StateFile());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{\"Computers\": [");
    f.close();
    try {
        store.LoadState();
        FAIL() << "a damaged state file must raise";
    } catch (const EAlertStoreError &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(store.StateFile())) << e.what();
    }
}

TEST(AlertStore, LockKeepsOutAnotherWriter)
{
    test::ScopedSandbox box;
    TAlertStore first(box.path()), second(box.path());
    ASSERT_TRUE(first.Lock(1000));
    EXPECT_FALSE(second.Lock(100));
    first.Unlock();
    EXPECT_TRUE(second.Lock(1000));
}
