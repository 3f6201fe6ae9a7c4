#include "LocalWmiProvider.h"

#include "drives/WmiProviders.h"

#include <QDir>
#include <QHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <mutex>

using namespace Qt::Literals::StringLiterals;
using valmora::drives::EWmiError;
using valmora::drives::TWmiInstance;
using valmora::drives::TWmiInstances;
using valmora::drives::TWmiNull;

namespace valmora::drives::local {

namespace {

std::optional<QString> readAttribute(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString text = QString::fromUtf8(f.read(4096)).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

// The unit serial number page (VPD 0x80): 4 header bytes, then the serial.
std::optional<QString> serialFromVpd80(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray page = f.read(260);
    if (page.size() < 4 || static_cast<unsigned char>(page[1]) != 0x80)
        return std::nullopt;
    const int length = (static_cast<unsigned char>(page[2]) << 8) | static_cast<unsigned char>(page[3]);
    const QString serial = QString::fromLatin1(page.mid(4, length)).trimmed();
    if (serial.isEmpty())
        return std::nullopt;
    return serial;
}

enum class Kind { Scsi, Ide, Nvme, Virtio, Mmc };

// Whole disks only: no partitions, loop, ram, zram, device-mapper or md devices.
std::optional<Kind> kindOf(const QString &name)
{
    static const QRegularExpression disk(u"^(sd[a-z]+|hd[a-z]+|nvme\\d+n\\d+|vd[a-z]+|mmcblk\\d+)$"_s);
    if (!disk.match(name).hasMatch())
        return std::nullopt;
    if (name.startsWith(u"sd"_s))
        return Kind::Scsi;
    if (name.startsWith(u"hd"_s))
        return Kind::Ide;
    if (name.startsWith(u"nvme"_s))
        return Kind::Nvme;
    if (name.startsWith(u"vd"_s))
        return Kind::Virtio;
    return Kind::Mmc;
}

// Makers whose name the model string starts with.
QString makerFromModel(const QString &model)
{
    static const std::pair<const char16_t *, const char16_t *> makers[] = {
        {u"WDC", u"Western Digital"}, {u"WD", u"Western Digital"}, {u"ST", u"Seagate"},
        {u"Maxtor", u"Maxtor"},       {u"FUJITSU", u"Fujitsu"},    {u"TOSHIBA", u"Toshiba"},
        {u"HGST", u"HGST"},           {u"Hitachi", u"Hitachi"},    {u"SAMSUNG", u"Samsung"},
        {u"INTEL", u"Intel"},         {u"KINGSTON", u"Kingston"},  {u"Crucial", u"Crucial"},
        {u"Micron", u"Micron"},       {u"SanDisk", u"SanDisk"},    {u"QEMU", u"QEMU"},
    };
    const QString first = model.section(u' ', 0, 0);
    for (const auto &[prefix, maker] : makers) {
        const QString p = QString::fromUtf16(prefix);
        // "ST" and "WD" are prefixes of the model number itself (ST9100821AS).
        if (p.size() <= 2 ? first.startsWith(p) && first.size() > p.size() && first.at(p.size()).isDigit()
                          : first.compare(p, Qt::CaseInsensitive) == 0 || first.startsWith(p + u'-'))
            return QString::fromUtf16(maker);
    }
    return QString();
}

QString idPart(const QString &text)
{
    QString part = text.toUpper();
    part.replace(QRegularExpression(u"[^A-Z0-9.:#_-]"_s), u"_"_s);
    return part;
}

int partitionsOf(const QString &sysDir)
{
    int count = 0;
    const QDir dir(sysDir);
    for (const QString &entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (QFileInfo::exists(sysDir + u'/' + entry + u"/partition"_s))
            ++count;
    return count;
}

bool isNamespace(const QString &nameSpace, const QString &wanted)
{
    QString n = nameSpace;
    n.replace(u'/', u'\\');
    return n.compare(wanted, Qt::CaseInsensitive) == 0;
}

} // namespace

TLocalWmiProvider::TLocalWmiProvider(QString sysfsRoot, QString devRoot, std::unique_ptr<TSmartSource> smart,
                                     TXLogSystem &log, std::unique_ptr<TNvmeSource> nvme)
    : m_sysfsRoot(std::move(sysfsRoot))
    , m_devRoot(std::move(devRoot))
    , m_smart(std::move(smart))
    , m_nvme(std::move(nvme))
    , m_log(log)
{
}

void TLocalWmiProvider::Connect(const QString &, const QString &nameSpace, const QString &, const QString &)
{
    if (!isNamespace(nameSpace, u"root\\CIMV2"_s) && !isNamespace(nameSpace, u"root\\WMI"_s)
        && !isNamespace(nameSpace, QString::fromUtf16(kStorageNamespace)))
        throw EWmiError(u"Invalid namespace \"%1\""_s.arg(nameSpace));
}

std::vector<TLocalWmiProvider::Disk> TLocalWmiProvider::Disks() const
{
    const QString blockDir = m_sysfsRoot + u"/block"_s;
    QStringList names = QDir(blockDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    std::sort(names.begin(), names.end());
    std::vector<Disk> disks;
    for (const QString &name : names) {
        const std::optional<Kind> kind = kindOf(name);
        if (!kind)
            continue;
        const QString sys = blockDir + u'/' + name;
        const QString dev = sys + u"/device/"_s;
        QString canonical = QFileInfo(sys).canonicalFilePath();
        if (canonical.isEmpty())
            canonical = sys;
        const QString devicesRoot = QFileInfo(m_sysfsRoot + u"/devices"_s).canonicalFilePath();
        QString location = canonical;
        if (!devicesRoot.isEmpty() && location.startsWith(devicesRoot + u'/'))
            location = location.mid(devicesRoot.size() + 1);
        const bool usb = canonical.contains(u"/usb"_s);

        QString model, firmware, maker, vendor, interface;
        std::optional<QString> serial;
        switch (*kind) {
        case Kind::Scsi:
        case Kind::Ide: {
            model = readAttribute(dev + u"model"_s).value_or(QString());
            vendor = readAttribute(dev + u"vendor"_s).value_or(QString());
            firmware = readAttribute(dev + u"rev"_s).value_or(QString());
            const bool ata = *kind == Kind::Ide || vendor == u"ATA"_s || canonical.contains(u"/ata"_s);
            if (!vendor.isEmpty() && vendor != u"ATA"_s) {
                maker = vendor;
                model = vendor + u' ' + model;
            } else {
                maker = makerFromModel(model);
            }
            interface = usb ? u"USB"_s : (ata ? u"IDE"_s : u"SCSI"_s);
            serial = readAttribute(dev + u"serial"_s);
            if (!serial)
                serial = serialFromVpd80(dev + u"vpd_pg80"_s);
            break;
        }
        case Kind::Nvme:
            model = readAttribute(dev + u"model"_s).value_or(QString());
            firmware = readAttribute(dev + u"firmware_rev"_s).value_or(QString());
            maker = makerFromModel(model);
            interface = u"SCSI"_s;
            serial = readAttribute(dev + u"serial"_s);
            break;
        case Kind::Virtio:
            model = u"VirtIO Block Device"_s;
            // The PCI vendor of virtio devices.
            if (readAttribute(dev + u"vendor"_s) == u"0x1af4"_s)
                maker = u"Red Hat"_s;
            interface = u"SCSI"_s;
            serial = readAttribute(sys + u"/serial"_s);
            break;
        case Kind::Mmc:
            model = readAttribute(dev + u"name"_s).value_or(QString());
            firmware = readAttribute(dev + u"fwrev"_s).value_or(QString());
            interface = u"SD"_s;
            serial = readAttribute(dev + u"serial"_s);
            break;
        }
        if (vendor.isEmpty())
            vendor = maker.isEmpty() ? u"LINUX"_s : maker;

        const bool removable = readAttribute(sys + u"/removable"_s) == u"1"_s;
        const std::int64_t bytesPerSector =
            readAttribute(sys + u"/queue/logical_block_size"_s).value_or(u"512"_s).toLongLong();
        const std::int64_t size = readAttribute(sys + u"/size"_s).value_or(u"0"_s).toLongLong() * 512;
        // The geometry Windows reports for a device that gives none.
        constexpr std::int64_t heads = 255, sectorsPerTrack = 63;
        const std::int64_t cylinders = bytesPerSector > 0 ? size / (heads * sectorsPerTrack * bytesPerSector) : 0;

        Disk disk;
        disk.name = name;
        disk.devicePath = m_devRoot + u'/' + name;
        disk.serial = serial;
        disk.ata = *kind == Kind::Scsi || *kind == Kind::Ide;
        disk.nvme = *kind == Kind::Nvme;
        TWmiInstance &d = disk.drive;
        d.Set(u"BytesPerSector"_s, bytesPerSector);
        d.Set(u"FirmwareRevision"_s, firmware);
        d.Set(u"InterfaceType"_s, interface);
        d.Set(u"Manufacturer"_s, maker);
        d.Set(u"MediaType"_s, removable ? u"Removable Media"_s : u"Fixed hard disk media"_s);
        d.Set(u"Model"_s, model);
        d.Set(u"Name"_s, disk.devicePath);
        d.Set(u"Partitions"_s, std::int64_t{partitionsOf(sys)});
        // Unique per disk and stable: the device's place in the machine. The final
        // "&0" keeps one identifier from being a prefix of another (sda, sdaa).
        location.replace(u'/', u'#');
        d.Set(u"PNPDeviceID"_s, u"%1\\DISK&VEN_%2&PROD_%3\\%4&0"_s.arg(interface, idPart(vendor),
                                                                       idPart(model.isEmpty() ? name : model),
                                                                       idPart(location)));
        d.Set(u"SectorsPerTrack"_s, sectorsPerTrack);
        d.Set(u"DeviceId"_s, disk.devicePath);
        d.Set(u"Size"_s, size);
        d.Set(u"Status"_s, u"OK"_s);
        d.Set(u"TotalCylinders"_s, cylinders);
        d.Set(u"TotalHeads"_s, heads);
        d.Set(u"TotalSectors"_s, cylinders * heads * sectorsPerTrack);
        d.Set(u"TotalTracks"_s, cylinders * heads);
        d.Set(u"TracksPerCylinder"_s, heads);
        disks.push_back(std::move(disk));
    }
    return disks;
}

const std::vector<TLocalWmiProvider::Disk> &TLocalWmiProvider::ReadingDisks(bool fresh)
{
    if (fresh || !m_disks)
        m_disks = Disks();
    return *m_disks;
}

void TLocalWmiProvider::logFailure(const QString &devicePath, const QString &failure)
{
    // Every check reads the drives anew: a drive that keeps failing the same
    // way is logged once, and again when its failure changes or after it was read.
    static std::mutex lock;
    static QHash<QString, QString> last;
    {
        const std::lock_guard guard(lock);
        if (last.value(devicePath) == failure)
            return;
        if (failure.isEmpty())
            last.remove(devicePath);
        else
            last.insert(devicePath, failure);
    }
    if (!failure.isEmpty())
        m_log.LogException(failure, LogPlace::ReadLocalDrive);
}

TWmiInstances TLocalWmiProvider::FailurePredict(bool thresholds)
{
    std::vector<std::pair<QString, TSmartSectors>> sectors;
    if (thresholds && m_sectors) {
        sectors = std::move(*m_sectors);
        m_sectors.reset();
    } else {
        m_sectors.reset();
        m_failures.clear();
        for (const Disk &disk : ReadingDisks(false)) {
            if (!disk.ata)
                continue; // NVMe, virtual disks and card readers speak no ATA S.M.A.R.T.
            TSmartReading reading;
            try {
                reading = m_smart->ReadSectors(disk.devicePath);
            } catch (const EWmiError &e) {
                logFailure(disk.devicePath, e.message());
                throw;
            }
            // Left unsaid, such a drive would only look like one without S.M.A.R.T.
            logFailure(disk.devicePath, reading.failure);
            if (!reading.failure.isEmpty())
                m_failures << reading.failure;
            if (reading.sectors)
                sectors.emplace_back(disk.drive.ReadText(u"PNPDeviceID"_s), std::move(*reading.sectors));
        }
        if (!thresholds) {
            m_sectors = sectors;
            m_status.emplace();
            for (const auto &[pnp, s] : sectors)
                if (s.good)
                    m_status->emplace_back(pnp, *s.good);
        }
    }
    // As the storage driver on Windows: a computer without S.M.A.R.T. drives
    // has no such class to query.
    if (sectors.empty()) {
        if (!m_failures.isEmpty())
            throw EWmiError(m_failures.join(u"; "_s));
        throw EWmiError(u"Not supported: no drive of this computer reports S.M.A.R.T. data"_s);
    }
    TWmiInstances result;
    for (const auto &[pnp, s] : sectors) {
        const QByteArray &block = thresholds ? s.thresholds : s.data;
        std::vector<std::int64_t> bytes(block.begin(), block.end());
        for (auto &b : bytes)
            b &= 0xFF;
        TWmiInstance i;
        i.Set(u"Active"_s, true);
        i.Set(u"InstanceName"_s, pnp + u"_0"_s);
        if (!thresholds)
            i.Set(u"Length"_s, std::int64_t{block.size()});
        i.Set(u"VendorSpecific"_s, std::move(bytes));
        result.push_back(std::move(i));
    }
    return result;
}

TWmiInstances TLocalWmiProvider::FailurePredictStatus()
{
    if (!m_status)
        FailurePredict(false);
    TWmiInstances result;
    for (const auto &[pnp, good] : *m_status) {
        TWmiInstance i;
        i.Set(u"Active"_s, true);
        i.Set(u"InstanceName"_s, pnp + u"_0"_s);
        i.Set(u"PredictFailure"_s, !good);
        result.push_back(std::move(i));
    }
    m_status.reset();
    return result;
}

TWmiInstances TLocalWmiProvider::PhysicalDisks()
{
    // Only the NVMe drives: the ATA drives tell their health through their
    // S.M.A.R.T. sectors, which the storage classes would only repeat.
    TWmiInstances result;
    for (const Disk &disk : ReadingDisks(false)) {
        if (!disk.nvme)
            continue;
        TWmiInstance d;
        d.Set(u"ObjectId"_s, disk.devicePath);
        d.Set(u"DeviceId"_s, disk.devicePath);
        d.Set(u"FriendlyName"_s, disk.drive.ReadText(u"Model"_s));
        d.Set(u"Model"_s, disk.drive.ReadText(u"Model"_s));
        d.Set(u"SerialNumber"_s, disk.serial ? drives::TWmiValue(*disk.serial) : drives::TWmiValue(TWmiNull{}));
        d.Set(u"Size"_s, disk.drive.ReadInt64(u"Size"_s));
        d.Set(u"BusType"_s, std::int64_t{17});
        d.Set(u"MediaType"_s, std::int64_t{4});
        result.push_back(std::move(d));
    }
    return result;
}

TWmiInstances TLocalWmiProvider::ReliabilityCounter(const QString &objectId)
{
    const auto &disks = ReadingDisks(false);
    const auto disk = std::find_if(disks.begin(), disks.end(),
                                   [&](const Disk &d) { return d.nvme && d.devicePath == objectId; });
    if (disk == disks.end())
        throw EWmiError(u"Not found: no NVMe drive \"%1\""_s.arg(objectId));
    const TNvmeReading reading = m_nvme->ReadHealthLog(disk->devicePath);
    logFailure(disk->devicePath, reading.failure);
    if (!reading.failure.isEmpty())
        throw EWmiError(reading.failure);
    if (!reading.page)
        return {};
    TWmiInstance c;
    c.Set(u"DeviceId"_s, disk->devicePath);
    std::vector<std::int64_t> bytes;
    for (const char b : *reading.page)
        bytes.push_back(static_cast<std::uint8_t>(b));
    c.Set(QString::fromUtf16(kHealthLogProperty), std::move(bytes));
    TWmiInstances result;
    result.push_back(std::move(c));
    return result;
}

TWmiInstances TLocalWmiProvider::Query(const QString &, const QString &nameSpace, const QString &, const QString &,
                                       const QString &query)
{
    const QString cls = drives::QueriedClass(query);
    if (isNamespace(nameSpace, u"root\\CIMV2"_s)) {
        if (cls.compare(u"Win32_DiskDrive"_s, Qt::CaseInsensitive) == 0) {
            TWmiInstances result;
            for (const Disk &disk : ReadingDisks(false))
                result.push_back(disk.drive);
            return result;
        }
        if (cls.compare(u"Win32_PhysicalMedia"_s, Qt::CaseInsensitive) == 0) {
            TWmiInstances result;
            for (const Disk &disk : ReadingDisks(true)) {
                TWmiInstance m;
                m.Set(u"Tag"_s, disk.devicePath);
                m.Set(u"SerialNumber"_s, disk.serial ? drives::TWmiValue(*disk.serial) : drives::TWmiValue(TWmiNull{}));
                result.push_back(std::move(m));
            }
            return result;
        }
    } else if (isNamespace(nameSpace, u"root\\WMI"_s)) {
        if (cls.compare(u"MSStorageDriver_FailurePredictData"_s, Qt::CaseInsensitive) == 0)
            return FailurePredict(false);
        if (cls.compare(u"MSStorageDriver_FailurePredictThresholds"_s, Qt::CaseInsensitive) == 0)
            return FailurePredict(true);
        if (cls.compare(u"MSStorageDriver_FailurePredictStatus"_s, Qt::CaseInsensitive) == 0)
            return FailurePredictStatus();
    } else if (isNamespace(nameSpace, QString::fromUtf16(kStorageNamespace))) {
        if (cls.compare(QString::fromUtf16(kPhysicalDiskClass), Qt::CaseInsensitive) == 0)
            return PhysicalDisks();
        if (const auto a = drives::ParseAssociatorsQuery(query);
            a && a->className.compare(QString::fromUtf16(kPhysicalDiskClass), Qt::CaseInsensitive) == 0
            && a->assocClass.compare(QString::fromUtf16(kDiskToCounterClass), Qt::CaseInsensitive) == 0)
            return ReliabilityCounter(a->keyValue);
    }
    throw EWmiError(u"Invalid query \"%1\" in \"%2\""_s.arg(query, nameSpace));
}

} // namespace valmora::drives::local

namespace valmora::drives {

std::unique_ptr<TWmiProvider> CreateLocalWmiProvider()
{
    return std::make_unique<local::TLocalWmiProvider>();
}

} // namespace valmora::drives
