// This computer and the network neighbourhood, the latter with a scripted
// enumeration that delivers batches and error results.
#include "DiscoveryTestSupport.h"

#include "discovery/Computers.h"
#include "discovery/ThisComputer.h"
#include "foundation/Exception.h"

#include <QFile>

#include <gtest/gtest.h>

#include <deque>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using platform::TEnumBatch;
using platform::TEnumResult;

namespace {

// Records the events of a source as "+name" and "-name".
struct EventLog
{
    QStringList events;
    void attach(TNNBase &source)
    {
        source.OnComputerAdded = [this](TNNBase &, const QString &name, bool &cancel) {
            EXPECT_FALSE(cancel);
            events.append(u"+"_s + name);
        };
        source.OnComputerDeleted = [this](TNNBase &, const QString &name, bool &cancel) {
            EXPECT_FALSE(cancel);
            events.append(u"-"_s + name);
        };
    }
};

QStringList names(const TNNBase &source)
{
    return source.Computers().names();
}

} // namespace

TEST(ThisComputer, OneLowerCaseEntryWithoutDomain)
{
    test::FakeHost host;
    host.hostName = u"WORKSTATION7.corp.example"_s;
    EXPECT_EQ(LocalComputerName(host), u"WORKSTATION7"_s);

    TThisComputer source(host);
    EventLog log;
    log.attach(source);
    EXPECT_TRUE(source.Refresh());
    EXPECT_TRUE(source.Refresh());
    EXPECT_EQ(names(source), QStringList{u"\\\\workstation7"_s});
    EXPECT_EQ(source.ComputerCount(), 1);
    EXPECT_EQ(source.ComputerName(0), u"workstation7"_s);
    EXPECT_EQ(log.events, (QStringList{u"+workstation7"_s, u"+workstation7"_s}));
    EXPECT_THROW(source.ComputerName(1), EListError);
    EXPECT_THROW(source.ComputerName(-1), EListError);
}

TEST(ThisComputer, OnlyAsciiLettersAreLowered)
{
    test::FakeHost host;
    host.hostName = u"ŻÓŁW-PC"_s;
    TThisComputer source(host);
    source.Refresh();
    EXPECT_EQ(source.ComputerName(0), u"ŻÓŁw-pc"_s);
}

TEST(ThisComputer, RealHostNameHasNoDot)
{
    const QString name = LocalComputerName();
    EXPECT_FALSE(name.isEmpty());
    EXPECT_FALSE(name.contains(u'.'));
}

TEST(NNBase, ComputerNameDropsOnlyALeadingPair)
{
    test::FakeHost host;
    TThisComputer source(host);
    source.Computers().add(u"host1"_s);
    source.Computers().add(u"\\\\PC-A"_s);
    EXPECT_EQ(source.ComputerName(0), u"host1"_s);
    EXPECT_EQ(source.ComputerName(1), u"PC-A"_s);
}

namespace {

// Plays a list of fetch results; counts opens and closes.
class ScriptedEnumerator final : public platform::TNetworkEnumerator
{
public:
    std::deque<TEnumBatch> script;
    bool openFails = false;
    bool closeFails = false;
    int opens = 0;
    int fetches = 0;
    int closes = 0;

    void push(TEnumResult result, QStringList names = {})
    {
        script.push_back(TEnumBatch{static_cast<std::uint32_t>(result), std::move(names)});
    }
    void pushCode(std::uint32_t result, QStringList names = {}) { script.push_back(TEnumBatch{result, std::move(names)}); }

    std::unique_ptr<platform::TNetworkEnumeration> Open(QString &error) override;
};

class ScriptedEnumeration final : public platform::TNetworkEnumeration
{
public:
    explicit ScriptedEnumeration(ScriptedEnumerator &owner) : m_owner(owner) {}
    TEnumBatch Next() override
    {
        ++m_owner.fetches;
        if (m_owner.script.empty())
            return TEnumBatch{static_cast<std::uint32_t>(TEnumResult::NoMoreItems), {}};
        TEnumBatch b = m_owner.script.front();
        m_owner.script.pop_front();
        return b;
    }
    bool Close() override
    {
        ++m_owner.closes;
        return !m_owner.closeFails;
    }

private:
    ScriptedEnumerator &m_owner;
};

std::unique_ptr<platform::TNetworkEnumeration> ScriptedEnumerator::Open(QString &error)
{
    ++opens;
    if (openFails) {
        error = u"no multicast interface"_s;
        return nullptr;
    }
    return std::make_unique<ScriptedEnumeration>(*this);
}

class NetworkNeighbourhood : public ::testing::Test
{
protected:
    NetworkNeighbourhood()
    {
        auto owned = std::make_unique<ScriptedEnumerator>();
        script = owned.get();
        source = std::make_unique<TNetworkNeigborhoodComputes>(std::move(owned));
        log.attach(*source);
    }

    ScriptedEnumerator *script;
    std::unique_ptr<TNetworkNeigborhoodComputes> source;
    EventLog log;
};

} // namespace

