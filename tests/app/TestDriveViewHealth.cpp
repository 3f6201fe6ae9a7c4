// The drive view of an NVMe drive: its health figures as rows of the table,
// with verdicts, reasons and descriptions, and the header's figures from them.
#include "AttrInfo.h"
#include "DriveView.h"
#include "StateStore.h"

#include "drivedata/SmartTypes.h"
#include "drivedata/Verdicts.h"

#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

class TestDriveViewHealth : public QObject
{
    Q_OBJECT
private slots:
    void nvmeDriveShowsItsHealth();
};

void TestDriveViewHealth::nvmeDriveShowsItsHealth()
{
    QTemporaryDir dir;
    qputenv("VALMORA_COMMON_APPDATA", dir.path().toUtf8());
    const TSMARTAttrDecription descriptions(QStringLiteral(VALMORA_SOURCE_DIR) + u"/data/attribute.en"_s);
    TStateStore state(dir.path());
    TDriveView view(descriptions, state, QIcon());

    auto list = std::make_shared<TDriveList>();
    auto drive = std::make_unique<TDriveInformation>();
    drive->Name = u"/dev/nvme0n1"_s;
    drive->Model = u"QEMU NVMe Ctrl"_s;
    QByteArray page(512, '\0');
    page[0] = 0x05;                               // spare below threshold, reliability degraded
    page[1] = char(0x43), page[2] = char(0x01);   // 323 K
    page[3] = 100, page[4] = 20;
    page[112] = 7;                                // power cycles
    page[128] = char(0xC8);                       // 200 power-on hours
    drive->Health = *DecodeHealthLog(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t *>(page.constData()), 512));
    drive->TemperatureCurrent = 50;
    EvaluateDrive(*drive);
    list->Add(std::move(drive));
    view.ShowDrives(list, true);

    QAbstractItemModel *model = view.lvSmartData->model();
    QCOMPARE(model->rowCount(), 14); // the fourteen fields of the log
    QCOMPARE(model->index(0, TAttributeTableModel::IdColumn).data().toString(), QString());
    QCOMPARE(model->index(0, TAttributeTableModel::NameColumn).data().toString(), u"Critical Warning"_s);
    QCOMPARE(model->index(0, TAttributeTableModel::StateColumn).data().toString(), u"Failing"_s);
    QCOMPARE(model->index(0, TAttributeTableModel::CurrentColumn).data().toString(), u"0x05"_s);
    QCOMPARE(model->index(0, 0).data(Qt::ToolTipRole).toString(),
             u"available spare below threshold; reliability degraded"_s);
    // The spare's row carries its threshold.
    QCOMPARE(model->index(2, TAttributeTableModel::NameColumn).data().toString(), u"Available Spare"_s);
    QCOMPARE(model->index(2, TAttributeTableModel::ThresholdColumn).data().toString(), u"20"_s);
    QCOMPARE(model->index(2, TAttributeTableModel::StateColumn).data().toString(), u"OK"_s);

    // The header: temperature and power-on figures from the log.
    QVERIFY2(view.lbTemperature->text().contains(u"Current: 50"_s), qPrintable(view.lbTemperature->text()));
    QVERIFY2(view.lbPowerOnCount->text().contains(u"200 hours"_s), qPrintable(view.lbPowerOnCount->text()));
    QVERIFY2(view.lbPowerOnCount->text().contains(u"Power cycle count: 7"_s), qPrintable(view.lbPowerOnCount->text()));

    // Selecting a row shows its description.
    view.lvSmartData->setCurrentIndex(model->index(0, 0));
    QVERIFY2(view.memoInfo->toPlainText().contains(u"spare capacity below its threshold"_s),
             qPrintable(view.memoInfo->toPlainText()));
}

QTEST_MAIN(TestDriveViewHealth)
#include "TestDriveViewHealth.moc"
