#include "WmiDriveReader.h"

#include "drivedata/NvmeHealth.h"
#include "drives/WmiProviders.h"
#include "foundation/ComputerName.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

const QString kCimv2 = u"root\\CIMV2"_s;
const QString kWmi = u"root\\WMI"_s;
const QString kWql = u"WQL"_s;
constexpr int kForwardOnly = 32;
constexpr int kThresholdBlock = 512;

// Letters a to z only, as the device identifiers are compared.
QString upperAscii(const QString &text)
{
    QString result = text;
    for (QChar &c : result)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - (u'a' - u'A'));
    return result;
}

// Finds the first drive whose identifier, upper-cased, begins an instance's
// name: one hash look-up per identifier length instead of a walk over every
// drive, which a computer with thousands of drives makes quadratic.
class DriveIndex
{
public:
    explicit DriveIndex(TDriveList &list)
        : m_list(list)
    {
        for (int i = 0; i < list.Count(); ++i) {
            const QString id = upperAscii(list.Items(i).PNPDeviceID);
            if (id.isEmpty())
                continue;
            m_first.insert(id, i); // keeps the first drive of an identifier
            if (!m_lengths.contains(id.size()))
                m_lengths.append(id.size());
        }
    }

    TDriveInformation *driveFor(const QString &instanceName) const
    {
        const QString name = upperAscii(instanceName);
        int best = -1;
        for (const qsizetype length : m_lengths) {
            if (length > name.size())
                continue;
            const auto it = m_first.constFind(QStringView(name).left(length).toString());
            if (it != m_first.constEnd() && (best < 0 || *it < best))
                best = *it;
        }
        return best < 0 ? nullptr : &m_list.Items(best);
    }

private:
    TDriveList &m_list;
    QHash<QString, int> m_first;
    QList<qsizetype> m_lengths;
};

// The serial-number table: the value of the first line for each tag, tags
// compared without regard to letter case.
class SerialTable
{
public:
    void add(const QString &line)
    {
        const qsizetype eq = line.indexOf(u'=');
        const QString tag = line.left(eq).toCaseFolded();
        if (!m_serials.contains(tag))
            m_serials.insert(tag, line.mid(eq + 1));
    }
    QString serialOf(const QString &deviceId) const
    {
        return m_serials.value(deviceId.toCaseFolded());
    }
    void clear() { m_serials.clear(); }

private:
    QHash<QString, QString> m_serials;
};

// One stage's hold on the platform, released when the stage ends, normally or
// not: enumerator, object set, connection, locator (members go in reverse order).
struct Stage
{
    std::unique_ptr<drives::TWmiLocator> locator;
    std::unique_ptr<drives::TWmiServices> services;
    std::unique_ptr<drives::TWmiObjectSet> set;
    std::unique_ptr<drives::TWmiEnumerator> objects;

    Stage(drives::TWmiProvider &provider, const QString &server, const QString &nameSpace, const QString &user,
          const QString &password, const QString &className)
    {
        locator = provider.CreateLocator();
        services = locator->ConnectServer(server, nameSpace, user, password);
        set = services->ExecQuery(u"SELECT * FROM "_s + className, kWql, kForwardOnly);
        objects = set->NewEnum();
    }
};

template <typename Field, typename Read>
void readProperty(Field &field, Read read, int &skipped)
{
    try {
        field = read();
    } catch (const std::exception &) {
        // A property that cannot be read stays zero or empty, and is counted.
        ++skipped;
    }
}

// A Boolean as the providers give it: a number, or the text "true".
bool readBoolean(const drives::TWmiObject &object, const QString &property)
{
    try {
        return object.ReadInt64(property) != 0;
    } catch (const std::exception &) {
        return object.ReadText(property).trimmed().compare(u"true"_s, Qt::CaseInsensitive) == 0;
    }
}