TEST_F(NetworkNeighbourhood, ReportsDifferencesToThePreviousList)
{
    script->push(TEnumResult::Success, {u"\\\\PC-B"_s, u"\\\\PC-A"_s});
    EXPECT_TRUE(source->Refresh());
    EXPECT_EQ(log.events, (QStringList{u"+\\\\PC-A"_s, u"+\\\\PC-B"_s}));
    EXPECT_EQ(names(*source), (QStringList{u"\\\\PC-A"_s, u"\\\\PC-B"_s}));
    EXPECT_EQ(script->closes, 1);

    log.events.clear();
    // Another letter case is the same computer; C is new, B has left.
    script->push(TEnumResult::Success, {u"\\\\pc-a"_s, u"\\\\PC-C"_s});
    EXPECT_TRUE(source->Refresh());
    EXPECT_EQ(log.events, (QStringList{u"-\\\\PC-B"_s, u"+\\\\PC-C"_s}));
    EXPECT_EQ(names(*source), (QStringList{u"\\\\PC-A"_s, u"\\\\PC-C"_s}));
    EXPECT_EQ(source->ComputerName(1), u"PC-C"_s);
}

TEST_F(NetworkNeighbourhood, FetchesBatchesUntilNoMoreItems)
{
    QStringList first, second;
    for (int i = 0; i < 300; ++i)
        (i < 200 ? first : second).append(u"\\\\PC%1"_s.arg(i, 3, 10, QChar(u'0')));
    script->push(TEnumResult::Success, first);
    script->push(TEnumResult::Success, second);
    script->push(TEnumResult::Success, {u""_s}); // an entry without a remote name
    script->push(TEnumResult::NoMoreItems);
    EXPECT_TRUE(source->Refresh());
    EXPECT_EQ(script->fetches, 4);
    EXPECT_EQ(source->ComputerCount(), 300);
    EXPECT_EQ(source->ComputerName(299), u"PC299"_s);
    EXPECT_EQ(log.events.size(), 300);
}

TEST_F(NetworkNeighbourhood, OtherResultsTakeTheirEntriesAndEndTheWalk)
{
    script->pushCode(234, {u"\\\\PC-A"_s}); // an unknown code: entries count, then stop
    script->push(TEnumResult::Success, {u"\\\\PC-B"_s});
    EXPECT_TRUE(source->Refresh());
    EXPECT_EQ(script->fetches, 1);
    EXPECT_EQ(names(*source), QStringList{u"\\\\PC-A"_s});
}

TEST_F(NetworkNeighbourhood, ErrorResultsRaiseTheirEventAndPassesRunWithWhatWasFound)
{
    struct Case
    {
        TEnumResult error;
        const char *event;
    };
    const Case cases[] = {{TEnumResult::InvalidHandle, "invalid handle"},
                          {TEnumResult::ExtendedError, "extended error 0 ''"},
                          {TEnumResult::NoNetwork, "no network"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.event);
        auto owned = std::make_unique<ScriptedEnumerator>();
        ScriptedEnumerator &s = *owned;
        TNetworkNeigborhoodComputes src(std::move(owned));
        EventLog events;
        events.attach(src);
        QStringList errors;
        src.OnErrorInvalidHandle = [&](TNNBase &) { errors.append(u"invalid handle"_s); };
        src.OnErrorNoNetwork = [&](TNNBase &) { errors.append(u"no network"_s); };
        src.OnErrorExtendedError = [&](TNetworkNeigborhoodComputes &, std::uint32_t code, const QString &text) {
            errors.append(u"extended error %1 '%2'"_s.arg(code).arg(text));
        };

        s.push(TEnumResult::Success, {u"\\\\OLD1"_s, u"\\\\OLD2"_s});
        ASSERT_TRUE(src.Refresh());
        events.events.clear();

        s.push(TEnumResult::Success, {u"\\\\OLD2"_s});
        s.push(c.error, {u"\\\\IGNORED"_s});
        s.push(TEnumResult::Success, {u"\\\\NEVER"_s});
        EXPECT_TRUE(src.Refresh());
        EXPECT_EQ(errors, QStringList{QString::fromUtf8(c.event)});
        EXPECT_EQ(s.fetches, 4); // two per Refresh; the batch after the error is never fetched
        EXPECT_EQ(s.script.size(), 1u);
        EXPECT_EQ(s.closes, 2);
        EXPECT_EQ(events.events, QStringList{u"-\\\\OLD1"_s});
        EXPECT_EQ(names(src), QStringList{u"\\\\OLD2"_s});
    }
}

TEST_F(NetworkNeighbourhood, NoNetworkAtAllRemovesEveryName)
{
    script->push(TEnumResult::Success, {u"\\\\PC-A"_s, u"\\\\PC-B"_s});
    source->Refresh();
    log.events.clear();
    script->push(TEnumResult::NoNetwork);
    EXPECT_TRUE(source->Refresh());
    EXPECT_EQ(log.events, (QStringList{u"-\\\\PC-A"_s, u"-\\\\PC-B"_s}));
    EXPECT_EQ(source->ComputerCount(), 0);
}

