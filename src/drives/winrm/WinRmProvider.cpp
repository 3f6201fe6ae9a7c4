#include "WinRmProvider.h"

#include <QElapsedTimer>
#include <QHostAddress>

#include <deque>

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives::winrm {

TAccountName TAccountName::Parse(const QString &user)
{
    TAccountName a;
    const QString u = user.trimmed();
    const qsizetype slash = u.indexOf(QLatin1Char('\\'));
    if (slash >= 0) {
        a.domain = u.left(slash);
        a.name = u.mid(slash + 1);
        if (a.domain == u"."_s)
            a.domain.clear();
        return a;
    }
    const qsizetype at = u.lastIndexOf(QLatin1Char('@'));
    if (at > 0 && at < u.size() - 1) {
        a.name = u.left(at);
        a.domain = u.mid(at + 1);
        a.upn = true;
        return a;
    }
    a.name = u;
    return a;
}

QString TAccountName::KerberosPrincipal(const QString &defaultRealm) const
{
    if (domain.isEmpty() || name.isEmpty())
        return QString();
    if (!upn && !domain.contains(u'.') && !defaultRealm.isEmpty()
        && defaultRealm.section(u'.', 0, 0).compare(domain, Qt::CaseInsensitive) == 0)
        return name + u'@' + defaultRealm.toUpper();
    return name + u'@' + domain.toUpper();
}

QString TAccountName::NtlmName() const
{
    if (domain.isEmpty())
        return name;
    return upn ? name + u'@' + domain : domain + u'\\' + name;
}

bool IsAddress(const QString &host)
{
    QString h = host;
    if (h.startsWith(u'[') && h.endsWith(u']'))
        h = h.mid(1, h.size() - 2);
    return !QHostAddress(h).isNull();
}

namespace {


constexpr int maxEmptyPulls = 100;

void checkStatus(const TWinRmReply &reply, const QString &endpoint, const char *what)
{
    if (reply.status == 200)
        return;
    if (reply.status == 500 && !reply.soap.isEmpty()) {
        TFault fault;
        bool isFault = false;
        try {
            isFault = FindFault(reply.soap, fault);
        } catch (const EWmiError &) {
        }
        if (isFault)
            throw EWmiError(u"WMI fault from %1 in answer to %2: %3"_s.arg(endpoint, QString::fromLatin1(what),
                                                                            fault.Message()));
    }
    throw EWmiError(u"%1 on %2 failed: HTTP status %3"_s.arg(QString::fromLatin1(what), endpoint).arg(reply.status));
}

// The walk of one query: the items at hand, and the context to pull more with.
class Enumeration
{
public:
    Enumeration(std::shared_ptr<TWinRmSession> session, QString resourceUri, const TRequestLimits &limits,
                const TEnumerationLimits &bounds)
        : m_session(std::move(session))
        , m_uri(std::move(resourceUri))
        , m_limits(limits)
        , m_bounds(bounds)
    {
    }
    ~Enumeration()
    {
        if (m_end || m_context.isEmpty())
            return;
        // Abandoned before its end: tell the service to drop the context.
        try {
            const QString id = NewMessageId();
            const TWinRmReply reply =
                m_session->Exchange(BuildRelease(m_session->Endpoint(), m_uri, m_context, id, m_limits));
            if (reply.status == 200)
                ParseReleaseResponse(reply.soap, id);
        } catch (const std::exception &) {
            // The service drops the context on its own time-out.
        }
    }
    Enumeration(const Enumeration &) = delete;
    Enumeration &operator=(const Enumeration &) = delete;

    void Start(const QString &wql)
    {
        m_query = wql;
        m_clock.start();
        const QString id = NewMessageId();
        // ASSOCIATORS OF goes as the association filter, which the service takes where WQL's form fails.
        const auto associators = ParseAssociatorsQuery(wql);
        const QByteArray request =
            associators ? BuildAssociatorsEnumerate(m_session->Endpoint(), m_uri, associators->className,
                                                    associators->keyProperty, associators->keyValue,
                                                    associators->assocClass, id, m_limits)
                        : BuildEnumerate(m_session->Endpoint(), m_uri, wql, id, m_limits);
        const TWinRmReply reply = exchange("Enumerate", request);
        checkStatus(reply, m_session->Endpoint(), "Enumerate");
        take(ParseEnumerationResponse(reply.soap, QString::fromUtf16(action::EnumerateResponse), id));
    }

    std::unique_ptr<TWmiObject> Next()
    {
        int empty = 0;
        while (m_items.empty()) {
            if (m_end)
                return nullptr;
            if (++empty > maxEmptyPulls)
                throw EWmiError(u"%1 sends no instances and no end of the sequence"_s.arg(m_session->Endpoint()));
            if (++m_pulls > m_bounds.maxPulls)
                throw EWmiError(u"%1 does not end \"%2\" within %3 Pull requests"_s.arg(m_session->Endpoint(), m_query)
                                    .arg(m_bounds.maxPulls));
            if (m_clock.hasExpired(m_bounds.maxQueryMs))
                throw EWmiError(u"%1 does not end \"%2\" within %3 s"_s.arg(m_session->Endpoint(), m_query)
                                    .arg(m_bounds.maxQueryMs / 1000.0));
            const QString id = NewMessageId();
            const TWinRmReply reply = exchange("Pull", BuildPull(m_session->Endpoint(), m_uri, m_context, id, m_limits));
            checkStatus(reply, m_session->Endpoint(), "Pull");
            take(ParseEnumerationResponse(reply.soap, QString::fromUtf16(action::PullResponse), id));
        }
        auto object = std::make_unique<TWsManObject>(std::move(m_items.front()));
        m_items.pop_front();
        return object;
    }

private:
    // A transport failure names the request it was waiting for.
    TWinRmReply exchange(const char *what, const QByteArray &soap)
    {
        try {
            return m_session->Exchange(soap);
        } catch (const EWmiError &e) {
            throw EWmiError(u"%1 (during %2)"_s.arg(e.message(), QString::fromLatin1(what)));
        }
    }

    void take(TEnumerationPage page)
    {
        m_received += static_cast<qint64>(page.items.size());
        if (m_received > m_bounds.maxItems)
            throw EWmiError(u"%1 sends more than %2 instances for \"%3\""_s.arg(m_session->Endpoint())
                                .arg(m_bounds.maxItems)
                                .arg(m_query));
        for (auto &item : page.items)
            m_items.push_back(std::move(item));
        if (!page.context.isEmpty())
            m_context = page.context;
        // An empty or missing context ends the sequence as well.
        m_end = page.endOfSequence || page.context.isEmpty();
    }

    std::shared_ptr<TWinRmSession> m_session;
    QString m_uri;
    TRequestLimits m_limits;
    TEnumerationLimits m_bounds;
    QString m_query;
    QElapsedTimer m_clock;
    int m_pulls = 0;
    qint64 m_received = 0;
    QString m_context;
    bool m_end = false;
    std::deque<TWsManObject> m_items;
};

class Enumerator final : public TWmiEnumerator
{
public:
    explicit Enumerator(std::shared_ptr<Enumeration> walk)
        : m_walk(std::move(walk))
    {
    }
    std::unique_ptr<TWmiObject> Next() override { return m_walk->Next(); }

private:
    std::shared_ptr<Enumeration> m_walk;
};

class ObjectSet final : public TWmiObjectSet
{
public:
    explicit ObjectSet(std::shared_ptr<Enumeration> walk)
        : m_walk(std::move(walk))
    {
    }
    // The result is forward-only: it can be walked once.
    std::unique_ptr<TWmiEnumerator> NewEnum() override
    {
        if (!m_walk)
            throw EWmiError(u"The result of a forward-only query can be walked only once"_s);
        return std::make_unique<Enumerator>(std::move(m_walk));
    }

private:
    std::shared_ptr<Enumeration> m_walk;
};

class Services final : public TWmiServices
{
public:
    Services(std::shared_ptr<TWinRmSession> session, QString resourceUri, const TWinRmOptions &options)
        : m_session(std::move(session))
        , m_uri(std::move(resourceUri))
        , m_limits(options.limits)
        , m_bounds(options.enumeration)
    {
    }
    std::unique_ptr<TWmiObjectSet> ExecQuery(const QString &query, const QString &language, int) override
    {
        if (language.compare(u"WQL"_s, Qt::CaseInsensitive) != 0)
            throw EWmiError(u"Query language \"%1\" is not supported"_s.arg(language));
        auto walk = std::make_shared<Enumeration>(m_session, m_uri, m_limits, m_bounds);
        walk->Start(query);
        return std::make_unique<ObjectSet>(std::move(walk));
    }

private:
    std::shared_ptr<TWinRmSession> m_session;
    QString m_uri;
    TRequestLimits m_limits;
    TEnumerationLimits m_bounds;
};

class Locator final : public TWmiLocator
{
public:
    explicit Locator(TWinRmProvider &provider)
        : m_provider(provider)
    {
    }
    std::unique_ptr<TWmiServices> ConnectServer(const QString &server, const QString &nameSpace, const QString &user,
                                                const QString &password) override
    {
        if (server.trimmed().isEmpty())
            throw EWmiError(u"No computer name given"_s);
        auto session = m_provider.Session(server, user, password);
        session->Open();
        return std::make_unique<Services>(std::move(session), ResourceUri(nameSpace), m_provider.Options());
    }

private:
    TWinRmProvider &m_provider;
};

} // namespace

TWinRmProvider::TWinRmProvider(TWinRmOptions options, TWinRmSessionFactory factory)
    : m_options(std::move(options))
    , m_factory(std::move(factory))
{
}

TWinRmProvider::~TWinRmProvider() = default;

std::unique_ptr<TWmiLocator> TWinRmProvider::CreateLocator()
{
    return std::make_unique<Locator>(*this);
}

std::shared_ptr<TWinRmSession> TWinRmProvider::Session(const QString &server, const QString &user,
                                                       const QString &password)
{
    if (m_session && server.compare(m_server, Qt::CaseInsensitive) == 0 && user == m_user && password == m_password)
        return m_session;
    m_session.reset();
    m_session = std::shared_ptr<TWinRmSession>(m_factory(server, user, password, m_options));
    m_server = server;
    m_user = user;
    m_password = password;
    return m_session;
}

} // namespace valmora::drives::winrm