// A whole number of an object, nullopt when missing or not a number.
std::optional<std::uint64_t> readCount(const drives::TWmiObject &object, const QString &property)
{
    try {
        const std::int64_t v = object.ReadInt64(property);
        if (v < 0)
            return std::nullopt;
        return static_cast<std::uint64_t>(v);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

// OperationalStatus in words: an array of codes, one code, or words already.
QString readOperationalStatus(const drives::TWmiObject &object)
{
    const QString property = u"OperationalStatus"_s;
    QStringList words;
    try {
        for (int i = 0; i < 64; ++i)
            words.append(OperationalStatusText(static_cast<std::uint64_t>(object.ReadArrayInt64(property, i))));
        return words.join(u", "_s);
    } catch (const std::exception &) {
        if (!words.isEmpty())
            return words.join(u", "_s);
    }
    if (const auto code = readCount(object, property))
        return OperationalStatusText(*code);
    try {
        return object.ReadText(property).trimmed();
    } catch (const std::exception &) {
        return QString();
    }
}

// The drive an MSFT_PhysicalDisk describes: its DeviceId is the disk number
// of "\\.\PHYSICALDRIVEn" (or, on this computer, the device path itself);
// failing that, the serial number.
TDriveInformation *driveOfDisk(TDriveList &list, const drives::TWmiObject &disk)
{
    const QString id = disk.ReadText(u"DeviceId"_s).trimmed();
    if (!id.isEmpty())
        for (int i = 0; i < list.Count(); ++i) {
            const QString &name = list.Items(i).Name;
            if (name.compare(id, Qt::CaseInsensitive) == 0
                || name.compare(u"\\\\.\\PHYSICALDRIVE"_s + id, Qt::CaseInsensitive) == 0)
                return &list.Items(i);
        }
    const QString serial = disk.ReadText(u"SerialNumber"_s).trimmed();
    if (!serial.isEmpty())
        for (int i = 0; i < list.Count(); ++i)
            if (list.Items(i).SerialNumber.trimmed() == serial)
                return &list.Items(i);
    return nullptr;
}

// The figures of a reliability counter: the NVMe health log when the
// provider has it, otherwise the counters Windows keeps.
void readCounter(TDriveHealth &health, const drives::TWmiObject &counter)
{
    std::vector<std::uint8_t> page;
    try {
        for (int i = 0; i < kHealthLogSize; ++i)
            page.push_back(counter.ReadArrayByte(QString::fromUtf16(drives::kHealthLogProperty), i));
    } catch (const std::exception &) {
        page.clear();
    }
    if (const auto log = DecodeHealthLog(page)) {
        for (int f = 0; f < kHealthLogFieldCount; ++f)
            health.Values[static_cast<std::size_t>(f)] = log->Values[static_cast<std::size_t>(f)];
        return;
    }
    const std::pair<THealthField, const char16_t *> counters[] = {
        {THealthField::Temperature, u"Temperature"},
        {THealthField::TemperatureMax, u"TemperatureMax"},
        {THealthField::Wear, u"Wear"},
        {THealthField::PowerOnHours, u"PowerOnHours"},
        {THealthField::ReadErrorsTotal, u"ReadErrorsTotal"},
        {THealthField::ReadErrorsCorrected, u"ReadErrorsCorrected"},
        {THealthField::ReadErrorsUncorrected, u"ReadErrorsUncorrected"},
        {THealthField::WriteErrorsTotal, u"WriteErrorsTotal"},
        {THealthField::WriteErrorsCorrected, u"WriteErrorsCorrected"},
        {THealthField::WriteErrorsUncorrected, u"WriteErrorsUncorrected"},
        {THealthField::StartStopCycleCount, u"StartStopCycleCount"},
    };
    for (const auto &[field, property] : counters)
        health.Set(field, readCount(counter, QString::fromUtf16(property)));
}

// Whether a drive's health figures flag it, judged without a baseline: for
// the readings that stop before the verdicts.
bool healthFlagged(TDriveList &list)
{
    bool flagged = false;
    for (int i = 0; i < list.Count(); ++i)
        flagged = !JudgeHealth(list.Items(i).Health, {}) || flagged;
    return flagged;
}

bool anyHealth(const TDriveList &list)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Items(i).Health.HasFigures())
            return true;
    return false;
}

} // namespace

QString ReadResultText(int result)
{
    switch (result) {
    case kReadGood:
        return u"read; no drive flagged (Good)"_s;
    case kReadNoCimv2:
        return u"root\\CIMV2 could not be read (RPC server unavailable)"_s;
    case kReadNoSmart:
        return u"no S.M.A.R.T. data could be read (S.M.A.R.T not supported)"_s;
    case kReadFlagged:
        return u"read; at least one drive flagged (Suspected (available and unavailable))"_s;
    default:
        return u"unknown result"_s;
    }
}

QString ServerName(const QString &computer)
{
    return BareComputerName(computer);
}