TEST_F(NetworkNeighbourhood, FailureToOpenChangesNothing)
{
    script->push(TEnumResult::Success, {u"\\\\PC-A"_s});
    source->Refresh();
    log.events.clear();
    script->openFails = true;
    script->push(TEnumResult::Success, {u"\\\\PC-B"_s});
    EXPECT_FALSE(source->Refresh());
    EXPECT_EQ(source->OpenError(), u"no multicast interface"_s);
    EXPECT_TRUE(log.events.isEmpty());
    EXPECT_EQ(names(*source), QStringList{u"\\\\PC-A"_s});
    EXPECT_EQ(script->fetches, 2); // those of the first Refresh only
    EXPECT_EQ(script->closes, 1);
}

TEST_F(NetworkNeighbourhood, FailureToCloseIsFalseAfterThePasses)
{
    script->closeFails = true;
    script->push(TEnumResult::Success, {u"\\\\PC-A"_s});
    EXPECT_FALSE(source->Refresh());
    EXPECT_EQ(log.events, QStringList{u"+\\\\PC-A"_s});
}

TEST_F(NetworkNeighbourhood, CancelStopsThePass)
{
    script->push(TEnumResult::Success, {u"\\\\A"_s, u"\\\\B"_s, u"\\\\C"_s});
    source->Refresh();
    log.events.clear();

    // Cancel in the removal pass stops it and skips the addition pass.
    source->OnComputerDeleted = [this](TNNBase &, const QString &name, bool &cancel) {
        log.events.append(u"-"_s + name);
        cancel = true;
    };
    script->push(TEnumResult::Success, {u"\\\\D"_s});
    source->Refresh();
    EXPECT_EQ(log.events, QStringList{u"-\\\\A"_s});
    EXPECT_EQ(names(*source), (QStringList{u"\\\\B"_s, u"\\\\C"_s}));

    // Cancel in the addition pass keeps the name it was raised for, then stops.
    log.attach(*source);
    log.events.clear();
    source->OnComputerAdded = [this](TNNBase &, const QString &name, bool &cancel) {
        log.events.append(u"+"_s + name);
        cancel = true;
    };
    script->push(TEnumResult::Success, {u"\\\\B"_s, u"\\\\C"_s, u"\\\\E"_s, u"\\\\F"_s});
    source->Refresh();
    EXPECT_EQ(log.events, QStringList{u"+\\\\E"_s});
    EXPECT_EQ(names(*source), (QStringList{u"\\\\B"_s, u"\\\\C"_s, u"\\\\E"_s}));
}

TEST_F(NetworkNeighbourhood, UntrustedNamesAreDroppedAndLogged)
{
    test::LogCapture capture;
    script->push(TEnumResult::Success,
                 {u"\\\\GOOD"_s, u"\\\\..\\etc"_s, u"\\\\bad\nname"_s, u"\\\\"_s, u"\\\\a:b"_s, u"\\\\Łódź-PC"_s});
    EXPECT_TRUE(source->Refresh());
    EXPECT_EQ(names(*source), (QStringList{u"\\\\GOOD"_s, u"\\\\Łódź-PC"_s}));
    const QStringList dropped = capture.exceptions();
    ASSERT_EQ(dropped.size(), 4);
    EXPECT_TRUE(dropped.at(1).contains(u"bad\\x{a}name"_s)) << dropped.at(1).toStdString();
    for (const QString &line : dropped) {
        EXPECT_TRUE(line.contains(u"the network neighbourhood"_s));
        EXPECT_FALSE(line.contains(u'\n'));
    }
}

TEST_F(NetworkNeighbourhood, AddKnownComputersTakesInformationFilesOnly)
{
    test::ScopedSandbox sandbox;
    const QString folder = sandbox.path(u"data"_s);
    QDir().mkpath(folder + u"/sub.wci"_s); // a folder counts like a file
    for (const QString &f : {u"PC1.wci"_s, u"pc2.WCI"_s, u"a.b.wci"_s, u"notes.txt"_s, u".wci"_s, u"x\\y.wci"_s,
                             u"GOOD.wci"_s}) {
        QFile file(folder + u'/' + f);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    script->push(TEnumResult::Success, {u"\\\\good"_s});
    source->Refresh();
    log.events.clear();

    source->AddKnownComputers(folder);
    EXPECT_TRUE(log.events.isEmpty());
    EXPECT_EQ(names(*source),
              (QStringList{u"\\\\good"_s, u"\\\\PC1"_s, u"\\\\pc2"_s, u"\\\\sub"_s}));

    source->AddKnownComputers(folder + u"/missing"_s);
    EXPECT_EQ(source->ComputerCount(), 4);

    // A known computer the network no longer shows leaves and comes back.
    script->push(TEnumResult::Success, {u"\\\\GOOD"_s});
    source->Refresh();
    EXPECT_EQ(log.events, (QStringList{u"-\\\\PC1"_s, u"-\\\\pc2"_s, u"-\\\\sub"_s}));
    source->AddKnownComputers(folder);
    EXPECT_EQ(source->ComputerCount(), 4);
}
