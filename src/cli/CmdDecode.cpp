// valmora-cli decode: judges the two raw S.M.A.R.T. sectors of one drive.
#include "CliArgs.h"
#include "CliCommand.h"
#include "DriveOutput.h"

#include "drivedata/SmartTypes.h"
#include "foundation/TextFile.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {
namespace {

constexpr qsizetype kSectorSize = 512;

const QString help = u"Usage: valmora-cli decode DATA THRESHOLDS [--json]\n\n"
                     "Decodes a drive's SMART READ DATA and SMART READ THRESHOLDS sectors (512 bytes\n"
                     "each, as smartctl or libatasmart save them) and prints the attribute table\n"
                     "with a verdict per attribute, the temperatures and the drive's verdict.\n"
                     "Exit 0 when healthy, 1 when an attribute is flagged, 2 on bad input.\n"_s;

std::optional<QByteArray> readSector(const QString &path)
{
    QString error;
    std::optional<QByteArray> bytes = ReadWholeFile(path, &error);
    if (!bytes) {
        PrintError(u"cannot read \"%1\": %2"_s.arg(QDir::toNativeSeparators(path), error));
        return std::nullopt;
    }
    if (bytes->size() != kSectorSize) {
        PrintError(u"\"%1\" has %2 bytes; a S.M.A.R.T. sector has 512"_s.arg(QDir::toNativeSeparators(path))
                       .arg(bytes->size()));
        return std::nullopt;
    }
    return bytes;
}

std::span<const std::uint8_t> bytesOf(const QByteArray &a)
{
    return {reinterpret_cast<const std::uint8_t *>(a.constData()), static_cast<std::size_t>(a.size())};
}

int run(const QStringList &arguments)
{
    const CliArgs args = ParseArgs(arguments, {u"json"_s}, {});
    if (args.has(u"help"_s)) {
        Print(help);
        return ExitOk;
    }
    if (!args.error.isEmpty() || args.positional.size() != 2) {
        PrintError(args.error.isEmpty() ? u"decode needs two files: DATA THRESHOLDS"_s : args.error);
        return ExitUsage;
    }
    const auto data = readSector(args.positional[0]);
    if (!data)
        return ExitUsage;
    const auto thresholds = readSector(args.positional[1]);
    if (!thresholds)
        return ExitUsage;

    TDriveInformation drive;
    DecodeAttributeData(drive, bytesOf(*data));
    DecodeThresholdData(drive, bytesOf(*thresholds));
    const bool healthy = EvaluateDrive(drive);

    if (args.has(u"json"_s)) {
        PrintJson(QJsonObject{
            {u"TemperatureCurrent"_s, drive.TemperatureCurrent},
            {u"TemperatureWorst"_s, drive.TemperatureWorst},
            {u"TemperatureLow"_s, drive.TemperatureLow},
            {u"AttributeCount"_s, drive.AttributeCount},
            {u"Attributes"_s, AttributesJson(drive)},
            {u"Healthy"_s, healthy},
        });
    } else {
        Print(AttributeTableText(drive));
        Print(TemperaturesText(drive));
        Print(healthy ? u"Drive: healthy\n"_s : u"Drive: flagged\n"_s);
    }
    return healthy ? ExitOk : ExitFlagged;
}

CliRegistration reg{{u"decode"_s, u"judge a drive's raw S.M.A.R.T. data and threshold sectors"_s, &run}};

} // namespace
} // namespace valmora::cli
