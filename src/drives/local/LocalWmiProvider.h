#pragma once

// The management instrumentation of this computer on Linux: Win32_DiskDrive and
// Win32_PhysicalMedia from sysfs, MSStorageDriver_FailurePredictData and
// MSStorageDriver_FailurePredictThresholds as the raw S.M.A.R.T. sectors of the
// ATA drives, MSStorageDriver_FailurePredictStatus from their SMART RETURN
// STATUS, and for the NVMe drives MSFT_PhysicalDisk and, through the
// association, an MSFT_StorageReliabilityCounter carrying the health log
// (root\Microsoft\Windows\Storage). The sysfs and /dev roots are parameters, so
// tests run it on a small fake tree.

#include "foundation/LogSystem.h"
#include "drives/Wmi.h"
#include "drives/local/NvmeSource.h"
#include "drives/local/SmartSource.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace valmora::drives::local {

class TLocalWmiProvider final : public drives::TWmiStaticProvider
{
public:
    // A drive that libatasmart fails on is written to log, with its path and the reason.
    explicit TLocalWmiProvider(QString sysfsRoot = QStringLiteral("/sys"), QString devRoot = QStringLiteral("/dev"),
                               std::unique_ptr<TSmartSource> smart = std::make_unique<TAtaSmartSource>(),
                               TXLogSystem &log = XLogSystem(),
                               std::unique_ptr<TNvmeSource> nvme = std::make_unique<TNvmeIoctlSource>());

    void Connect(const QString &server, const QString &nameSpace, const QString &user,
                 const QString &password) override;
    drives::TWmiInstances Query(const QString &server, const QString &nameSpace, const QString &user,
                             const QString &password, const QString &query) override;

    // One physical disk as sysfs describes it.
    struct Disk
    {
        QString name;       // sda, nvme0n1, vda, ...
        QString devicePath; // devRoot + "/" + name
        drives::TWmiInstance drive;
        std::optional<QString> serial;
        bool ata = false;  // may answer S.M.A.R.T. commands (sd*, hd*)
        bool nvme = false; // an NVMe namespace (nvme*n*)
    };
    std::vector<Disk> Disks() const;

private:
    drives::TWmiInstances FailurePredict(bool thresholds);
    // Logs a drive's failure (place 2004) unless it is the one last logged for that drive.
    void logFailure(const QString &devicePath, const QString &failure);
    drives::TWmiInstances FailurePredictStatus();
    drives::TWmiInstances PhysicalDisks();
    drives::TWmiInstances ReliabilityCounter(const QString &objectId);
    // The disks of the reading under way: a reading starts with the media
    // query, which looks at sysfs afresh; the later queries reuse what it found.
    const std::vector<Disk> &ReadingDisks(bool fresh);

    QString m_sysfsRoot;
    QString m_devRoot;
    std::unique_ptr<TSmartSource> m_smart;
    std::unique_ptr<TNvmeSource> m_nvme;
    TXLogSystem &m_log;
    // The sectors read for the data query, kept for the thresholds query that
    // follows it, so a reading opens every drive once.
    std::optional<std::vector<std::pair<QString, TSmartSectors>>> m_sectors;
    std::optional<std::vector<Disk>> m_disks;
    // Why the drives of the data query gave no sectors: the reason of a
    // reading in which no drive could be read.
    QStringList m_failures;
    // The drives' own verdicts from the data query, for the status query.
    std::optional<std::vector<std::pair<QString, bool>>> m_status;
};

} // namespace valmora::drives::local