int ReadComputerDrives(drives::TWmiProvider &provider, const QString &computer, TDriveList &list, const QString &user,
                       const QString &password, QString *reason)
{
    list.ClearDrives();
    list.ComputerName = computer;
    list.SkippedObjects = 0;
    list.SkippedProperties = 0;
    const QString server = ServerName(computer);
    int result = kReadGood;
    QStringList reasons;
    // Why a drive's health could not be read: told after the stages' reasons.
    QStringList healthReasons;
    const auto give = [&](int code) {
        if (reason)
            *reason = (reasons + healthReasons).join(u"; "_s);
        return code;
    };
    // The stage in the reader's words, then the class and namespace it asked,
    // so the reason says what to look at on the computer.
    const auto stopped = [&](const QString &stage, const QString &nameSpace, const QString &className,
                             const std::exception &e) {
        reasons.append(u"%1 (%2 of %3): %4"_s.arg(stage, className, nameSpace, QString::fromUtf8(e.what())));
    };

    // Stage A: serial numbers, as lines "tag=serial".
    SerialTable serials;
    try {
        Stage stage(provider, server, kCimv2, user, password, u"Win32_PhysicalMedia"_s);
        while (const auto object = stage.objects->Next()) {
            try {
                serials.add(object->ReadText(u"Tag"_s) + u'=' + object->ReadText(u"SerialNumber"_s));
            } catch (const std::exception &) {
                // An object that cannot be read is skipped, and counted.
                ++list.SkippedObjects;
            }
        }
    } catch (const std::exception &e) {
        stopped(u"media"_s, kCimv2, u"Win32_PhysicalMedia"_s, e);
        return give(kReadNoCimv2);
    }

    // Stage B: the drives.
    try {
        Stage stage(provider, server, kCimv2, user, password, u"Win32_DiskDrive"_s);
        while (const auto object = stage.objects->Next()) {
            if (list.Count() >= kMaxDrivesPerComputer) {
                // The rest of the walk is abandoned (and released by the stage).
                reasons.append(u"the list of drives was cut at %1 drives"_s.arg(kMaxDrivesPerComputer));
                break;
            }
            auto d = std::make_unique<TDriveInformation>();
            const drives::TWmiObject &o = *object;
            auto low32 = [&o](const QString &p) { return static_cast<std::uint32_t>(o.ReadInt64(p)); };
            auto text = [&o](const QString &p) { return o.ReadText(p); };
            readProperty(d->BytesPerSector, [&] { return low32(u"BytesPerSector"_s); }, list.SkippedProperties);
            readProperty(d->FirmwareRevision, [&] { return text(u"FirmwareRevision"_s); }, list.SkippedProperties);
            readProperty(d->InterfaceType, [&] { return text(u"InterfaceType"_s); }, list.SkippedProperties);
            readProperty(d->Manufacturer, [&] { return text(u"Manufacturer"_s); }, list.SkippedProperties);
            readProperty(d->MediaType, [&] { return text(u"MediaType"_s); }, list.SkippedProperties);
            readProperty(d->Model, [&] { return text(u"Model"_s); }, list.SkippedProperties);
            readProperty(d->Name, [&] { return text(u"Name"_s); }, list.SkippedProperties);
            readProperty(d->Partitions, [&] { return low32(u"Partitions"_s); }, list.SkippedProperties);
            readProperty(d->PNPDeviceID, [&] { return text(u"PNPDeviceID"_s); }, list.SkippedProperties);
            readProperty(d->SectorsPerTrack, [&] { return low32(u"SectorsPerTrack"_s); }, list.SkippedProperties);
            try {
                d->SerialNumber = serials.serialOf(o.ReadText(u"DeviceId"_s));
            } catch (const std::exception &) {
                ++list.SkippedProperties;
            }
            readProperty(d->Size, [&] { return o.ReadInt64(u"Size"_s); }, list.SkippedProperties);
            readProperty(d->Status, [&] { return text(u"Status"_s); }, list.SkippedProperties);
            readProperty(d->TotalCylinders, [&] { return o.ReadInt64(u"TotalCylinders"_s); }, list.SkippedProperties);
            readProperty(d->TotalHeads, [&] { return low32(u"TotalHeads"_s); }, list.SkippedProperties);
            readProperty(d->TotalSectors, [&] { return o.ReadInt64(u"TotalSectors"_s); }, list.SkippedProperties);
            readProperty(d->TotalTracks, [&] { return o.ReadInt64(u"TotalTracks"_s); }, list.SkippedProperties);
            readProperty(d->TracksPerCylinder, [&] { return low32(u"TracksPerCylinder"_s); }, list.SkippedProperties);
            list.Add(std::move(d));
        }
    } catch (const std::exception &e) {
        stopped(u"inventory"_s, kCimv2, u"Win32_DiskDrive"_s, e);
        return give(kReadNoCimv2);
    }
    serials.clear();
    const DriveIndex drives(list);

    // Stage F: the storage classes, where Windows 8 and later describe every
    // drive (NVMe included) and this computer tells its NVMe health logs. A
    // computer without the namespace (Windows 7) reads as before; why it gave
    // nothing is told only if no health could be read at all. It runs last,
    // also when a S.M.A.R.T. stage stopped, so the other stages keep their
    // connections in their order.
    const QString storage = QString::fromUtf16(drives::kStorageNamespace);
    const QString diskClass = QString::fromUtf16(drives::kPhysicalDiskClass);
    QString storageFailure;
    bool storageRead = false;
    const auto readStorage = [&] {
        if (storageRead)
            return;
        storageRead = true;
        try {
            Stage stage(provider, server, storage, user, password, diskClass);
            std::vector<std::pair<TDriveInformation *, QString>> disks; // drive, ObjectId
            while (const auto object = stage.objects->Next()) {
                TDriveInformation *drive = driveOfDisk(list, *object);
                if (!drive)
                    continue;
                TDriveHealth &h = drive->Health;
                h.Set(THealthField::HealthStatus, readCount(*object, u"HealthStatus"_s));
                h.Set(THealthField::BusType, readCount(*object, u"BusType"_s));
                h.Set(THealthField::MediaType, readCount(*object, u"MediaType"_s));
                h.OperationalStatus = readOperationalStatus(*object);
                if (drive->SerialNumber.isEmpty())
                    drive->SerialNumber = object->ReadText(u"SerialNumber"_s).trimmed();
                if (drive->Model.isEmpty())
                    drive->Model = object->ReadText(u"Model"_s).trimmed();
                if (drive->Size == 0)
                    readProperty(drive->Size, [&] { return object->ReadInt64(u"Size"_s); }, list.SkippedProperties);
                disks.emplace_back(drive, object->ReadText(u"ObjectId"_s));
            }
            for (const auto &[drive, objectId] : disks) {
                if (objectId.isEmpty())
                    continue;
                const QString query = drives::AssociatorsQueryText(
                    {diskClass, u"ObjectId"_s, objectId, QString::fromUtf16(drives::kDiskToCounterClass)});
                try {
                    const auto set = stage.services->ExecQuery(query, kWql, kForwardOnly);
                    const auto objects = set->NewEnum();
                    if (const auto counter = objects->Next())
                        readCounter(drive->Health, *counter);
                } catch (const std::exception &e) {
                    healthReasons.append(u"health of %1 (%2 of %3): %4"_s.arg(
                        drive->Name, QString::fromUtf16(drives::kReliabilityCounterClass), storage,
                        QString::fromUtf8(e.what())));
                }
            }
        } catch (const std::exception &e) {
            storageFailure = u"storage (%1 of %2): %3"_s.arg(diskClass, storage, QString::fromUtf8(e.what()));
        }
        // The temperatures of the header, as a drive's attribute 194 gives them.
        for (int i = 0; i < list.Count(); ++i) {
            TDriveInformation &d = list.Items(i);
            if (d.UsedSlots() > 0)
                continue; // a drive with attributes has its temperatures from them
            const auto degrees = [](std::uint64_t t) {
                return static_cast<std::uint8_t>(std::min<std::uint64_t>(t, 255));
            };
            if (const auto t = d.Health.Value(THealthField::CompositeTemperature))
                d.TemperatureCurrent = degrees(*t);
            else if (const auto c = d.Health.Value(THealthField::Temperature))
                d.TemperatureCurrent = degrees(*c);
            if (const auto worst = d.Health.Value(THealthField::TemperatureMax))
                d.TemperatureWorst = degrees(*worst);
        }
    };

    // Stage C: the S.M.A.R.T. data sectors.
    result = kReadNoSmart;
    try {
        Stage stage(provider, server, kWmi, user, password, u"MSStorageDriver_FailurePredictData"_s);
        std::vector<std::uint8_t> block;
        while (const auto object = stage.objects->Next()) {
            result = kReadGood;
            TDriveInformation *drive = drives.driveFor(object->ReadText(u"InstanceName"_s));
            if (!drive)
                continue;
            const std::int32_t length = object->ReadInt32(u"Length"_s);
            if (length <= 0)
                throw drives::EWmiError(u"Length %1"_s.arg(length));
            // Filled element by element: a Length beyond the array fails at the
            // array's end, before anything is decoded.
            block.clear();
            for (std::int32_t i = 0; i < length; ++i)
                block.push_back(object->ReadArrayByte(u"VendorSpecific"_s, i));
            DecodeAttributeData(*drive, block);
        }
    } catch (const std::exception &e) {
        readStorage();
        // Drives with health figures are read even where none speaks S.M.A.R.T.
        if (result == kReadNoSmart && anyHealth(list))
            return give(EvaluateDrives(list) ? kReadGood : kReadFlagged);
        stopped(u"S.M.A.R.T. data"_s, kWmi, u"MSStorageDriver_FailurePredictData"_s, e);
        if (result == kReadNoSmart && !storageFailure.isEmpty())
            healthReasons.append(storageFailure);
        return give(result == kReadGood && healthFlagged(list) ? kReadFlagged : result);
    }

    // Stage D: the threshold sectors.
    try {
        Stage stage(provider, server, kWmi, user, password, u"MSStorageDriver_FailurePredictThresholds"_s);
        std::array<std::uint8_t, kThresholdBlock> block{};
        while (const auto object = stage.objects->Next()) {
            TDriveInformation *drive = drives.driveFor(object->ReadText(u"InstanceName"_s));
            if (!drive)
                continue;
            for (int i = 0; i < kThresholdBlock; ++i)
                block[static_cast<std::size_t>(i)] = object->ReadArrayByte(u"VendorSpecific"_s, i);
            DecodeThresholdData(*drive, block);
        }
    } catch (const std::exception &e) {
        stopped(u"thresholds"_s, kWmi, u"MSStorageDriver_FailurePredictThresholds"_s, e);
        // The thresholds that did arrive are still judged: a drive already
        // known to fail must not pass as healthy because a later drive's
        // thresholds could not be read. The readout time stays where it was.
        readStorage();
        bool flagged = false;
        for (int i = 0; i < list.Count(); ++i)
            flagged = !EvaluateDrive(list.Items(i)) || flagged;
        flagged = healthFlagged(list) || flagged;
        return give(flagged ? kReadFlagged : result);
    }

    // Stage E: the drives' own failure prediction. Older computers and
    // recordings may lack the class; the verdicts then rest on the attributes.
    try {
        Stage stage(provider, server, kWmi, user, password, u"MSStorageDriver_FailurePredictStatus"_s);
        while (const auto object = stage.objects->Next()) {
            try {
                TDriveInformation *drive = drives.driveFor(object->ReadText(u"InstanceName"_s));
                if (drive && readBoolean(*object, u"PredictFailure"_s))
                    drive->Status = QString::fromUtf16(kStatusPredFail); // kept so the readout file tells it too
            } catch (const std::exception &) {
                // An instance that cannot be read says nothing about its drive.
                ++list.SkippedObjects;
            }
        }
    } catch (const std::exception &) {
        // Not a failure of the reading: the class is optional.
    }

    readStorage();
    if (list.Count() > 0)
        result = EvaluateDrives(list) ? kReadGood : kReadFlagged;
    return give(result);
}

int ReadComputerDrives(const QString &computer, TDriveList &list, const QString &user, const QString &password,
                       QString *reason, const QString &recordingsFolder)
{
    try {
        const auto provider = drives::ChooseWmiProvider(ServerName(computer), recordingsFolder);
        return ReadComputerDrives(*provider, computer, list, user, password, reason);
    } catch (const std::exception &e) {
        // No provider answers for this computer: it cannot be read, as for any
        // failure of the first stage.
        list.ClearDrives();
        list.ComputerName = computer;
        if (reason)
            *reason = u"no way to reach %1: %2"_s.arg(ServerName(computer), QString::fromUtf8(e.what()));
        return kReadNoCimv2;
    }
}

} // namespace valmora
