#include "ScriptedWmi.h"

using namespace Qt::Literals::StringLiterals;
using valmora::drives::EWmiError;

namespace valmora::test {

namespace {

struct Counted
{
    explicit Counted(WmiScript &s)
        : script(s)
    {
        ++script.live;
    }
    ~Counted() { --script.live; }
    Counted(const Counted &) = delete;
    WmiScript &script;
};

class Object final : public drives::TWmiObject
{
public:
    Object(WmiScript &s, drives::TWmiInstance instance)
        : m_count(s)
        , m_instance(std::move(instance))
    {
    }
    QString ReadText(const QString &p) const override { return m_instance.ReadText(p); }
    std::int64_t ReadInt64(const QString &p) const override { return m_instance.ReadInt64(p); }
    std::int32_t ReadInt32(const QString &p) const override { return m_instance.ReadInt32(p); }
    std::uint8_t ReadArrayByte(const QString &p, int i) const override { return m_instance.ReadArrayByte(p, i); }

private:
    Counted m_count;
    drives::TWmiInstance m_instance;
};

class Enumerator final : public drives::TWmiEnumerator
{
public:
    Enumerator(WmiScript &s, QString cls)
        : m_count(s)
        , m_class(std::move(cls))
    {
    }
    std::unique_ptr<drives::TWmiObject> Next() override
    {
        WmiScript &s = m_count.script;
        const auto fail = s.failNext.find(m_class);
        if (fail != s.failNext.end() && fail->second == m_next)
            throw EWmiError(u"enumeration failed"_s);
        const drives::TWmiInstances &items = s.classes[m_class];
        if (static_cast<std::size_t>(m_next) >= items.size())
            return nullptr;
        return std::make_unique<Object>(s, items[static_cast<std::size_t>(m_next++)]);
    }

private:
    Counted m_count;
    QString m_class;
    int m_next = 0;
};

class ObjectSet final : public drives::TWmiObjectSet
{
public:
    ObjectSet(WmiScript &s, QString cls)
        : m_count(s)
        , m_class(std::move(cls))
    {
    }
    std::unique_ptr<drives::TWmiEnumerator> NewEnum() override
    {
        return std::make_unique<Enumerator>(m_count.script, m_class);
    }

private:
    Counted m_count;
    QString m_class;
};

class Services final : public drives::TWmiServices
{
public:
    explicit Services(WmiScript &s)
        : m_count(s)
    {
    }
    std::unique_ptr<drives::TWmiObjectSet> ExecQuery(const QString &query, const QString &language, int flags) override
    {
        WmiScript &s = m_count.script;
        s.queries.push_back({query, language, flags});
        const QString cls = drives::QueriedClass(query);
        if (s.failQuery.count(cls))
            throw EWmiError(u"query refused"_s);
        return std::make_unique<ObjectSet>(s, cls);
    }

private:
    Counted m_count;
};

class Locator final : public drives::TWmiLocator
{
public:
    explicit Locator(WmiScript &s)
        : m_count(s)
    {
    }
    std::unique_ptr<drives::TWmiServices> ConnectServer(const QString &server, const QString &nameSpace,
                                                     const QString &user, const QString &password) override
    {
        WmiScript &s = m_count.script;
        const int ordinal = static_cast<int>(s.connections.size());
        s.connections.push_back({server, nameSpace, user, password});
        if (s.failConnect.count(ordinal))
            throw EWmiError(u"The RPC server is unavailable."_s);
        return std::make_unique<Services>(s);
    }

private:
    Counted m_count;
};

} // namespace

std::unique_ptr<drives::TWmiLocator> ScriptedProvider::CreateLocator()
{
    if (m_script.failLocator.count(m_script.locators++))
        throw EWmiError(u"locator not available"_s);
    return std::make_unique<Locator>(m_script);
}

} // namespace valmora::test
