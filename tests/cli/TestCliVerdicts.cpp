// valmora-cli tells why: the reasons of decode and show, in text and as
// "Reason" in JSON, and the "SectorWarnings" switch of the user's settings.
#include "TestSupport.h"
#include "drivedata/SectorBuilder.h"

#include "drivedata/SmartTypes.h"
#include "foundation/Options.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

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

void Write(const QString &path, const test::Sector &s)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char *>(s.bytes.data()), 512);
}

// The "Reason" of the attribute with this number.
QString ReasonOf(const QJsonArray &attributes, int id)
{
    for (const QJsonValue &a : attributes)
        if (a[u"AttrId"_s].toInt() == id)
            return a[u"Reason"_s].toString();
    return u"(no attribute %1)"_s.arg(id);
}

} // namespace

TEST(CliVerdicts, DecodeTellsWhyAndFollowsTheSwitch)
{
    test::ScopedSandbox sandbox;
    test::Sector data, thresholds;
    data.Attribute(0, 1, 0x000F, 100, 100).Attribute(1, 197, 0x0032, 100, 100, {0x11, 0x02});
    thresholds.Threshold(0, 1, 36).Threshold(1, 197, 0);
    const QString dataFile = sandbox.path(u"data.bin"_s), thresholdFile = sandbox.path(u"thresholds.bin"_s);
    Write(dataFile, data);
    Write(thresholdFile, thresholds);

    const CliRun text = Cli({u"decode"_s, dataFile, thresholdFile});
    EXPECT_EQ(text.code, 1);
    EXPECT_TRUE(text.out.contains(u"Warning  529 sectors wait to be remapped\n"_s)) << qPrintable(text.out);

    const CliRun json = Cli({u"decode"_s, dataFile, thresholdFile, u"--json"_s});
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_FALSE(o[u"Healthy"_s].toBool());
    EXPECT_EQ(ReasonOf(o[u"Attributes"_s].toArray(), 197), u"529 sectors wait to be remapped"_s);
    EXPECT_EQ(ReasonOf(o[u"Attributes"_s].toArray(), 1), QString());

    TOptions::WriteSectorWarnings(false);
    const CliRun off = Cli({u"decode"_s, dataFile, thresholdFile});
    EXPECT_EQ(off.code, 0) << qPrintable(off.out);
    EXPECT_TRUE(off.out.contains(u"Drive: healthy"_s));
}

TEST(CliVerdicts, ShowWorksTheReasonsOutAgain)
{
    test::ScopedSandbox sandbox;
    TDriveList list;
    list.ComputerName = u"PC1"_s;
    auto d = std::make_unique<TDriveInformation>();
    d->Name = u"DISK0"_s;
    d->Model = u"TEST DRIVE"_s;
    d->SerialNumber = u"SN1"_s;
    d->Status = u"Pred Fail"_s;
    d->Size = 500'107'862'016LL;
    d->AttributeCount = 1;
    d->AttrId[0] = 197;
    d->AttrRaw[0] = 3;
    d->SetState(0, TAttributeState::Warning);
    list.Add(std::move(d));
    auto warm = std::make_unique<TDriveInformation>();
    warm->Name = u"DISK1"_s;
    warm->AttributeCount = 1;
    warm->AttrId[0] = 194;
    warm->TemperatureCurrent = 41;
    warm->TemperatureWorst = 52;
    warm->TemperatureLow = 18;
    list.Add(std::move(warm));
    const QString file = sandbox.path(u"PC1.wci"_s);
    list.SaveToFile(file);

    const CliRun text = Cli({u"show"_s, file});
    EXPECT_EQ(text.code, 0);
    EXPECT_TRUE(text.out.contains(u"Warning  3 sectors wait to be remapped\n"_s)) << qPrintable(text.out);
    EXPECT_TRUE(text.out.contains(u"Reason: the drive itself predicts its failure\n"_s)) << qPrintable(text.out);
    EXPECT_TRUE(text.out.contains(u"Drive 1: DISK0 (flagged)"_s));
    // A drive without a temperature attribute measured none: no "0 °C".
    EXPECT_TRUE(text.out.contains(u"Temperature: – (the drive reports none)\n"_s)) << qPrintable(text.out);
    EXPECT_TRUE(text.out.contains(u"Temperature: current 41 °C, worst 52 °C, low 18 °C\n"_s)) << qPrintable(text.out);

    const QJsonObject drive =
        QJsonDocument::fromJson(Cli({u"show"_s, file, u"--json"_s}).out.toUtf8()).object()[u"Drives"_s][0].toObject();
    EXPECT_EQ(drive[u"Reason"_s].toString(), u"the drive itself predicts its failure"_s);
    EXPECT_EQ(ReasonOf(drive[u"Attributes"_s].toArray(), 197), u"3 sectors wait to be remapped"_s);
    // show changes nothing: no baseline written.
    EXPECT_FALSE(QFile::exists(sandbox.path(u"appdata/Quillmoor/Valmora/baseline.json"_s)));
}
