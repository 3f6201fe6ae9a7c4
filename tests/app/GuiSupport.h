#pragma once

// The window's world for tests: a network that lists what the test says, pings
// answered from a table, and drives read from the recorded computers of
// tests/fixtures/gui/recordings.

#include "MainForm.h"

#include "drivedata/WmiDriveReader.h"
#include "drives/recordings/WmiRecordings.h"
#include "foundation/Environment.h"
#include "foundation/Options.h"
#include "foundation/RegistryHelper.h"

#include "TestSupport.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStringList>
#include <QTest>

#include <map>
#include <mutex>

namespace valmora::test {

inline QString Recordings()
{
    return OwnFixture(QStringLiteral("gui/recordings"));
}

// The names the network lists; the test may change them while threads run.
struct NetworkNames
{
    void set(QStringList list)
    {
        std::lock_guard lock(mutex);
        names = std::move(list);
    }
    QStringList get()
    {
        std::lock_guard lock(mutex);
        return names;
    }
    std::mutex mutex;
    QStringList names;
    bool reachable = true;
};

class ScriptedEnumerator final : public platform::TNetworkEnumerator
{
public:
    explicit ScriptedEnumerator(std::shared_ptr<NetworkNames> names)
        : m_names(std::move(names))
    {
    }
    std::unique_ptr<platform::TNetworkEnumeration> Open(QString &error) override
    {
        if (!m_names->reachable) {
            error = QStringLiteral("no network");
            return nullptr;
        }
        return std::make_unique<Enumeration>(m_names->get());
    }

private:
    class Enumeration final : public platform::TNetworkEnumeration
    {
    public:
        explicit Enumeration(QStringList names)
            : m_names(std::move(names))
        {
        }
        platform::TEnumBatch Next() override
        {
            platform::TEnumBatch batch;
            if (!m_done) {
                batch.result = static_cast<std::uint32_t>(platform::TEnumResult::Success);
                for (const QString &n : std::as_const(m_names))
                    batch.remoteNames.append(QStringLiteral("\\\\") + n);
                m_done = true;
            }
            return batch;
        }
        bool Close() override { return true; }

    private:
        QStringList m_names;
        bool m_done = false;
    };
    std::shared_ptr<NetworkNames> m_names;
};

// Every host answers but those named silent.
class TableEcho final : public TIcmpEcho
{
public:
    explicit TableEcho(QStringList silent)
        : m_silent(std::move(silent))
    {
    }
    TReplyStatus Echo(const QString &host, int, int) override
    {
        TReplyStatus s;
        s.ReplyStatusType = m_silent.contains(host, Qt::CaseInsensitive) ? TReplyStatusType::rsTimeOut
                                                                         : TReplyStatusType::rsEcho;
        return s;
    }

private:
    QStringList m_silent;
};

inline int ReadRecorded(const QString &computer, TDriveList &list, const QString &user, const QString &password)
{
    drives::recordings::TWmiRecordingProvider provider(Recordings());
    return ReadComputerDrives(provider, computer, list, user, password);
}

// The window's and the refresh thread's parts over one scripted network; the
// thread uses the window's sources.
inline TMainFormParts Parts(std::shared_ptr<NetworkNames> names, QStringList silent)
{
    TMainFormParts parts;
    parts.ThisComputer1 = std::make_unique<TThisComputer>();
    parts.NetworkNeigborhoodComputes1 =
        std::make_unique<TNetworkNeigborhoodComputes>(std::make_unique<ScriptedEnumerator>(names));
    parts.IPNetworkNeigborhoodComputes1 = std::make_unique<TIPNetworkNeigborhoodComputes>();
    parts.CreateEcho = [silent] { return std::make_unique<TableEcho>(silent); };
    parts.ReadDrives = &ReadRecorded;
    parts.LocalComputerName = QStringLiteral("THISDESK");
    parts.CreateThreadParts = [silent] {
        TRefreshThreadParts p;
        p.Echo = std::make_unique<TableEcho>(silent);
        p.ReadDrives = &ReadRecorded;
        p.LocalComputerName = QStringLiteral("THISDESK");
        return p;
    };
    parts.TrayAvailable = [] { return false; };
    return parts;
}

// Settings of a start after the first: no tray, an interval long enough that
// only the first cycle runs during a test.
inline void WriteQuietSettings(int searchKind = 1)
{
    TOptions::WriteFirstRun(false);
    TOptions::WriteMinimizeToTray(false);
    TOptions::WriteSearchKind(static_cast<std::uint8_t>(searchKind));
    TRegistryHelper::WriteInteger(TOptions::KeyPath, QStringLiteral("Interval"), TRootKey::CurrentUser, 1800);
}

inline QString DataFolder()
{
    return TWindowsFolders::CommonAppDataFolder(QStringLiteral("Quillmoor\\Valmora"));
}

// Saves what a recorded computer's drives read as to the information file of name.
inline void StoreReadout(const QString &recorded, const QString &name)
{
    TDriveList list;
    ReadRecorded(recorded, list, QString(), QString());
    list.SaveToFile(DataFolder() + name + QStringLiteral(".wci"));
}

// The captions of a group, in the order shown.
inline QStringList Captions(const TMainForm &form, int group)
{
    return form.Computers()->Names(GroupFromState(group));
}

// The list's computer of that name, nullptr when it holds none.
inline const TComputerRow *Computer(const TMainForm &form, const QString &name)
{
    return form.Computers()->Computer(name);
}

// The group a computer is shown in, as its state number; 0 when the list does not hold it.
inline int GroupOf(const TMainForm &form, const QString &name)
{
    const TComputerRow *computer = Computer(form, name);
    return computer ? StateOfGroup(computer->Group) : 0;
}

// Clicks the item of that text in a menu that is open, as a user would; false
// when the menu did not open or holds no such enabled item.
inline bool ClickMenuItem(QMenu *menu, const QString &text)
{
    if (!menu || !QTest::qWaitFor([menu] { return menu->isVisible(); }, 5000))
        return false;
    QAction *item = nullptr;
    for (QAction *a : menu->actions())
        if (!a->isSeparator() && a->text() == text)
            item = a;
    if (!item || !item->isEnabled() || !item->isVisible())
        return false;
    const QPoint at = menu->actionGeometry(item).center();
    QTest::mouseMove(menu, at);
    // A command that opens a modal dialog returns from this click only when the dialog closed.
    QTest::mouseClick(menu, Qt::LeftButton, {}, at);
    return true;
}

// Opens a menu of the menu bar by its title and chooses one of its items.
inline bool ChooseFromMenuBar(QMenuBar *bar, QMenu *menu, const QString &text)
{
    const QRect title = bar->actionGeometry(menu->menuAction());
    if (title.isEmpty())
        return false;
    QTest::mouseClick(bar, Qt::LeftButton, {}, title.center());
    return ClickMenuItem(menu, text);
}

// The texts of a menu's items, "-" for a separator.
inline QStringList MenuTexts(const QMenu *menu)
{
    QStringList texts;
    for (QAction *a : menu->actions())
        texts.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

// Asserts an action is there and enabled, then triggers it.
inline bool TriggerAction(QAction *action)
{
    if (!action || !action->isEnabled() || !action->isVisible())
        return false;
    action->trigger();
    return true;
}

} // namespace valmora::test
