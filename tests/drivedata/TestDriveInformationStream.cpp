#include "TestSupport.h"

#include "drivedata/DriveInformationStream.h"
#include "foundation/TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

namespace {

std::unique_ptr<TDriveInformation> SampleDrive(int seed)
{
    auto d = std::make_unique<TDriveInformation>();
    d->BytesPerSector = 512;
    d->FirmwareRevision = u"FW%1"_s.arg(seed);
    d->InterfaceType = u"IDE"_s;
    d->Manufacturer = u"Maker"_s;
    d->MediaType = u"Fixed hard disk media"_s;
    d->Model = u"Model %1 ż"_s.arg(seed);
    d->Name = u"\\\\.\\PHYSICALDRIVE%1"_s.arg(seed);
    d->Partitions = 3;
    d->PNPDeviceID = u"IDE\\DISK%1"_s.arg(seed);
    d->SectorsPerTrack = 63;
    d->SerialNumber = u"SN-%1"_s.arg(seed);
    d->Size = 500'107'862'016LL + seed;
    d->Status = u"OK"_s;
    d->TotalCylinders = 60801;
    d->TotalHeads = 255;
    d->TotalSectors = 976'768'065;
    d->TotalTracks = 15'504'255;
    d->TracksPerCylinder = 255;
    d->TemperatureCurrent = 40;
    d->TemperatureWorst = 55;
    d->TemperatureLow = 18;
    d->AttributeCount = 2;
    for (int i = 0; i < kAttributeSlots; ++i) {
        const auto s = static_cast<std::size_t>(i);
        d->AttrId[s] = i + seed;
        d->AttrPreFailure[s] = i % 2 == 0;
        d->AttrFlagBit4[s] = i % 3 == 0;
        d->AttrFlagBit3[s] = i % 5 == 0;
        d->AttrCurrent[s] = 100 + i;
        d->AttrWorst[s] = 90 + i;
        d->AttrThreshold[s] = i;
        d->AttrRaw[s] = 0xFFFFFFFFFFFFLL - i;
        d->AttrState[s] = i % 4;
    }
    return d;
}

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(InformationFile, GoldenHeader)
{
    const TDateTime noon = DateTimeFromQt(QDateTime(QDate(2015, 1, 1), QTime(12, 0)));
    ASSERT_EQ(noon, 42005.5);
    const TShortDriveInformationStreamWrite stream(u"PC-01"_s, noon);
    const QByteArray &h = stream.Data();
    ASSERT_EQ(h.size(), 208);
    EXPECT_EQ(h.left(8), QByteArray::fromHex("00000000B082E440"));
    EXPECT_EQ(h.mid(8, 10), QByteArray("P\0C\0-\0" "0\0" "1\0", 10));
    EXPECT_EQ(h.mid(18), QByteArray(190, '\0'));
}

TEST(InformationFile, RecordFieldsAtTheirOffsets)
{
    TShortDriveInformationStreamWrite stream(u"X"_s, 1.0);
    const auto d = SampleDrive(7);
    stream.WriteDrive(TDriveInformation{});
    stream.WriteDrive(*d);
    const QByteArray data = stream.Data();
    ASSERT_EQ(data.size(), 208 + 2 * 9796);
    const char *r = data.constData() + 208 + 9796;
    auto u32 = [&](int at) { return qFromLittleEndian<std::uint32_t>(r + at); };
    auto i64 = [&](int at) { return qFromLittleEndian<std::int64_t>(r + at); };
    auto text = [&](int at) { return QString::fromUtf16(reinterpret_cast<const char16_t *>(r + at)); };
    EXPECT_EQ(u32(0), 512u);
    EXPECT_EQ(text(4), u"FW7"_s);
    EXPECT_EQ(text(204), u"IDE"_s);
    EXPECT_EQ(text(404), u"Maker"_s);
    EXPECT_EQ(text(604), u"Fixed hard disk media"_s);
    EXPECT_EQ(text(804), u"Model 7 ż"_s);
    EXPECT_EQ(text(1004), u"\\\\.\\PHYSICALDRIVE7"_s);
    EXPECT_EQ(u32(1204), 3u);
    EXPECT_EQ(text(1208), u"IDE\\DISK7"_s);
    EXPECT_EQ(u32(1408), 63u);
    EXPECT_EQ(text(1412), u"SN-7"_s);
    EXPECT_EQ(i64(1612), 500'107'862'023LL);
    EXPECT_EQ(text(1620), u"OK"_s);
    EXPECT_EQ(i64(1820), 60801);
    EXPECT_EQ(u32(1828), 255u);
    EXPECT_EQ(i64(1832), 976'768'065);
    EXPECT_EQ(i64(1840), 15'504'255);
    EXPECT_EQ(u32(1848), 255u);
    EXPECT_EQ(r[1852], 40);
    EXPECT_EQ(r[1853], 55);
    EXPECT_EQ(r[1854], 18);
    EXPECT_EQ(u32(1856), 2u);
    EXPECT_EQ(u32(1860 + 4 * 255), 262u); // AttrId[255]
    EXPECT_EQ(r[2884], 1);                // AttrPreFailure[0]
    EXPECT_EQ(r[2884 + 1], 0);
    EXPECT_EQ(r[3140 + 3], 1); // AttrFlagBit4[3]
    EXPECT_EQ(r[3396 + 5], 1); // AttrFlagBit3[5]
    EXPECT_EQ(r[3396 + 6], 0);
    EXPECT_EQ(u32(3652 + 4), 101u);
    EXPECT_EQ(u32(4676 + 8), 92u);
    EXPECT_EQ(u32(5700 + 4 * 200), 200u);
    EXPECT_EQ(i64(6724 + 8 * 255), 0xFFFFFFFFFFFFLL - 255);
    EXPECT_EQ(u32(8772 + 4 * 255), 3u);
}

TEST(InformationFile, TwoDriveRoundTrip)
{
    test::ScopedSandbox sandbox;
    const QString path = sandbox.path(u"PC.wci"_s);
    TDriveList list;
    list.ComputerName = u"\\\\PC"_s;
    list.Add(SampleDrive(1));
    list.Add(SampleDrive(2));
    list.Items(1).Model = QString(150, u'm'); // cut to 99
    list.Items(1).Status = u"ab"_s + QChar(0) + u"cd"_s;
    const TDateTime before = Now();
    list.SaveToFile(path);
    EXPECT_EQ(QFileInfo(path).size(), 19800);

    TDriveList loaded;
    loaded.Add(SampleDrive(9)); // replaced by the file's drives
    loaded.LoadFromFile(path);
    ASSERT_EQ(loaded.Count(), 2);
    EXPECT_EQ(loaded.ComputerName, u"\\\\PC"_s);
    EXPECT_GE(loaded.ReadoutTime, before);
    EXPECT_LE(loaded.ReadoutTime, Now());
    EXPECT_EQ(loaded.Items(0), list.Items(0));
    EXPECT_EQ(loaded.Items(1).Model, QString(99, u'm'));
    EXPECT_EQ(loaded.Items(1).Status, u"ab"_s);
    list.Items(1).Model = QString(99, u'm');
    list.Items(1).Status = u"ab"_s;
    EXPECT_EQ(loaded.Items(1), list.Items(1));
}

TEST(InformationFile, EmptyListGoesBesideTheFile)
{
    test::ScopedSandbox sandbox;
    const QString path = sandbox.path(u"PC.wci"_s);
    TDriveList full;
    full.Add(SampleDrive(1));
    full.SaveToFile(path);
    const QByteArray old = Read(path);

    TDriveList empty;
    empty.ComputerName = u"PC"_s;
    empty.SaveToFile(path);
    EXPECT_EQ(QFileInfo(path + u"!"_s).size(), 208);
    EXPECT_EQ(Read(path), old);
}

TEST(InformationFile, LoadEdges)
{
    test::ScopedSandbox sandbox;
    TDriveList list;
    list.ComputerName = u"kept"_s;
    list.ReadoutTime = 3.0;
    list.Add(SampleDrive(1));

    // A missing file is no error and changes nothing.
    list.LoadFromFile(sandbox.path(u"missing.wci"_s));
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.ComputerName, u"kept"_s);

    // Trailing bytes after the last whole record are ignored.
    TShortDriveInformationStreamWrite stream(u"one"_s, 2.0);
    stream.WriteDrive(*SampleDrive(4));
    const QString trailing = sandbox.path(u"trailing.wci"_s);
    Write(trailing, stream.Data() + QByteArray(100, '\x55'));
    list.LoadFromFile(trailing);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0), *SampleDrive(4));
    EXPECT_EQ(list.ReadoutTime, 2.0);

    // A bare header loads as a list without drives.
    const QString header = sandbox.path(u"header.wci"_s);
    Write(header, stream.Data().left(208));
    list.LoadFromFile(header);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ComputerName, u"one"_s);
}

