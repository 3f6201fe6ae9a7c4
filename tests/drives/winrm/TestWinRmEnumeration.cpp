// The provider's walk of a query against a scripted session: how sessions are
// shared, and how the end of a sequence is found.

#include "drives/winrm/WinRmProvider.h"
#include "drives/winrm/WsManMessages.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora::drives;
using namespace valmora::drives::winrm;

namespace {

struct TSent
{
    QString action, messageId, context;
};

TSent inspect(const QByteArray &soap)
{
    TSent s;
    QXmlStreamReader r(soap);
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (r.name() == u"Action")
            s.action = r.readElementText();
        else if (r.name() == u"MessageID")
            s.messageId = r.readElementText();
        else if (r.name() == u"EnumerationContext")
            s.context = r.readElementText();
    }
    return s;
}

// The answers of a session, one per request, each given what was sent.
using TScript = std::deque<std::function<TWinRmReply(const TSent &)>>;

QByteArray answer(const QString &action, const QString &relatesTo, const QByteArray &body)
{
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
           "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
           "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\"><s:Header><a:Action>"
           + action.toUtf8() + "</a:Action><a:RelatesTo>" + relatesTo.toUtf8() + "</a:RelatesTo></s:Header><s:Body>"
           + body + "</s:Body></s:Envelope>";
}

QByteArray item(int n)
{
    return "<p:X xmlns:p=\"urn:x\"><p:N>" + QByteArray::number(n) + "</p:N></p:X>";
}

class ScriptedSession final : public TWinRmSession
{
public:
    ScriptedSession(TScript &script, std::vector<TSent> &sent, int &opens)
        : m_script(script)
        , m_sent(sent)
        , m_opens(opens)
    {
    }
    void Open() override { ++m_opens; }
    TWinRmReply Exchange(const QByteArray &soap) override
    {
        const TSent s = inspect(soap);
        m_sent.push_back(s);
        if (m_script.empty())
            throw EWmiError(u"script ended"_s);
        auto next = std::move(m_script.front());
        m_script.pop_front();
        return next(s);
    }
    QString Endpoint() const override { return u"http://scripted:5985/wsman"_s; }

private:
    TScript &m_script;
    std::vector<TSent> &m_sent;
    int &m_opens;
};

struct Fixture
{
    explicit Fixture(TWinRmOptions options = {})
        : provider(std::move(options),
                   [this](const QString &server, const QString &user, const QString &, const TWinRmOptions &) {
                       sessions << server + u'/' + user;
                       return std::make_unique<ScriptedSession>(script, sent, opens);
                   })
    {
    }
    TScript script;
    std::vector<TSent> sent;
    int opens = 0;
    QStringList sessions; // "server/user" per session created
    TWinRmProvider provider;

    std::vector<std::int64_t> walk(const QString &server = u"pc1"_s, const QString &user = u"CORP\\a"_s)
    {
        std::vector<std::int64_t> got;
        walkInto(got, server, user);
        return got;
    }
    // Keeps what arrived before a failure.
    void walkInto(std::vector<std::int64_t> &got, const QString &server = u"pc1"_s, const QString &user = u"CORP\\a"_s)
    {
        auto services = provider.CreateLocator()->ConnectServer(server, u"root\\CIMV2"_s, user, u"pw"_s);
        auto items = services->ExecQuery(u"SELECT * FROM X"_s, u"WQL"_s, 32)->NewEnum();
        while (auto o = items->Next())
            got.push_back(o->ReadInt64(u"N"_s));
    }
};

const QString enumerateResponse = QString::fromUtf16(winrm::action::EnumerateResponse);
const QString pullResponse = QString::fromUtf16(winrm::action::PullResponse);

} // namespace

