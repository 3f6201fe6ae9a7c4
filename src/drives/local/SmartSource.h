#pragma once

// Where the local provider takes a drive's raw S.M.A.R.T. sectors from: the
// device itself through libatasmart (ATA drives and drives behind a SCSI-to-ATA
// bridge), or libatasmart blobs for tests and demonstrations.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

namespace valmora::drives::local {

// The two 512-byte sectors of one drive: SMART READ DATA and SMART READ THRESHOLDS.
struct TSmartSectors
{
    QByteArray data;
    QByteArray thresholds;
    // SMART RETURN STATUS: false when the drive reports a threshold exceeded;
    // nullopt when it could not be asked.
    std::optional<bool> good = std::nullopt;
};

// What one drive gave.
struct TSmartReading
{
    std::optional<TSmartSectors> sectors; // nullopt: none
    // Why the drive gave none when libatasmart failed on it (it could not be
    // opened for ATA commands or did not answer IDENTIFY), naming the drive and
    // the system's reason; empty when the drive simply has no S.M.A.R.T. Such a
    // drive counts as one without S.M.A.R.T.
    QString failure;
};

class TSmartSource
{
public:
    virtual ~TSmartSource() = default;
    // The sectors of the drive at devicePath. Raises drives::EWmiError when the
    // drive cannot be read for lack of rights or fails while its S.M.A.R.T.
    // sectors are read.
    virtual TSmartReading ReadSectors(const QString &devicePath) = 0;
};

// Reads the device with libatasmart. Needs root.
class TAtaSmartSource final : public TSmartSource
{
public:
    TSmartReading ReadSectors(const QString &devicePath) override;
};

// Answers from libatasmart blobs (as sk_disk_get_blob writes them), one per
// device path, loaded with sk_disk_set_blob; other paths have no S.M.A.R.T.
class TAtaSmartBlobSource final : public TSmartSource
{
public:
    void Add(const QString &devicePath, QByteArray blob) { m_blobs.insert(devicePath, std::move(blob)); }
    TSmartReading ReadSectors(const QString &devicePath) override;

private:
    QHash<QString, QByteArray> m_blobs;
};

// The SMDT and SMTH sections of a libatasmart blob (4-byte tag, 4-byte
// big-endian length, payload); nullopt when either is missing or not 512 bytes.
std::optional<TSmartSectors> SectorsFromBlob(const QByteArray &blob);

} // namespace valmora::drives::local