TEST(InformationFile, DamagedFileRaisesAnErrorNamingIt)
{
    test::ScopedSandbox sandbox;
    const QString shortFile = sandbox.path(u"short.wci"_s);
    Write(shortFile, QByteArray(207, '\x01'));
    const QString dir = sandbox.path(u"dir.wci"_s);
    QDir().mkpath(dir);
    for (const QString &path : {shortFile, dir}) {
        TDriveList list;
        list.Add(SampleDrive(1));
        try {
            list.LoadFromFile(path);
            ADD_FAILURE() << "no error for " << qPrintable(path);
        } catch (const EDriveFileError &e) {
            EXPECT_TRUE(e.message().contains(path)) << qPrintable(e.message());
        }
        EXPECT_EQ(list.Count(), 1) << "the list is kept when the file is unreadable";
    }
    // Saving where no file can be written names the file too.
    TDriveList list;
    list.Add(SampleDrive(1));
    const QString nowhere = sandbox.path(u"no/such/folder/PC.wci"_s);
    try {
        list.SaveToFile(nowhere);
        ADD_FAILURE() << "no error";
    } catch (const EDriveFileError &e) {
        EXPECT_TRUE(e.message().contains(nowhere)) << qPrintable(e.message());
    }
}

// A save that dies or fails while the new image is being written leaves the
// previous readout as it was. The child process may write only 20000 bytes
// (RLIMIT_FSIZE), less than the four-drive image of 39392 bytes.
TEST(InformationFile, InterruptedSaveKeepsThePreviousFile)
{
    test::ScopedSandbox sandbox;
    const QString path = sandbox.path(u"PC.wci"_s);
    TDriveList previous;
    previous.Add(SampleDrive(1));
    previous.SaveToFile(path);
    const QByteArray old = Read(path);
    ASSERT_EQ(old.size(), 10004);

    for (const bool killed : {true, false}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (!killed)
                std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of killing
            rlimit limit{20000, 20000};
            setrlimit(RLIMIT_FSIZE, &limit);
            TDriveList list;
            for (int i = 0; i < 4; ++i)
                list.Add(SampleDrive(i));
            try {
                list.SaveToFile(path);
            } catch (const EDriveFileError &) {
                _exit(3);
            }
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (killed) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 3) << "the failed save was not reported";
        }
        EXPECT_EQ(Read(path), old);
        TDriveList loaded;
        loaded.LoadFromFile(path);
        EXPECT_EQ(loaded.Count(), 1);
    }
}
