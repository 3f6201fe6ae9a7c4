#include "WmiRecordings.h"

#include "foundation/TextFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

using namespace Qt::Literals::StringLiterals;
using valmora::drives::EWmiError;
using valmora::drives::TWmiInstance;
using valmora::drives::TWmiInstances;
using valmora::drives::TWmiValue;

namespace valmora::drives::recordings {

namespace {

const QString kNamespaces = u"Namespaces"_s;
const QString kClasses = u"Classes"_s;
const QString kConnectError = u"ConnectError"_s;
const QString kQueryError = u"QueryError"_s;
const QString kAssociations = u"Associations"_s;

// Keys of a JSON object that match name without regard to letter case, as WMI's names do.
QJsonValue findKey(const QJsonObject &object, const QString &name)
{
    if (object.contains(name))
        return object.value(name);
    for (auto it = object.begin(); it != object.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value();
    return QJsonValue(QJsonValue::Undefined);
}

QString normalNamespace(QString nameSpace)
{
    return nameSpace.replace(u'/', u'\\');
}

std::optional<TWmiValue> fromJson(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::Null:
        return TWmiValue(drives::TWmiNull{});
    case QJsonValue::Bool:
        return TWmiValue(v.toBool());
    case QJsonValue::String:
        return TWmiValue(v.toString());
    case QJsonValue::Double: {
        const double d = v.toDouble();
        const qint64 i = v.toInteger(std::numeric_limits<qint64>::min());
        if (i != std::numeric_limits<qint64>::min() || d == static_cast<double>(i))
            return TWmiValue(std::int64_t{i});
        return TWmiValue(QString::number(d, 'g', 17));
    }
    case QJsonValue::Array: {
        std::vector<std::int64_t> items;
        for (const QJsonValue &e : v.toArray()) {
            if (!e.isDouble())
                return std::nullopt;
            items.push_back(e.toInteger());
        }
        return TWmiValue(std::move(items));
    }
    default:
        return std::nullopt;
    }
}

QJsonValue toJson(const TWmiValue &v)
{
    if (std::holds_alternative<drives::TWmiNull>(v))
        return QJsonValue::Null;
    if (const auto *s = std::get_if<QString>(&v))
        return *s;
    if (const auto *i = std::get_if<std::int64_t>(&v))
        return QJsonValue(static_cast<qint64>(*i));
    if (const auto *b = std::get_if<bool>(&v))
        return *b;
    QJsonArray array;
    for (const std::int64_t e : std::get<std::vector<std::int64_t>>(v))
        array.append(static_cast<qint64>(e));
    return array;
}

// Properties read by name from an object that does not hold its values in
// memory: the reader's own, as text, or as the byte array "VendorSpecific".
QJsonObject recordByName(const drives::TWmiObject &object, const QString &className)
{
    static const QStringList textProperties{u"Tag"_s, u"SerialNumber"_s, u"FirmwareRevision"_s,
                                            u"InterfaceType"_s, u"Manufacturer"_s, u"MediaType"_s,
                                            u"Model"_s, u"Name"_s, u"PNPDeviceID"_s, u"DeviceId"_s,
                                            u"Status"_s, u"InstanceName"_s};
    static const QStringList numberProperties{u"BytesPerSector"_s, u"Partitions"_s, u"SectorsPerTrack"_s,
                                              u"Size"_s, u"TotalCylinders"_s, u"TotalHeads"_s,
                                              u"TotalSectors"_s, u"TotalTracks"_s, u"TracksPerCylinder"_s,
                                              u"Length"_s};
    QJsonObject result;
    for (const QString &p : numberProperties) {
        try {
            result.insert(p, static_cast<qint64>(object.ReadInt64(p)));
        } catch (const std::exception &) {
        }
    }
    for (const QString &p : textProperties) {
        if (result.contains(p))
            continue;
        try {
            result.insert(p, object.ReadText(p));
        } catch (const std::exception &) {
        }
    }
    // The storage classes' figures, read by name as the reader does.
    static const QStringList storageNumbers{
        u"HealthStatus"_s, u"BusType"_s, u"Temperature"_s, u"TemperatureMax"_s, u"Wear"_s, u"PowerOnHours"_s,
        u"ReadErrorsTotal"_s, u"ReadErrorsCorrected"_s, u"ReadErrorsUncorrected"_s, u"WriteErrorsTotal"_s,
        u"WriteErrorsCorrected"_s, u"WriteErrorsUncorrected"_s, u"StartStopCycleCount"_s};
    if (className.startsWith(u"MSFT_"_s, Qt::CaseInsensitive)) {
        for (const QString &p : storageNumbers) {
            try {
                result.insert(p, static_cast<qint64>(object.ReadInt64(p)));
            } catch (const std::exception &) {
            }
        }
        for (const QString &p : {u"ObjectId"_s, u"OperationalStatus"_s}) {
            try {
                result.insert(p, object.ReadText(p));
            } catch (const std::exception &) {
            }
        }
        try {
            // MediaType is a number here, not Win32_DiskDrive's text.
            result.insert(u"MediaType"_s, static_cast<qint64>(object.ReadInt64(u"MediaType"_s)));
        } catch (const std::exception &) {
        }
    }
    if (className.startsWith(u"MSStorageDriver"_s, Qt::CaseInsensitive)) {
        QJsonArray bytes;
        try {
            for (int i = 0; i < 65536; ++i)
                bytes.append(object.ReadArrayByte(u"VendorSpecific"_s, i));
        } catch (const std::exception &) {
        }
        result.insert(u"VendorSpecific"_s, bytes);
    }
    return result;
}

QString message(const std::exception &e)
{
    if (const auto *ours = dynamic_cast<const Exception *>(&e))
        return ours->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace

TWmiRecordingProvider::TWmiRecordingProvider(QString folder)
    : m_folder(std::move(folder))
{
}

QString TWmiRecordingProvider::RecordingPath(const QString &server) const
{
    if (server.isEmpty() || server.contains(u'/') || server.contains(u'\\') || server.contains(QChar(0)))
        throw EWmiError(u"\"%1\" cannot name a recording"_s.arg(server));
    const QDir dir(m_folder);
    const QString wanted = server + u".json"_s;
    if (dir.exists(wanted))
        return dir.filePath(wanted);
    for (const QString &entry : dir.entryList({u"*.json"_s}, QDir::Files))
        if (entry.compare(wanted, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    throw EWmiError(u"No recording of \"%1\" in \"%2\""_s.arg(server, QDir::toNativeSeparators(m_folder)));
}

QJsonObject TWmiRecordingProvider::LoadNamespace(const QString &server, const QString &nameSpace) const
{
    const QString path = RecordingPath(server);
    QString error;
    const std::optional<QByteArray> bytes = ReadWholeFile(path, &error);
    if (!bytes)
        throw EWmiError(u"Cannot read \"%1\": %2"_s.arg(QDir::toNativeSeparators(path), error));
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject())
        throw EWmiError(u"The recording \"%1\" is damaged: %2 at byte %3"_s.arg(QDir::toNativeSeparators(path),
                                                                               parse.errorString())
                            .arg(parse.offset));
    const QJsonValue ns = findKey(doc.object().value(kNamespaces).toObject(), normalNamespace(nameSpace));
    if (!ns.isObject())
        throw EWmiError(u"Invalid namespace \"%1\""_s.arg(nameSpace));
    return ns.toObject();
}

void TWmiRecordingProvider::Connect(const QString &server, const QString &nameSpace, const QString &,
                                    const QString &)
{
    const QJsonObject ns = LoadNamespace(server, nameSpace);
    if (ns.contains(kConnectError))
        throw EWmiError(ns.value(kConnectError).toString());
}

TWmiInstances TWmiRecordingProvider::Query(const QString &server, const QString &nameSpace, const QString &,
                                           const QString &, const QString &query)
{
    const QJsonObject ns = LoadNamespace(server, nameSpace);
    if (ns.contains(kConnectError))
        throw EWmiError(ns.value(kConnectError).toString());
    const QString className = drives::QueriedClass(query);
    QJsonValue cls = className.isEmpty() ? QJsonValue() : findKey(ns.value(kClasses).toObject(), className);
    if (const auto associators = drives::ParseAssociatorsQuery(query)) {
        // Associated objects are kept per association, by the key of the object they belong to.
        const QJsonValue association = findKey(ns.value(kAssociations).toObject(), associators->assocClass);
        cls = association.toObject().value(associators->keyValue);
    }
    if (cls.isObject() && cls.toObject().contains(kQueryError))
        throw EWmiError(cls.toObject().value(kQueryError).toString());
    if (!cls.isArray())
        throw EWmiError(u"Invalid query \"%1\""_s.arg(query));
    TWmiInstances result;
    for (const QJsonValue &item : cls.toArray()) {
        const QJsonObject object = item.toObject();
        TWmiInstance instance;
        for (auto it = object.begin(); it != object.end(); ++it) {
            std::optional<TWmiValue> value = fromJson(it.value());
            if (!value)
                throw EWmiError(u"The recording of \"%1\" holds a value of \"%2\" that is no property value"_s.arg(
                    server, it.key()));
            instance.Set(it.key(), std::move(*value));
        }
        result.push_back(std::move(instance));
    }
    return result;
}

const std::vector<TRecordedClass> &DriveReaderClasses()
{
    static const std::vector<TRecordedClass> classes{
        {u"root\\CIMV2"_s, u"Win32_PhysicalMedia"_s},
        {u"root\\CIMV2"_s, u"Win32_DiskDrive"_s},
        {u"root\\WMI"_s, u"MSStorageDriver_FailurePredictData"_s},
        {u"root\\WMI"_s, u"MSStorageDriver_FailurePredictThresholds"_s},
        {u"root\\WMI"_s, u"MSStorageDriver_FailurePredictStatus"_s},
        {QString::fromUtf16(kStorageNamespace), QString::fromUtf16(kPhysicalDiskClass)},
    };
    return classes;
}

QJsonObject RecordComputer(drives::TWmiProvider &provider, const QString &server, const QString &user,
                           const QString &password)
{
    QJsonObject namespaces;
    for (const TRecordedClass &c : DriveReaderClasses()) {
        QJsonObject ns = namespaces.value(c.nameSpace).toObject();
        if (ns.contains(kConnectError))
            continue;
        QJsonObject classes = ns.value(kClasses).toObject();
        try {
            const auto locator = provider.CreateLocator();
            const auto services = locator->ConnectServer(server, c.nameSpace, user, password);
            // The objects of one query, or the failure it gave.
            const auto record = [&](const QString &query, const QString &className) -> QJsonValue {
                try {
                    const auto set = services->ExecQuery(query, u"WQL"_s, 32);
                    const auto enumerator = set->NewEnum();
                    QJsonArray objects;
                    while (const auto object = enumerator->Next()) {
                        if (const auto *instance = dynamic_cast<const TWmiInstance *>(object.get())) {
                            QJsonObject o;
                            for (const auto &[name, value] : instance->Properties())
                                o.insert(name, toJson(value));
                            objects.append(o);
                        } else {
                            objects.append(recordByName(*object, className));
                        }
                    }
                    return objects;
                } catch (const std::exception &e) {
                    return QJsonObject{{kQueryError, message(e)}};
                }
            };
            const QJsonValue objects = record(u"SELECT * FROM "_s + c.className, c.className);
            classes.insert(c.className, objects);
            ns.insert(kClasses, classes);
            // The reliability counter of every disk, through their association.
            if (c.className == QString::fromUtf16(kPhysicalDiskClass) && objects.isArray()) {
                const QString assoc = QString::fromUtf16(kDiskToCounterClass);
                QJsonObject byDisk;
                for (const QJsonValue &disk : objects.toArray()) {
                    const QString objectId = disk.toObject().value(u"ObjectId"_s).toString();
                    if (objectId.isEmpty())
                        continue;
                    byDisk.insert(objectId, record(AssociatorsQueryText({c.className, u"ObjectId"_s, objectId, assoc}),
                                                   QString::fromUtf16(kReliabilityCounterClass)));
                }
                ns.insert(kAssociations, QJsonObject{{assoc, byDisk}});
            }
        } catch (const std::exception &e) {
            ns = QJsonObject{{kConnectError, message(e)}};
        }
        namespaces.insert(c.nameSpace, ns);
    }
    return QJsonObject{{u"ComputerName"_s, server}, {kNamespaces, namespaces}};
}

} // namespace valmora::drives::recordings