TEST(WinRmEnumeration, MissingContextEndsTheSequence)
{
    Fixture f;
    f.script.push_back([](const TSent &s) {
        return TWinRmReply{200, answer(enumerateResponse, s.messageId,
                                       "<n:EnumerateResponse><w:Items>" + item(1) + item(2)
                                           + "</w:Items></n:EnumerateResponse>")};
    });
    EXPECT_EQ(f.walk(), (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(f.sent.size(), 1u); // no Pull, no Release
}

TEST(WinRmEnumeration, PullsWithTheLatestContextUntilTheEnd)
{
    Fixture f;
    f.script.push_back([](const TSent &s) {
        return TWinRmReply{200, answer(enumerateResponse, s.messageId,
                                       "<n:EnumerateResponse><n:EnumerationContext>c1</n:EnumerationContext>"
                                       "<w:Items/></n:EnumerateResponse>")};
    });
    f.script.push_back([](const TSent &s) {
        return TWinRmReply{200, answer(pullResponse, s.messageId,
                                       "<n:PullResponse><n:EnumerationContext>c2</n:EnumerationContext><n:Items>"
                                           + item(7) + "</n:Items></n:PullResponse>")};
    });
    f.script.push_back([](const TSent &s) {
        return TWinRmReply{200, answer(pullResponse, s.messageId,
                                       "<n:PullResponse><n:Items>" + item(8)
                                           + "</n:Items><n:EndOfSequence/></n:PullResponse>")};
    });
    EXPECT_EQ(f.walk(), (std::vector<std::int64_t>{7, 8}));
    ASSERT_EQ(f.sent.size(), 3u);
    EXPECT_EQ(f.sent[1].context, u"c1"_s);
    EXPECT_EQ(f.sent[2].context, u"c2"_s);
}

TEST(WinRmEnumeration, EndlessEmptyPagesAndWrongAnswersFail)
{
    Fixture f;
    f.script.push_back([](const TSent &s) {
        return TWinRmReply{200, answer(enumerateResponse, s.messageId,
                                       "<n:EnumerateResponse><n:EnumerationContext>c</n:EnumerationContext>"
                                       "</n:EnumerateResponse>")};
    });
    for (int i = 0; i < 200; ++i)
        f.script.push_back([](const TSent &s) {
            return TWinRmReply{200, answer(pullResponse, s.messageId,
                                           "<n:PullResponse><n:EnumerationContext>c</n:EnumerationContext>"
                                           "</n:PullResponse>")};
        });
    f.script.push_back([](const TSent &s) { // the Release of the abandoned walk
        return TWinRmReply{200, answer(QString::fromUtf16(winrm::action::ReleaseResponse), s.messageId, {})};
    });
    EXPECT_THROW(f.walk(), EWmiError);
    EXPECT_EQ(f.sent.back().action, QString::fromUtf16(winrm::action::Release));
    EXPECT_LT(f.sent.size(), 110u);

    Fixture g;
    g.script.push_back([](const TSent &) { // relates to another request
        return TWinRmReply{200, answer(enumerateResponse, u"uuid:other"_s, "<n:EnumerateResponse/>")};
    });
    g.script.push_back([](const TSent &) { return TWinRmReply{503, {}}; });
    g.script.push_back([](const TSent &) { return TWinRmReply{500, "<html>oops</html>"}; });
    for (int i = 0; i < 3; ++i)
        EXPECT_THROW(g.walk(), EWmiError);
}

TEST(WinRmEnumeration, OneSessionPerComputerAndAccount)
{
    Fixture f;
    for (int i = 0; i < 4; ++i)
        f.script.push_back([](const TSent &s) {
            return TWinRmReply{200, answer(enumerateResponse, s.messageId,
                                           "<n:EnumerateResponse><w:Items>" + item(1)
                                               + "</w:Items><w:EndOfSequence/></n:EnumerateResponse>")};
        });
    f.walk(u"pc1"_s);
    f.walk(u"PC1"_s); // names compare without regard to letter case
    f.walk(u"pc1"_s, u"CORP\\b"_s);
    f.walk(u"pc2"_s, u"CORP\\b"_s);
    EXPECT_EQ(f.sessions, (QStringList{u"pc1/CORP\\a"_s, u"pc1/CORP\\b"_s, u"pc2/CORP\\b"_s}));
    EXPECT_EQ(f.opens, 4); // each stage's ConnectServer makes sure the session is open
    EXPECT_THROW(f.provider.CreateLocator()->ConnectServer(u" "_s, u"root\\CIMV2"_s, u"u"_s, u"p"_s), EWmiError);
}

TEST(WinRmEnumeration, SequencesThatNeverEndStopAtTheirBounds)
{
    struct Case
    {
        const char *what;
        TEnumerationLimits limits;
        int sleepMs;             // per answer, for the bound in time
        const char *reason;
        std::size_t items;       // taken before the failure
    };
    const Case cases[] = {
        {"Pulls", {100000, 50, 600000}, 0, "within 50 Pull requests", 51},
        {"items", {40, 100000, 600000}, 0, "more than 40 instances", 40},
        {"time", {100000, 100000, 30}, 5, "within 0.03 s", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TWinRmOptions o;
        o.enumeration = c.limits;
        Fixture f(o);
        // One more instance with every answer, and never the end.
        int n = 0;
        for (int i = 0; i < 2000; ++i)
            f.script.push_back([&n, &c](const TSent &s) {
                if (c.sleepMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(c.sleepMs));
                if (s.action == QString::fromUtf16(winrm::action::Release))
                    return TWinRmReply{200, answer(QString::fromUtf16(winrm::action::ReleaseResponse), s.messageId, {})};
                const bool first = s.action == QString::fromUtf16(winrm::action::Enumerate);
                const QByteArray element = first ? "EnumerateResponse" : "PullResponse";
                return TWinRmReply{200, answer(first ? enumerateResponse : pullResponse, s.messageId,
                                               "<n:" + element + "><n:EnumerationContext>c</n:EnumerationContext><n:Items>"
                                                   + item(++n) + "</n:Items></n:" + element + '>')};
            });
        std::vector<std::int64_t> got;
        try {
            f.walkInto(got);
            ADD_FAILURE() << "an endless sequence must fail";
        } catch (const EWmiError &e) {
            EXPECT_TRUE(e.message().contains(QLatin1StringView(c.reason))) << e.what();
            EXPECT_TRUE(e.message().contains(u"SELECT * FROM X"_s)) << e.what();
        }
        if (c.items > 0) {
            EXPECT_EQ(got.size(), c.items);
        }
        EXPECT_EQ(f.sent.back().action, QString::fromUtf16(winrm::action::Release)); // the service may drop it
        EXPECT_LT(f.sent.size(), 1000u);
    }
}
