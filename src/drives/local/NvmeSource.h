#pragma once

// Where the local provider takes an NVMe drive's SMART / Health Information
// log (log page 0x02) from: the controller itself through the kernel's NVMe
// admin command interface, or pages given by tests.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

namespace valmora::drives::local {

// What one drive gave: the 512-byte page, or why there is none, naming the
// drive and the system's reason.
struct TNvmeReading
{
    std::optional<QByteArray> page;
    QString failure;
};

class TNvmeSource
{
public:
    virtual ~TNvmeSource() = default;
    virtual TNvmeReading ReadHealthLog(const QString &devicePath) = 0;
};

// Get Log Page through NVME_IOCTL_ADMIN_CMD on the namespace's block device.
// The kernel lets only root (CAP_SYS_ADMIN) send admin commands.
class TNvmeIoctlSource final : public TNvmeSource
{
public:
    TNvmeReading ReadHealthLog(const QString &devicePath) override;
};

// Answers from pages given per device path; other paths give the failure set
// for them, or no page at all.
class TNvmeLogPageSource final : public TNvmeSource
{
public:
    void Add(const QString &devicePath, QByteArray page) { m_pages.insert(devicePath, std::move(page)); }
    void Fail(const QString &devicePath, QString failure) { m_failures.insert(devicePath, std::move(failure)); }
    TNvmeReading ReadHealthLog(const QString &devicePath) override;

private:
    QHash<QString, QByteArray> m_pages;
    QHash<QString, QString> m_failures;
};

// Why an admin command could not be sent, in words, from its errno.
QString NvmeFailureText(const QString &devicePath, int error);

} // namespace valmora::drives::local
