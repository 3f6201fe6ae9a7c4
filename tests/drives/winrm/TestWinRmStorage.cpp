// The storage classes of a remote Windows computer over WS-Management:
// MSFT_PhysicalDisk by enumeration and each disk's reliability counter through
// the association filter, judged beside the drive's S.M.A.R.T. table.
#include "TestSupport.h"
#include "WinRmTestEndpoint.h"
#include "WinRmTestRealm.h"

#include "drivedata/WmiDriveReader.h"
#include "drives/WmiProviders.h"
#include "drives/winrm/WinRmProvider.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::drives::winrm;
using valmora::test::TRecordedWinRm;
using valmora::test::TWinRmTestEndpoint;

namespace {

const QString user = QString::fromLatin1(valmora::test::NtlmDomain) + u'\\' + QString::fromLatin1(valmora::test::NtlmUser);
const QString password = QString::fromLatin1(valmora::test::NtlmPassword);
const QString storage = u"root\\Microsoft\\Windows\\Storage"_s;
const QString objectId = u"{1}\\\\PC\\root/Microsoft/Windows/Storage/Providers_v2\\SPACES_PhysicalDisk.ObjectId=\"{3b8f1a2c}:PD:{5c2a9e71}\""_s;

QByteArray own(const QString &name)
{
    QFile f(valmora::test::OwnFixture(u"winrm/"_s + name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

// MSFT_PhysicalDisk of the first recorded drive, as the service renders it.
QByteArray physicalDisk(int healthStatus, std::initializer_list<int> operational)
{
    QByteArray xml = "<p:MSFT_PhysicalDisk xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                     "xmlns:p=\"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/microsoft/windows/storage/"
                     "MSFT_PhysicalDisk\" xsi:type=\"p:MSFT_PhysicalDisk_Type\">"
                     "<p:BusType>11</p:BusType><p:DeviceId>0</p:DeviceId>"
                     "<p:FriendlyName>VALMORA TESTDISK A</p:FriendlyName>"
                     "<p:HealthStatus>"
                     + QByteArray::number(healthStatus) + "</p:HealthStatus><p:MediaType>3</p:MediaType>"
                     "<p:ObjectId>" + escaped(objectId) + "</p:ObjectId>";
    for (const int code : operational)
        xml += "<p:OperationalStatus>" + QByteArray::number(code) + "</p:OperationalStatus>";
    xml += "<p:SerialNumber xsi:nil=\"true\"/></p:MSFT_PhysicalDisk>";
    return xml;
}

QByteArray counter()
{
    return "<p:MSFT_StorageReliabilityCounter xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:p=\"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/microsoft/windows/storage/"
           "MSFT_StorageReliabilityCounter\" xsi:type=\"p:MSFT_StorageReliabilityCounter_Type\">"
           "<p:DeviceId>0</p:DeviceId><p:PowerOnHours>20433</p:PowerOnHours><p:ReadErrorsUncorrected>14"
           "</p:ReadErrorsUncorrected><p:StartStopCycleCount>3310</p:StartStopCycleCount>"
           "<p:Temperature>38</p:Temperature><p:Wear xsi:nil=\"true\"/></p:MSFT_StorageReliabilityCounter>";
}

} // namespace

TEST(WinRmStorage, HealthStatusAndCountersBesideTheSmartTable)
{
    if (!valmora::test::NtlmMechanismInstalled())
        GTEST_SKIP() << "gss-ntlmssp (Debian gss-ntlmssp) is not installed";
    struct Row
    {
        const char *what;
        int healthStatus;
        std::initializer_list<int> operational;
        bool countersDenied;
        int result;
        QString driveReason;
        QString readingReason;
    };
    const Row rows[] = {
        {"unhealthy", 2, {2}, false, kReadFlagged,
         u"the system reports the drive unhealthy; 14 uncorrected read errors"_s, QString()},
        {"predictive failure", 0, {2, 5}, false, kReadFlagged,
         u"the system predicts the drive's failure; 14 uncorrected read errors"_s, QString()},
        // The second recorded drive fails by its own table either way.
        {"counters denied", 0, {2}, true, kReadFlagged, QString(),
         u"health of \\\\.\\PHYSICALDRIVE0 (MSFT_StorageReliabilityCounter of root\\Microsoft\\Windows\\Storage): "_s},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        TRecordedWinRm recorded;
        recorded.AddRecordedDrives(10);
        recorded.Add(u"MSFT_PhysicalDisk"_s, storage, physicalDisk(row.healthStatus, row.operational), 10);
        if (row.countersDenied) {
            recorded.AddAssociatedFault(u"MSFT_PhysicalDiskToStorageReliabilityCounter"_s, objectId,
                                        own(u"fault_access_denied.xml"_s));
        } else {
            recorded.AddAssociated(u"MSFT_PhysicalDiskToStorageReliabilityCounter"_s, objectId,
                                   u"MSFT_StorageReliabilityCounter"_s, storage, counter());
        }
        TWinRmTestEndpoint endpoint(TWinRmTestEndpoint::ESecurity::Gss,
                                    [&recorded](const QByteArray &soap) { return recorded.Answer(soap); });
        TWinRmOptions options;
        options.port = endpoint.Port();
        options.connectTimeoutMs = 10000;
        options.requestTimeoutMs = 10000;
        const auto provider = drives::CreateRemoteWmiProvider(options);
        TDriveList list;
        QString reason;
        EXPECT_EQ(ReadComputerDrives(*provider, u"127.0.0.1"_s, list, user, password, &reason), row.result)
            << reason.toStdString();
        ASSERT_GE(list.Count(), 1);
        const TDriveInformation &d = list.Items(0);
        EXPECT_GT(d.AttributeCount, 0); // the S.M.A.R.T. table stays
        EXPECT_EQ(d.Health.Value(THealthField::BusType), 11u);
        EXPECT_EQ(d.DriveReason, row.driveReason);
        EXPECT_EQ(d.IsFlagged(), !row.driveReason.isEmpty());
        // The header's temperature stays the one of the drive's attribute 194.
        EXPECT_EQ(d.TemperatureCurrent, 36);
        if (!row.countersDenied) {
            EXPECT_EQ(d.Health.Value(THealthField::PowerOnHours), 20433u);
            EXPECT_EQ(d.Health.Value(THealthField::ReadErrorsUncorrected), 14u);
            EXPECT_FALSE(d.Health.Value(THealthField::Wear)); // nil
            EXPECT_EQ(d.Health.Value(THealthField::Temperature), 38u);
        } else {
            EXPECT_TRUE(reason.contains(row.readingReason)) << reason.toStdString();
            EXPECT_TRUE(reason.contains(u"Access is denied"_s)) << reason.toStdString();
        }
        // The other drive has no storage object: no health of its own.
        for (int i = 1; i < list.Count(); ++i) {
            EXPECT_TRUE(list.Items(i).Health.Empty());
        }
        EXPECT_TRUE(recorded.Problems().isEmpty()) << recorded.Problems().join(u"; "_s).toStdString();
    }
}
