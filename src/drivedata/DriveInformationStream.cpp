#include "DriveInformationStream.h"

#include "foundation/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <bit>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

template <typename T>
void put(char *at, T value)
{
    qToLittleEndian(value, at);
}

template <typename T>
T get(const char *at)
{
    return qFromLittleEndian<T>(at);
}

void putText(char *at, const QString &text)
{
    std::memset(at, 0, wci::kTextFieldSize);
    const qsizetype units = std::min<qsizetype>(text.size(), wci::kTextUnits);
    for (qsizetype u = 0; u < units; ++u)
        put<std::uint16_t>(at + 2 * u, text.at(u).unicode());
}

// The code units before the field's first zero, cut to 99 as a written field holds.
QString getText(const char *at)
{
    QString text;
    for (int u = 0; u < wci::kTextUnits; ++u) {
        const std::uint16_t unit = get<std::uint16_t>(at + 2 * u);
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

template <typename T, std::size_t N>
void putColumn(char *at, const std::array<T, N> &column)
{
    for (std::size_t i = 0; i < N; ++i) {
        if constexpr (std::is_same_v<T, bool>)
            at[i] = column[i] ? 1 : 0;
        else
            put<T>(at + i * sizeof(T), column[i]);
    }
}

template <typename T, std::size_t N>
void getColumn(const char *at, std::array<T, N> &column)
{
    for (std::size_t i = 0; i < N; ++i) {
        if constexpr (std::is_same_v<T, bool>)
            column[i] = at[i] != 0;
        else
            column[i] = get<T>(at + i * sizeof(T));
    }
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

QByteArray PutFixedText(const QString &text)
{
    QByteArray field(wci::kTextFieldSize, '\0');
    putText(field.data(), text);
    return field;
}

TShortDriveInformationStreamWrite::TShortDriveInformationStreamWrite(const QString &computerName)
    : TShortDriveInformationStreamWrite(computerName, Now())
{
}

TShortDriveInformationStreamWrite::TShortDriveInformationStreamWrite(const QString &computerName,
                                                                     TDateTime saveTime)
    : m_data(wci::kHeaderSize, '\0')
{
    put<std::uint64_t>(m_data.data(), std::bit_cast<std::uint64_t>(saveTime));
    putText(m_data.data() + 8, computerName);
}

void TShortDriveInformationStreamWrite::WriteDrive(const TDriveInformation &d)
{
    const qsizetype start = m_data.size();
    m_data.resize(start + wci::kRecordSize);
    char *r = m_data.data() + start;
    std::memset(r, 0, wci::kRecordSize);
    using namespace wci;
    put<std::uint32_t>(r + kBytesPerSector, d.BytesPerSector);
    putText(r + kFirmwareRevision, d.FirmwareRevision);
    putText(r + kInterfaceType, d.InterfaceType);
    putText(r + kManufacturer, d.Manufacturer);
    putText(r + kMediaType, d.MediaType);
    putText(r + kModel, d.Model);
    putText(r + kName, d.Name);
    put<std::uint32_t>(r + kPartitions, d.Partitions);
    putText(r + kPNPDeviceID, d.PNPDeviceID);
    put<std::uint32_t>(r + kSectorsPerTrack, d.SectorsPerTrack);
    putText(r + kSerialNumber, d.SerialNumber);
    put<std::int64_t>(r + kSize, d.Size);
    putText(r + kStatus, d.Status);
    put<std::int64_t>(r + kTotalCylinders, d.TotalCylinders);
    put<std::uint32_t>(r + kTotalHeads, d.TotalHeads);
    put<std::int64_t>(r + kTotalSectors, d.TotalSectors);
    put<std::int64_t>(r + kTotalTracks, d.TotalTracks);
    put<std::uint32_t>(r + kTracksPerCylinder, d.TracksPerCylinder);
    r[kTemperatureCurrent] = static_cast<char>(d.TemperatureCurrent);
    r[kTemperatureWorst] = static_cast<char>(d.TemperatureWorst);
    r[kTemperatureLow] = static_cast<char>(d.TemperatureLow);
    r[kReserved] = 0;
    put<std::int32_t>(r + kAttributeCount, d.AttributeCount);
    putColumn(r + kAttrId, d.AttrId);
    putColumn(r + kAttrPreFailure, d.AttrPreFailure);
    putColumn(r + kAttrFlagBit4, d.AttrFlagBit4);
    putColumn(r + kAttrFlagBit3, d.AttrFlagBit3);
    putColumn(r + kAttrCurrent, d.AttrCurrent);
    putColumn(r + kAttrWorst, d.AttrWorst);
    putColumn(r + kAttrThreshold, d.AttrThreshold);
    putColumn(r + kAttrRaw, d.AttrRaw);
    putColumn(r + kAttrState, d.AttrState);

    const int index = m_drives++;
    const TDriveHealth &h = d.Health;
    if (h.Empty())
        return;
    QByteArray entry;
    std::uint32_t mask = 0;
    QByteArray values;
    for (int f = 0; f < kHealthFieldCount; ++f) {
        const auto v = h.Values[static_cast<std::size_t>(f)];
        if (!v)
            continue;
        mask |= std::uint32_t{1} << f;
        char bytes[8];
        put<std::uint64_t>(bytes, *v);
        values.append(bytes, 8);
    }
    char head[6];
    put<std::uint16_t>(head, static_cast<std::uint16_t>(index));
    put<std::uint32_t>(head + 2, mask);
    entry.append(head, 6);
    entry.append(values);
    const qsizetype units = std::min<qsizetype>(h.OperationalStatus.size(), wci::kTextUnits);
    char length[2];
    put<std::uint16_t>(length, static_cast<std::uint16_t>(units));
    entry.append(length, 2);
    for (qsizetype u = 0; u < units; ++u) {
        char unit[2];
        put<std::uint16_t>(unit, h.OperationalStatus.at(u).unicode());
        entry.append(unit, 2);
    }
    // A drive index beyond 16 bits cannot be told; neither can a block as long as a record.
    if (index > 0xFFFF || wci::kHealthHeaderSize + m_health.size() + entry.size() >= wci::kRecordSize)
        return;
    m_health.append(entry);
    ++m_healthEntries;
}

QByteArray TShortDriveInformationStreamWrite::Data() const
{
    if (m_healthEntries == 0)
        return m_data;
    QByteArray data = m_data;
    char head[wci::kHealthHeaderSize];
    std::memcpy(head, wci::kHealthMagic, 4);
    put<std::uint16_t>(head + 4, wci::kHealthVersion);
    put<std::uint16_t>(head + 6, static_cast<std::uint16_t>(m_healthEntries));
    data.append(head, wci::kHealthHeaderSize);
    data.append(m_health);
    return data;
}

TShortDriveInformationStreamRead::TShortDriveInformationStreamRead(QByteArray data)
    : m_data(std::move(data))
{
    if (m_data.size() < wci::kHeaderSize)
        m_data.resize(wci::kHeaderSize, '\0');
}

TDateTime TShortDriveInformationStreamRead::ReadSaveTime() const
{
    return std::bit_cast<double>(get<std::uint64_t>(m_data.constData()));
}

QString TShortDriveInformationStreamRead::ReadComputerName() const
{
    return getText(m_data.constData() + 8);
}

int TShortDriveInformationStreamRead::RecordCount() const
{
    return static_cast<int>((m_data.size() - wci::kHeaderSize) / wci::kRecordSize);
}

QByteArray TShortDriveInformationStreamRead::ReadRecord(int index) const
{
    if (index < 0 || index >= RecordCount())
        throw EListError(u"Argument out of range"_s);
    return m_data.mid(wci::kHeaderSize + qsizetype(index) * wci::kRecordSize, wci::kRecordSize);
}

void TShortDriveInformationStreamRead::ReadDrive(int index, TDriveInformation &d) const
{
    if (index < 0 || index >= RecordCount())
        throw EListError(u"Argument out of range"_s);
    const char *r = m_data.constData() + wci::kHeaderSize + qsizetype(index) * wci::kRecordSize;
    using namespace wci;
    d.BytesPerSector = get<std::uint32_t>(r + kBytesPerSector);
    d.FirmwareRevision = getText(r + kFirmwareRevision);
    d.InterfaceType = getText(r + kInterfaceType);
    d.Manufacturer = getText(r + kManufacturer);
    d.MediaType = getText(r + kMediaType);
    d.Model = getText(r + kModel);
    d.Name = getText(r + kName);
    d.Partitions = get<std::uint32_t>(r + kPartitions);
    d.PNPDeviceID = getText(r + kPNPDeviceID);
    d.SectorsPerTrack = get<std::uint32_t>(r + kSectorsPerTrack);
    d.SerialNumber = getText(r + kSerialNumber);
    d.Size = get<std::int64_t>(r + kSize);
    d.Status = getText(r + kStatus);
    d.TotalCylinders = get<std::int64_t>(r + kTotalCylinders);
    d.TotalHeads = get<std::uint32_t>(r + kTotalHeads);
    d.TotalSectors = get<std::int64_t>(r + kTotalSectors);
    d.TotalTracks = get<std::int64_t>(r + kTotalTracks);
    d.TracksPerCylinder = get<std::uint32_t>(r + kTracksPerCylinder);
    d.TemperatureCurrent = static_cast<std::uint8_t>(r[kTemperatureCurrent]);
    d.TemperatureWorst = static_cast<std::uint8_t>(r[kTemperatureWorst]);
    d.TemperatureLow = static_cast<std::uint8_t>(r[kTemperatureLow]);
    d.AttributeCount = get<std::int32_t>(r + kAttributeCount);
    getColumn(r + kAttrId, d.AttrId);
    getColumn(r + kAttrPreFailure, d.AttrPreFailure);
    getColumn(r + kAttrFlagBit4, d.AttrFlagBit4);
    getColumn(r + kAttrFlagBit3, d.AttrFlagBit3);
    getColumn(r + kAttrCurrent, d.AttrCurrent);
    getColumn(r + kAttrWorst, d.AttrWorst);
    getColumn(r + kAttrThreshold, d.AttrThreshold);
    getColumn(r + kAttrRaw, d.AttrRaw);
    getColumn(r + kAttrState, d.AttrState);
}

std::vector<std::pair<int, TDriveHealth>> TShortDriveInformationStreamRead::ReadHealth() const
{
    std::vector<std::pair<int, TDriveHealth>> result;
    const qsizetype start = wci::kHeaderSize + qsizetype(RecordCount()) * wci::kRecordSize;
    const qsizetype end = m_data.size();
    if (end - start < wci::kHealthHeaderSize || std::memcmp(m_data.constData() + start, wci::kHealthMagic, 4) != 0 ||
        get<std::uint16_t>(m_data.constData() + start + 4) != wci::kHealthVersion)
        return result;
    const int entries = get<std::uint16_t>(m_data.constData() + start + 6);
    qsizetype at = start + wci::kHealthHeaderSize;
    const auto left = [&] { return end - at; };
    for (int e = 0; e < entries; ++e) {
        if (left() < 6)
            break;
        const int index = get<std::uint16_t>(m_data.constData() + at);
        const std::uint32_t mask = get<std::uint32_t>(m_data.constData() + at + 2);
        at += 6;
        if (mask >> kHealthFieldCount)
            break; // fields this program does not know: not an entry it can read
        TDriveHealth h;
        bool whole = true;
        for (int f = 0; f < kHealthFieldCount && whole; ++f) {
            if (!(mask & (std::uint32_t{1} << f)))
                continue;
            if (left() < 8) {
                whole = false;
                break;
            }
            h.Values[static_cast<std::size_t>(f)] = get<std::uint64_t>(m_data.constData() + at);
            at += 8;
        }
        if (!whole || left() < 2)
            break;
        const int units = get<std::uint16_t>(m_data.constData() + at);
        at += 2;
        if (units > wci::kTextUnits || left() < 2 * units)
            break;
        for (int u = 0; u < units; ++u)
            h.OperationalStatus.append(QChar(get<std::uint16_t>(m_data.constData() + at + 2 * u)));
        at += 2 * units;
        result.emplace_back(index, std::move(h));
    }
    return result;
}

void TDriveList::SaveToFile(const QString &path) const
{
    TShortDriveInformationStreamWrite stream(ComputerName);
    for (const auto &drive : m_drives)
        stream.WriteDrive(*drive);
    // An empty list goes beside the file, so the last readout with drives stays.
    const QString target = m_drives.empty() ? path + u'!' : path;
    QString error;
    // Written aside and renamed over the old file: a crash, a full disk or a
    // kill mid-save leaves the previous readout, the only memory of a computer
    // that cannot be reached now.
    if (!WriteFileAtomically(target, stream.Data(), &error))
        throw EDriveFileError(error);
}

void TDriveList::LoadFromFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return;
    QString error;
    std::optional<QByteArray> bytes = ReadWholeFile(path, &error);
    if (!bytes)
        throw EDriveFileError(u"Cannot read \"%1\": %2"_s.arg(native(path), error));
    if (bytes->size() < wci::kHeaderSize)
        throw EDriveFileError(u"\"%1\" is not a computer information file: %2 bytes, shorter than its header"_s.arg(
            native(path), QString::number(bytes->size())));
    const TShortDriveInformationStreamRead stream(std::move(*bytes));
    ClearDrives();
    ComputerName = stream.ReadComputerName();
    ReadoutTime = stream.ReadSaveTime();
    const int records = stream.RecordCount();
    for (int i = 0; i < records; ++i) {
        auto drive = std::make_unique<TDriveInformation>();
        stream.ReadDrive(i, *drive);
        Add(std::move(drive));
    }
    for (auto &[index, health] : stream.ReadHealth())
        if (index < Count())
            Items(index).Health = std::move(health);
}

} // namespace valmora
