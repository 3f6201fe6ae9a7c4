#pragma once

// The operations of the management instrumentation that the drive reader needs,
// one small interface each, so the reader's stages run against this computer
// (sysfs and S.M.A.R.T. sectors), a remote Windows computer (WS-Management), a
// recording, or a scripted substitute in tests. Every operation may fail: it
// then raises EWmiError.

#include "foundation/Exception.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace valmora::drives {

class EWmiError final : public Exception
{
public:
    using Exception::Exception;
};

// One object of a query result.
class TWmiObject
{
public:
    virtual ~TWmiObject() = default;
    // A missing or null value gives empty text.
    virtual QString ReadText(const QString &property) const = 0;
    // A missing, null or non-numeric value raises EWmiError.
    virtual std::int64_t ReadInt64(const QString &property) const = 0;
    virtual std::int32_t ReadInt32(const QString &property) const = 0;
    // The element at index of an array property; an index beyond the array raises.
    virtual std::uint8_t ReadArrayByte(const QString &property, int index) const = 0;
    // The element at index as a whole number (codes above 255); by default
    // only what ReadArrayByte gives.
    virtual std::int64_t ReadArrayInt64(const QString &property, int index) const
    {
        return ReadArrayByte(property, index);
    }
};

// Forward-only walk of a result: Next gives nullptr when no object is left.
class TWmiEnumerator
{
public:
    virtual ~TWmiEnumerator() = default;
    virtual std::unique_ptr<TWmiObject> Next() = 0;
};

class TWmiObjectSet
{
public:
    virtual ~TWmiObjectSet() = default;
    virtual std::unique_ptr<TWmiEnumerator> NewEnum() = 0;
};

// A connection to one namespace of one computer.
class TWmiServices
{
public:
    virtual ~TWmiServices() = default;
    virtual std::unique_ptr<TWmiObjectSet> ExecQuery(const QString &query, const QString &language, int flags) = 0;
};

class TWmiLocator
{
public:
    virtual ~TWmiLocator() = default;
    virtual std::unique_ptr<TWmiServices> ConnectServer(const QString &server, const QString &nameSpace,
                                                        const QString &user, const QString &password) = 0;
};

// Creates a new locator for each stage of a reading.
class TWmiProvider
{
public:
    virtual ~TWmiProvider() = default;
    virtual std::unique_ptr<TWmiLocator> CreateLocator() = 0;
};

// ---------------------------------------------------------------------------
// Objects held in memory, for providers that have the whole result at hand.

struct TWmiNull
{
    bool operator==(const TWmiNull &) const = default;
};
// A property value: null, text, integer, Boolean or an array of integers.
using TWmiValue = std::variant<TWmiNull, QString, std::int64_t, bool, std::vector<std::int64_t>>;

// Property names match without regard to letter case, as WMI's do. Conversions:
// text of an integer is its decimal form; an integer of a text is the text's
// decimal number (WS-Management sends every value as text).
class TWmiInstance final : public TWmiObject
{
public:
    TWmiInstance() = default;
    void Set(const QString &property, TWmiValue value);
    const TWmiValue *Find(const QString &property) const;
    const std::vector<std::pair<QString, TWmiValue>> &Properties() const { return m_properties; }

    QString ReadText(const QString &property) const override;
    std::int64_t ReadInt64(const QString &property) const override;
    std::int32_t ReadInt32(const QString &property) const override;
    std::uint8_t ReadArrayByte(const QString &property, int index) const override;
    std::int64_t ReadArrayInt64(const QString &property, int index) const override;

private:
    std::vector<std::pair<QString, TWmiValue>> m_properties;
};

using TWmiInstances = std::vector<TWmiInstance>;

// A provider whose connections answer a query with a whole list of instances.
// Subclasses say whether a namespace of a server can be reached, and answer a
// query on it; either may raise EWmiError.
class TWmiStaticProvider : public TWmiProvider
{
public:
    std::unique_ptr<TWmiLocator> CreateLocator() override;

    virtual void Connect(const QString &server, const QString &nameSpace, const QString &user,
                         const QString &password) = 0;
    virtual TWmiInstances Query(const QString &server, const QString &nameSpace, const QString &user,
                                const QString &password, const QString &query) = 0;
};

// The class a WQL "SELECT * FROM <class>" query asks for; empty for any other query.
QString QueriedClass(const QString &query);

// Where Windows 8 and later describe every drive, NVMe included, and the
// classes the reader asks there. HealthInformationLog is this system's own
// property of a reliability counter: the raw NVMe health log (512 bytes) where
// the provider has it (this computer, recordings of it).
inline constexpr char16_t kStorageNamespace[] = u"root\\Microsoft\\Windows\\Storage";
inline constexpr char16_t kPhysicalDiskClass[] = u"MSFT_PhysicalDisk";
inline constexpr char16_t kReliabilityCounterClass[] = u"MSFT_StorageReliabilityCounter";
inline constexpr char16_t kDiskToCounterClass[] = u"MSFT_PhysicalDiskToStorageReliabilityCounter";
inline constexpr char16_t kHealthLogProperty[] = u"HealthInformationLog";

// The objects associated with one object through an association class:
// ASSOCIATORS OF {Class.Key="value"} WHERE AssocClass = Association
struct TAssociatorsQuery
{
    QString className;
    QString keyProperty;
    QString keyValue;
    QString assocClass;
    bool operator==(const TAssociatorsQuery &) const = default;
};
// The WQL text, with "\" and "\"" escaped in the value.
QString AssociatorsQueryText(const TAssociatorsQuery &query);
// The parts of such a query; nullopt for any other text.
std::optional<TAssociatorsQuery> ParseAssociatorsQuery(const QString &query);

} // namespace valmora::drives
