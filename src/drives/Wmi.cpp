#include "Wmi.h"

#include <QRegularExpression>

#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives {

namespace {

EWmiError missing(const QString &property)
{
    return EWmiError(u"Property \"%1\" not found"_s.arg(property));
}

EWmiError notNumeric(const QString &property)
{
    return EWmiError(u"Property \"%1\" is not a number"_s.arg(property));
}

} // namespace

void TWmiInstance::Set(const QString &property, TWmiValue value)
{
    for (auto &[name, v] : m_properties) {
        if (QString::compare(name, property, Qt::CaseInsensitive) == 0) {
            v = std::move(value);
            return;
        }
    }
    m_properties.emplace_back(property, std::move(value));
}

const TWmiValue *TWmiInstance::Find(const QString &property) const
{
    for (const auto &[name, v] : m_properties)
        if (QString::compare(name, property, Qt::CaseInsensitive) == 0)
            return &v;
    return nullptr;
}

QString TWmiInstance::ReadText(const QString &property) const
{
    const TWmiValue *v = Find(property);
    if (!v)
        return QString();
    if (const auto *s = std::get_if<QString>(v))
        return *s;
    if (const auto *i = std::get_if<std::int64_t>(v))
        return QString::number(*i);
    if (const auto *b = std::get_if<bool>(v))
        return *b ? u"True"_s : u"False"_s;
    if (std::holds_alternative<std::vector<std::int64_t>>(*v))
        throw EWmiError(u"Property \"%1\" is an array"_s.arg(property));
    return QString();
}

std::int64_t TWmiInstance::ReadInt64(const QString &property) const
{
    const TWmiValue *v = Find(property);
    if (!v)
        throw missing(property);
    if (const auto *i = std::get_if<std::int64_t>(v))
        return *i;
    if (const auto *b = std::get_if<bool>(v))
        return *b ? -1 : 0;
    if (const auto *s = std::get_if<QString>(v)) {
        bool ok = false;
        const qlonglong n = s->trimmed().toLongLong(&ok);
        if (ok)
            return n;
        const qulonglong u = s->trimmed().toULongLong(&ok);
        if (ok)
            return static_cast<std::int64_t>(u);
    }
    throw notNumeric(property);
}

std::int32_t TWmiInstance::ReadInt32(const QString &property) const
{
    const std::int64_t n = ReadInt64(property);
    if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::uint32_t>::max())
        throw EWmiError(u"Property \"%1\" is out of range"_s.arg(property));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(n));
}

std::uint8_t TWmiInstance::ReadArrayByte(const QString &property, int index) const
{
    return static_cast<std::uint8_t>(ReadArrayInt64(property, index));
}

std::int64_t TWmiInstance::ReadArrayInt64(const QString &property, int index) const
{
    const TWmiValue *v = Find(property);
    if (!v)
        throw missing(property);
    const auto *array = std::get_if<std::vector<std::int64_t>>(v);
    if (!array)
        throw EWmiError(u"Property \"%1\" is not an array"_s.arg(property));
    if (index < 0 || static_cast<std::size_t>(index) >= array->size())
        throw EWmiError(u"Index %1 of \"%2\" is out of bounds"_s.arg(index).arg(property));
    return (*array)[static_cast<std::size_t>(index)];
}

namespace {

class StaticEnumerator final : public TWmiEnumerator
{
public:
    explicit StaticEnumerator(const TWmiInstances &items)
        : m_items(items)
    {
    }
    std::unique_ptr<TWmiObject> Next() override
    {
        if (m_next >= m_items.size())
            return nullptr;
        return std::make_unique<TWmiInstance>(m_items[m_next++]);
    }

private:
    const TWmiInstances &m_items;
    std::size_t m_next = 0;
};

class StaticObjectSet final : public TWmiObjectSet
{
public:
    explicit StaticObjectSet(TWmiInstances items)
        : m_items(std::move(items))
    {
    }
    std::unique_ptr<TWmiEnumerator> NewEnum() override { return std::make_unique<StaticEnumerator>(m_items); }

private:
    TWmiInstances m_items;
};

class StaticServices final : public TWmiServices
{
public:
    StaticServices(TWmiStaticProvider &provider, QString server, QString nameSpace, QString user, QString password)
        : m_provider(provider)
        , m_server(std::move(server))
        , m_nameSpace(std::move(nameSpace))
        , m_user(std::move(user))
        , m_password(std::move(password))
    {
    }
    std::unique_ptr<TWmiObjectSet> ExecQuery(const QString &query, const QString &language, int) override
    {
        if (language.compare(u"WQL"_s, Qt::CaseInsensitive) != 0)
            throw EWmiError(u"Query language \"%1\" is not supported"_s.arg(language));
        return std::make_unique<StaticObjectSet>(m_provider.Query(m_server, m_nameSpace, m_user, m_password, query));
    }

private:
    TWmiStaticProvider &m_provider;
    QString m_server, m_nameSpace, m_user, m_password;
};

class StaticLocator final : public TWmiLocator
{
public:
    explicit StaticLocator(TWmiStaticProvider &provider)
        : m_provider(provider)
    {
    }
    std::unique_ptr<TWmiServices> ConnectServer(const QString &server, const QString &nameSpace, const QString &user,
                                                const QString &password) override
    {
        m_provider.Connect(server, nameSpace, user, password);
        return std::make_unique<StaticServices>(m_provider, server, nameSpace, user, password);
    }

private:
    TWmiStaticProvider &m_provider;
};

} // namespace

std::unique_ptr<TWmiLocator> TWmiStaticProvider::CreateLocator()
{
    return std::make_unique<StaticLocator>(*this);
}

QString QueriedClass(const QString &query)
{
    static const QRegularExpression select(u"^\\s*SELECT\\s+\\*\\s+FROM\\s+([A-Za-z0-9_]+)\\s*$"_s,
                                           QRegularExpression::CaseInsensitiveOption);
    const auto match = select.match(query);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString AssociatorsQueryText(const TAssociatorsQuery &q)
{
    QString value = q.keyValue;
    value.replace(u"\\"_s, u"\\\\"_s).replace(u"\""_s, u"\\\""_s);
    return u"ASSOCIATORS OF {%1.%2=\"%3\"} WHERE AssocClass = %4"_s.arg(q.className, q.keyProperty, value,
                                                                     q.assocClass);
}

std::optional<TAssociatorsQuery> ParseAssociatorsQuery(const QString &query)
{
    static const QRegularExpression associators(
        u"^\\s*ASSOCIATORS\\s+OF\\s*\\{\\s*([A-Za-z0-9_]+)\\.([A-Za-z0-9_]+)\\s*=\\s*\"((?:[^\"\\\\]|\\\\.)*)\"\\s*\\}"
        u"\\s*WHERE\\s+AssocClass\\s*=\\s*([A-Za-z0-9_]+)\\s*$"_s,
        QRegularExpression::CaseInsensitiveOption);
    const auto match = associators.match(query);
    if (!match.hasMatch())
        return std::nullopt;
    QString value;
    const QString escaped = match.captured(3);
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == u'\\' && i + 1 < escaped.size())
            ++i;
        value.append(escaped[i]);
    }
    return TAssociatorsQuery{match.captured(1), match.captured(2), value, match.captured(4)};
}

} // namespace valmora::drives
