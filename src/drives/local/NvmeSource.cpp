#include "NvmeSource.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <linux/nvme_ioctl.h>

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives::local {

namespace {

constexpr std::uint8_t kGetLogPage = 0x02;
constexpr std::uint32_t kHealthLog = 0x02;
constexpr std::uint32_t kLogSize = 512;
// The controller's own log, not one namespace's.
constexpr std::uint32_t kAllNamespaces = 0xFFFFFFFFu;

class Fd
{
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

QString NvmeFailureText(const QString &devicePath, int error)
{
    if (error == EACCES || error == EPERM)
        return u"reading the health log of \"%1\" needs root or CAP_SYS_ADMIN: %2"_s.arg(
            devicePath, QString::fromLocal8Bit(std::strerror(error)));
    if (error == ENOTTY || error == EINVAL)
        return u"\"%1\" does not take NVMe admin commands: %2"_s.arg(devicePath,
                                                                     QString::fromLocal8Bit(std::strerror(error)));
    return u"cannot read the health log of \"%1\": %2"_s.arg(devicePath, QString::fromLocal8Bit(std::strerror(error)));
}

TNvmeReading TNvmeIoctlSource::ReadHealthLog(const QString &devicePath)
{
    const Fd fd(::open(QFile::encodeName(devicePath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return {std::nullopt, NvmeFailureText(devicePath, errno)};
    QByteArray page(kLogSize, '\0');
    nvme_admin_cmd cmd{};
    cmd.opcode = kGetLogPage;
    cmd.nsid = kAllNamespaces;
    cmd.addr = reinterpret_cast<std::uintptr_t>(page.data());
    cmd.data_len = kLogSize;
    // Number of dwords, 0-based, in the upper half; the log identifier below.
    cmd.cdw10 = ((kLogSize / 4 - 1) << 16) | kHealthLog;
    const int status = ::ioctl(fd.get(), NVME_IOCTL_ADMIN_CMD, &cmd);
    if (status < 0)
        return {std::nullopt, NvmeFailureText(devicePath, errno)};
    if (status > 0)
        return {std::nullopt, u"the controller of \"%1\" refused Get Log Page: status 0x%2"_s.arg(devicePath).arg(
                                  status, 0, 16)};
    return {page, QString()};
}

TNvmeReading TNvmeLogPageSource::ReadHealthLog(const QString &devicePath)
{
    if (const auto it = m_pages.constFind(devicePath); it != m_pages.constEnd())
        return {*it, QString()};
    return {std::nullopt, m_failures.value(devicePath)};
}

} // namespace valmora::drives::local
