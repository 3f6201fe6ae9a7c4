#include "SmartSource.h"

#include "drives/Wmi.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include <atasmart.h>

using namespace Qt::Literals::StringLiterals;
using valmora::drives::EWmiError;

namespace valmora::drives::local {

namespace {

struct DiskDeleter
{
    void operator()(SkDisk *d) const { sk_disk_free(d); }
};
using DiskPtr = std::unique_ptr<SkDisk, DiskDeleter>;

void parsedNothing(SkDisk *, const SkSmartAttributeParsedData *, void *) {}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The sectors of an opened disk (a device or a blob).
TSmartReading readOpened(SkDisk *disk, const QString &devicePath)
{
    SkBool available = FALSE;
    // libatasmart refuses this when the drive did not answer IDENTIFY DEVICE.
    if (sk_disk_smart_is_available(disk, &available) < 0)
        return {std::nullopt, u"\"%1\" did not answer IDENTIFY DEVICE: %2"_s.arg(devicePath, errnoText(errno))};
    if (!available)
        return {};
    if (sk_disk_smart_read_data(disk) < 0)
        throw EWmiError(u"%1: SMART READ DATA failed: %2"_s.arg(devicePath, errnoText(errno)));
    // Parsing the attributes makes libatasmart read the threshold sector too.
    if (sk_disk_smart_parse_attributes(disk, parsedNothing, nullptr) < 0)
        throw EWmiError(u"%1: SMART READ THRESHOLDS failed: %2"_s.arg(devicePath, errnoText(errno)));
    const void *blob = nullptr;
    size_t size = 0;
    if (sk_disk_get_blob(disk, &blob, &size) < 0)
        throw EWmiError(u"Cannot take the S.M.A.R.T. sectors of \"%1\": %2"_s.arg(devicePath, errnoText(errno)));
    auto sectors = SectorsFromBlob(QByteArray(static_cast<const char *>(blob), static_cast<qsizetype>(size)));
    if (!sectors)
        throw EWmiError(u"The S.M.A.R.T. sectors of \"%1\" are incomplete"_s.arg(devicePath));
    // The drive's own verdict; a drive that cannot give it is judged by its attributes alone.
    SkBool good = TRUE;
    if (sk_disk_smart_status(disk, &good) >= 0)
        sectors->good = good != FALSE;
    return {sectors, QString()};
}

} // namespace

std::optional<TSmartSectors> SectorsFromBlob(const QByteArray &blob)
{
    std::optional<QByteArray> data, thresholds;
    qsizetype at = 0;
    while (blob.size() - at >= 8) {
        const QByteArray tag = blob.mid(at, 4);
        const auto length = qFromBigEndian<std::uint32_t>(blob.constData() + at + 4);
        at += 8;
        if (length > static_cast<std::uint32_t>(blob.size() - at))
            break;
        const QByteArray payload = blob.mid(at, static_cast<qsizetype>(length));
        at += static_cast<qsizetype>(length);
        if (tag == "SMDT")
            data = payload;
        else if (tag == "SMTH")
            thresholds = payload;
    }
    if (!data || !thresholds || data->size() != 512 || thresholds->size() != 512)
        return std::nullopt;
    return TSmartSectors{*data, *thresholds};
}

TSmartReading TAtaSmartSource::ReadSectors(const QString &devicePath)
{
    const QByteArray path = QFile::encodeName(devicePath);
    // Lack of rights is a failure, never a drive without S.M.A.R.T.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            throw EWmiError(u"Cannot open \"%1\": %2 (reading local drives needs root)"_s.arg(devicePath, errnoText(error)));
        throw EWmiError(u"Cannot open \"%1\": %2"_s.arg(devicePath, errnoText(error)));
    }
    ::close(fd);

    SkDisk *raw = nullptr;
    if (sk_disk_open(path.constData(), &raw) < 0) {
        const int error = errno;
        // ATA pass-through needs raw I/O rights; for root a refusal means the
        // device does not speak ATA.
        if ((error == EACCES || error == EPERM) && ::geteuid() != 0)
            throw EWmiError(u"Cannot open \"%1\": %2 (reading local drives needs root)"_s.arg(devicePath, errnoText(error)));
        return {std::nullopt, u"Cannot open \"%1\" for ATA commands: %2"_s.arg(devicePath, errnoText(error))};
    }
    const DiskPtr disk(raw);
    return readOpened(disk.get(), devicePath);
}

TSmartReading TAtaSmartBlobSource::ReadSectors(const QString &devicePath)
{
    const auto it = m_blobs.constFind(devicePath);
    if (it == m_blobs.constEnd())
        return {};
    SkDisk *raw = nullptr;
    if (sk_disk_open(nullptr, &raw) < 0)
        throw EWmiError(u"Cannot create a S.M.A.R.T. disk for \"%1\": %2"_s.arg(devicePath, errnoText(errno)));
    const DiskPtr disk(raw);
    if (sk_disk_set_blob(disk.get(), it->constData(), static_cast<size_t>(it->size())) < 0)
        throw EWmiError(u"The S.M.A.R.T. blob of \"%1\" is damaged: %2"_s.arg(devicePath, errnoText(errno)));
    return readOpened(disk.get(), devicePath);
}

} // namespace valmora::drives::local
