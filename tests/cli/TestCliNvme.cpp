// valmora-cli on computers with NVMe drives: the result, the drive's reasons
// and the health figures by name, for programs and for people; a readout file
// written by read shows the same with show.
#include "TestSupport.h"

#include "drivedata/SmartTypes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct CliRun
{
    int code = -1;
    QString out;
};

CliRun Cli(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(VALMORA_CLI), arguments);
    if (!p.waitForFinished(30000))
        return {};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
}

QString Recordings()
{
    return valmora::test::OwnFixture(u"drivedata/recordings"_s);
}

} // namespace

TEST(CliNvme, RecordedWindowsComputerWithAnUnhealthyNvmeDrive)
{
    valmora::test::ScopedSandbox sandbox;
    const CliRun run = Cli({u"read"_s, u"NVME-PC"_s, u"--recordings"_s, Recordings(), u"--json"_s});
    EXPECT_EQ(run.code, 1);
    const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    EXPECT_EQ(json.value(u"Result"_s).toInt(-1), 3);
    const QJsonObject drive = json.value(u"Drives"_s).toArray().at(0).toObject();
    EXPECT_EQ(drive.value(u"Reason"_s).toString(), u"the system reports the drive unhealthy"_s);
    EXPECT_FALSE(drive.contains(u"Nvme"_s)); // Windows gives the counters, not the log page
    const QJsonObject storage = drive.value(u"Storage"_s).toObject();
    EXPECT_EQ(storage.value(u"HealthStatus"_s).toInt(-1), 2);
    EXPECT_EQ(storage.value(u"BusType"_s).toInt(-1), 17);
    EXPECT_EQ(storage.value(u"Wear"_s).toInt(-1), 12);
    EXPECT_EQ(storage.value(u"PowerOnHours"_s).toInt(-1), 8812);
    bool found = false;
    for (const QJsonValue &row : drive.value(u"Health"_s).toArray()) {
        const QJsonObject r = row.toObject();
        if (r.value(u"Name"_s).toString() != u"HealthStatus"_s)
            continue;
        found = true;
        EXPECT_EQ(r.value(u"Value"_s).toString(), u"Unhealthy"_s);
        EXPECT_EQ(r.value(u"State"_s).toString(), u"Failing"_s);
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(drive.value(u"TemperatureCurrent"_s).toInt(-1), 44);

    // For people: the table with the verdict, and the temperature in the header.
    const CliRun text = Cli({u"read"_s, u"NVME-PC"_s, u"--recordings"_s, Recordings()});
    EXPECT_TRUE(text.out.contains(u"Temperature: current 44 °C"_s)) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QRegularExpression(u"HealthStatus +Unhealthy +Failing +the system reports the drive unhealthy"_s)))
        << text.out.toStdString();
    EXPECT_FALSE(text.out.contains(u"No S.M.A.R.T. attributes"_s));
}

TEST(CliNvme, ShowAStoredNvmeReadout)
{
    valmora::test::ScopedSandbox sandbox;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"PC.wci"_s);
    {
        valmora::TDriveList list;
        list.ComputerName = u"PC"_s;
        auto d = std::make_unique<valmora::TDriveInformation>();
        d->Name = u"/dev/nvme0n1"_s;
        QByteArray page(512, '\0');
        page[0] = 0x05;                           // spare below threshold, reliability degraded
        page[1] = char(0x43), page[2] = char(0x01); // 323 K
        page[3] = 100, page[4] = 20;
        const auto span = std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t *>(page.constData()), 512);
        d->Health = *valmora::DecodeHealthLog(span);
        list.Add(std::move(d));
        list.SaveToFile(path);
    }
    const CliRun run = Cli({u"show"_s, path, u"--json"_s});
    const QJsonObject drive =
        QJsonDocument::fromJson(run.out.toUtf8()).object().value(u"Drives"_s).toArray().at(0).toObject();
    const QJsonObject nvme = drive.value(u"Nvme"_s).toObject();
    EXPECT_EQ(nvme.value(u"CriticalWarning"_s).toInt(-1), 5);
    EXPECT_EQ(nvme.value(u"CompositeTemperature"_s).toInt(-1), 50);
    EXPECT_EQ(nvme.value(u"AvailableSpareThreshold"_s).toInt(-1), 20);
    for (const char *key : {"PercentageUsed", "DataUnitsRead", "DataUnitsWritten", "PowerCycles", "PowerOnHours",
                            "UnsafeShutdowns", "MediaErrors", "ErrorLogEntries", "WarningTemperatureTime",
                            "CriticalTemperatureTime"})
        EXPECT_TRUE(nvme.contains(QString::fromLatin1(key))) << key;
    EXPECT_EQ(drive.value(u"Reason"_s).toString(), u"available spare below threshold; reliability degraded"_s);
    const QJsonObject first = drive.value(u"Health"_s).toArray().at(0).toObject();
    EXPECT_EQ(first.value(u"Name"_s).toString(), u"CriticalWarning"_s);
    EXPECT_EQ(first.value(u"Value"_s).toString(), u"0x05"_s);
    EXPECT_EQ(first.value(u"State"_s).toString(), u"Failing"_s);
}
