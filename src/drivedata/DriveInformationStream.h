#pragma once

// The computer information file (.wci): a computer's last readout as a flat
// little-endian image. A 208-byte header (time of saving as a 64-bit float of
// days since 1899-12-30, then the computer's name as a text field), then one
// 9796-byte record per drive, packed without alignment gaps. No magic number,
// no count: the number of records follows from the size. Text fields are 100
// UTF-16LE code units: at most 99 of text, then zeros.
//
// The health figures of drives that have them (NVMe health log, storage
// classes) follow the last record as one block, shorter than a record, so
// that a loader that knows nothing of it counts the same records and ignores
// it as trailing bytes:
//
//   "VMHB", u16 version (1), u16 entry count, then per entry:
//   u16 drive index, u32 mask of the fields present (bit n: THealthField n),
//   u64 per present field in field order, u16 length of OperationalStatus in
//   UTF-16LE code units (at most 99), the code units.
//
// Entries that would make the block as long as a record are left out: their
// figures come again with the next readout.

#include "drivedata/SmartTypes.h"

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace valmora {

namespace wci {
inline constexpr int kTextFieldSize = 200;
inline constexpr int kTextUnits = 99;
inline constexpr int kHeaderSize = 8 + kTextFieldSize;
inline constexpr int kRecordSize = 9796;

// Offsets inside a drive record.
inline constexpr int kBytesPerSector = 0;
inline constexpr int kFirmwareRevision = 4;
inline constexpr int kInterfaceType = 204;
inline constexpr int kManufacturer = 404;
inline constexpr int kMediaType = 604;
inline constexpr int kModel = 804;
inline constexpr int kName = 1004;
inline constexpr int kPartitions = 1204;
inline constexpr int kPNPDeviceID = 1208;
inline constexpr int kSectorsPerTrack = 1408;
inline constexpr int kSerialNumber = 1412;
inline constexpr int kSize = 1612;
inline constexpr int kStatus = 1620;
inline constexpr int kTotalCylinders = 1820;
inline constexpr int kTotalHeads = 1828;
inline constexpr int kTotalSectors = 1832;
inline constexpr int kTotalTracks = 1840;
inline constexpr int kTracksPerCylinder = 1848;
inline constexpr int kTemperatureCurrent = 1852;
inline constexpr int kTemperatureWorst = 1853;
inline constexpr int kTemperatureLow = 1854;
inline constexpr int kReserved = 1855;
inline constexpr int kAttributeCount = 1856;
inline constexpr int kAttrId = 1860;
inline constexpr int kAttrPreFailure = 2884;
inline constexpr int kAttrFlagBit4 = 3140;
inline constexpr int kAttrFlagBit3 = 3396;
inline constexpr int kAttrCurrent = 3652;
inline constexpr int kAttrWorst = 4676;
inline constexpr int kAttrThreshold = 5700;
inline constexpr int kAttrRaw = 6724;
inline constexpr int kAttrState = 8772;
inline constexpr char kHealthMagic[] = "VMHB";
inline constexpr int kHealthVersion = 1;
inline constexpr int kHealthHeaderSize = 8;
static_assert(kAttrState + 4 * kAttributeSlots == kRecordSize);
} // namespace wci

// A 200-byte text field: the text's first 99 code units, then zero bytes.
QByteArray PutFixedText(const QString &text);

// The image of a file being written: the header at construction, then one
// record per WriteDrive.
class TShortDriveInformationStreamWrite
{
public:
    // The header carries the current local time.
    explicit TShortDriveInformationStreamWrite(const QString &computerName);
    TShortDriveInformationStreamWrite(const QString &computerName, TDateTime saveTime);

    void WriteDrive(const TDriveInformation &drive);
    // The header and records, then the health block when a drive has figures.
    QByteArray Data() const;

private:
    QByteArray m_data;
    QByteArray m_health; // the block's entries
    int m_healthEntries = 0;
    int m_drives = 0;
};

// The image of a whole file read into memory. Construct only from an image of
// at least kHeaderSize bytes (LoadFromFile checks); bytes after the last whole
// record are ignored.
class TShortDriveInformationStreamRead
{
public:
    explicit TShortDriveInformationStreamRead(QByteArray data);

    TDateTime ReadSaveTime() const;
    QString ReadComputerName() const;
    int RecordCount() const;
    // A copy of record index's bytes (0 <= index < RecordCount).
    QByteArray ReadRecord(int index) const;
    // Every field and slot of record index, texts cut to 99 code units.
    void ReadDrive(int index, TDriveInformation &drive) const;
    // The health block after the records, by drive index; empty when the file
    // has none or it is damaged (a damaged entry ends the walk).
    std::vector<std::pair<int, TDriveHealth>> ReadHealth() const;

private:
    QByteArray m_data;
};

} // namespace valmora
