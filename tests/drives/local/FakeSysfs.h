#pragma once

// A small sysfs and /dev tree as a Linux machine shows it: an ATA disk with two
// partitions, a USB stick, an NVMe disk, a virtio disk, and the block devices
// that are no physical disks (loop, zram, ram, device-mapper, md, optical,
// eMMC boot areas).

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace valmora::test {

using namespace Qt::Literals::StringLiterals;

class FakeSysfs
{
public:
    FakeSysfs()
    {
        QDir().mkpath(dev());
        const QString ata = u"devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0"_s;
        file(ata + u"/model"_s, "FUJITSU MHY2120BH\n");
        file(ata + u"/vendor"_s, "ATA     \n");
        file(ata + u"/rev"_s, "0084\n");
        // VPD page 0x80: the unit serial number.
        file(ata + u"/vpd_pg80"_s, QByteArray("\x00\x80\x00\x14", 4) + QByteArray("        K434T81257SL"));
        disk(ata, u"sda"_s, 234441648, false, 512, 2);

        const QString usb = u"devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0"_s;
        file(usb + u"/model"_s, "Flash Disk      \n");
        file(usb + u"/vendor"_s, "Generic \n");
        file(usb + u"/rev"_s, "8.07\n");
        disk(usb, u"sdb"_s, 15728640, true, 512, 1);

        const QString nvme = u"devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0"_s;
        file(nvme + u"/model"_s, "SAMSUNG MZVLB512HAJQ-000L7              \n");
        file(nvme + u"/serial"_s, "S3TNNX0K123456      \n");
        file(nvme + u"/firmware_rev"_s, "4L2QEXA7\n");
        disk(nvme, u"nvme0n1"_s, 1000215216, false, 4096, 3);

        const QString virtio = u"devices/pci0000:00/0000:00:02.0/virtio1"_s;
        file(virtio + u"/vendor"_s, "0x1af4\n");
        disk(virtio, u"vda"_s, 536870912, false, 512, 0);
        file(u"block/vda/serial"_s, "overlayblk\n");

        for (const char *name : {"loop0", "zram0", "ram0", "dm-0", "md0", "sr0", "mmcblk0boot0"})
            disk(u"devices/virtual"_s, QString::fromLatin1(name), 1000, false, 512, 0, false);
    }

    QString sys() const { return m_dir.path() + u"/sys"_s; }
    QString dev() const { return m_dir.path() + u"/dev"_s; }
    QString root() const { return m_dir.path(); }

    void file(const QString &relative, const QByteArray &content) const
    {
        const QString path = sys() + u'/' + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(content);
    }

private:
    // The disk's own folder below its device, linked from block/, with its
    // size in 512-byte units and partitions as sub-folders.
    void disk(const QString &device, const QString &name, qint64 sectors, bool removable, int blockSize,
              int partitions, bool linkDevice = true) const
    {
        const QString own = device + u"/block/"_s + name;
        file(own + u"/size"_s, QByteArray::number(sectors) + '\n');
        file(own + u"/removable"_s, removable ? "1\n" : "0\n");
        file(own + u"/queue/logical_block_size"_s, QByteArray::number(blockSize) + '\n');
        for (int p = 1; p <= partitions; ++p)
            file(own + u'/' + name + (name.startsWith(u"nvme"_s) ? u"p"_s : QString()) + QString::number(p)
                     + u"/partition"_s,
                 QByteArray::number(p) + '\n');
        if (linkDevice)
            QFile::link(sys() + u'/' + device, sys() + u'/' + own + u"/device"_s);
        QDir().mkpath(sys() + u"/block"_s);
        QFile::link(sys() + u'/' + own, sys() + u"/block/"_s + name);
        QFile(dev() + u'/' + name).open(QIODevice::WriteOnly);
    }

    QTemporaryDir m_dir;
};

} // namespace valmora::test
