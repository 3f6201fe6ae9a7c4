#include "DriveOutput.h"

#include "CliCommand.h"

#include "drivedata/Verdicts.h"
#include "foundation/Environment.h"
#include "foundation/Options.h"

#include <QJsonDocument>
#include <QLocale>

using namespace Qt::Literals::StringLiterals;

namespace valmora::cli {

QString AlignedTable(const QList<QStringList> &rows)
{
    QList<qsizetype> widths;
    for (const QStringList &row : rows)
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (widths.size() <= c)
                widths.append(0);
            widths[c] = std::max(widths[c], row[c].size());
        }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
        // The last column may be empty on some rows: no blanks at the ends of lines.
        while (line.endsWith(u' '))
            line.chop(1);
        text += line + u'\n';
    }
    return text;
}

QString AttributeTableText(const TDriveInformation &d)
{
    QList<QStringList> rows{{u"Id"_s, u"Pre-failure"_s, u"Bit 4"_s, u"Bit 3"_s, u"Current"_s, u"Worst"_s,
                             u"Threshold"_s, u"Raw"_s, u"State"_s, u"Reason"_s}};
    auto yesNo = [](bool b) { return b ? u"yes"_s : u"no"_s; };
    for (int s = 0; s < d.UsedSlots(); ++s) {
        const auto i = static_cast<std::size_t>(s);
        rows.append({QString::number(d.AttrId[i]), yesNo(d.AttrPreFailure[i]), yesNo(d.AttrFlagBit4[i]),
                     yesNo(d.AttrFlagBit3[i]), QString::number(d.AttrCurrent[i]), QString::number(d.AttrWorst[i]),
                     QString::number(d.AttrThreshold[i]), QString::number(d.AttrRaw[i]),
                     AttributeStateText(d.AttrState[i]), d.AttrReason[i]});
    }
    if (rows.size() == 1)
        return u"No S.M.A.R.T. attributes\n"_s;
    return AlignedTable(rows);
}

namespace {

// The figures reported, in field order, then OperationalStatus after HealthStatus.
struct HealthRow
{
    QString name, value;
    std::int32_t state;
    QString reason;
};
QList<HealthRow> healthRows(const TDriveHealth &h)
{
    QList<HealthRow> rows;
    for (int f = 0; f < kHealthFieldCount; ++f) {
        const auto field = static_cast<THealthField>(f);
        if (h.Value(field))
            rows.append({HealthFieldName(field), h.ValueText(field), h.StateOf(field), h.ReasonOf(field)});
        if (field == THealthField::HealthStatus && !h.OperationalStatus.isEmpty())
            rows.append({u"OperationalStatus"_s, h.OperationalStatus, h.OperationalState, h.OperationalReason});
    }
    return rows;
}

} // namespace

QString HealthTableText(const TDriveInformation &d)
{
    const QList<HealthRow> rows = healthRows(d.Health);
    if (rows.isEmpty())
        return QString();
    QList<QStringList> table{{u"Health"_s, u"Value"_s, u"State"_s, u"Reason"_s}};
    for (const HealthRow &r : rows)
        table.append({r.name, r.value, AttributeStateText(r.state), r.reason});
    return AlignedTable(table);
}

QString TemperaturesText(const TDriveInformation &d)
{
    // NVMe drives and the storage classes tell one temperature.
    for (const THealthField f : {THealthField::CompositeTemperature, THealthField::Temperature})
        if (const auto t = d.Health.Value(f))
            return u"Temperature: current %1 °C\n"_s.arg(*t);
    // The figures come from attribute 194, or 190 without it; a drive with neither measured nothing.
    bool measured = false;
    for (int i = 0; i < d.UsedSlots() && !measured; ++i)
        measured = d.AttrId[static_cast<std::size_t>(i)] == 194 || d.AttrId[static_cast<std::size_t>(i)] == 190;
    if (!measured)
        return u"Temperature: – (the drive reports none)\n"_s;
    return u"Temperature: current %1 °C, worst %2 °C, low %3 °C\n"_s.arg(d.TemperatureCurrent)
        .arg(d.TemperatureWorst)
        .arg(d.TemperatureLow);
}

QString DriveText(const TDriveInformation &d)
{
    const QString size = d.Size > 0 ? u"%1 bytes (%2 GB)"_s.arg(d.Size).arg(
                                          static_cast<double>(d.Size) / 1e9, 0, 'f', 1)
                                    : QString::number(d.Size);
    const QList<QStringList> identity{
        {u"Model:"_s, d.Model},
        {u"Manufacturer:"_s, d.Manufacturer},
        {u"Serial number:"_s, d.SerialNumber},
        {u"Firmware:"_s, d.FirmwareRevision},
        {u"Interface:"_s, d.InterfaceType},
        {u"Media:"_s, d.MediaType},
        {u"Device ID:"_s, d.PNPDeviceID},
        {u"Status:"_s, d.Status},
        {u"Size:"_s, size},
        {u"Geometry:"_s, u"%1 cylinders, %2 heads, %3 sectors per track, %4 bytes per sector"_s.arg(d.TotalCylinders)
                             .arg(d.TotalHeads)
                             .arg(d.SectorsPerTrack)
                             .arg(d.BytesPerSector)},
        {u"Partitions:"_s, QString::number(d.Partitions)},
    };
    QString text;
    for (const QString &line : AlignedTable(identity).split(u'\n', Qt::SkipEmptyParts))
        text += u"  "_s + line + u'\n';
    text += u"  "_s + TemperaturesText(d);
    if (!d.DriveReason.isEmpty())
        text += u"  Reason: "_s + d.DriveReason + u'\n';
    const QString health = HealthTableText(d);
    // A drive without attributes but with health figures shows the figures only.
    if (health.isEmpty() || d.UsedSlots() > 0)
        for (const QString &line : AttributeTableText(d).split(u'\n', Qt::SkipEmptyParts))
            text += u"  "_s + line + u'\n';
    for (const QString &line : health.split(u'\n', Qt::SkipEmptyParts))
        text += u"  "_s + line + u'\n';
    return text;
}

QString DriveListText(const TDriveList &list)
{
    const QJsonValue time = ReadoutTimeJson(list.ReadoutTime);
    QString text = u"Computer: %1\n"_s.arg(list.ComputerName);
    text += u"Readout: %1\n"_s.arg(time.isNull() ? u"No readouts"_s : DateTimeText(DateTimeToQt(list.ReadoutTime)));
    text += u"Drives: %1\n"_s.arg(list.Count());
    for (int i = 0; i < list.Count(); ++i) {
        const TDriveInformation &d = list.Items(i);
        text += u"\nDrive %1: %2%3\n"_s.arg(i + 1).arg(d.Name, d.IsFlagged() ? u" (flagged)"_s : QString());
        text += DriveText(d);
    }
    return text;
}

QJsonValue ReadoutTimeJson(TDateTime time)
{
    if (time == 0)
        return QJsonValue::Null;
    const QDateTime value = DateTimeToQt(time);
    if (!value.isValid())
        return QJsonValue::Null;
    return value.toString(Qt::ISODateWithMs);
}

QJsonArray AttributesJson(const TDriveInformation &d)
{
    QJsonArray attributes;
    for (int s = 0; s < d.UsedSlots(); ++s) {
        const auto i = static_cast<std::size_t>(s);
        attributes.append(QJsonObject{
            {u"AttrId"_s, d.AttrId[i]},
            {u"AttrPreFailure"_s, d.AttrPreFailure[i]},
            {u"AttrFlagBit4"_s, d.AttrFlagBit4[i]},
            {u"AttrFlagBit3"_s, d.AttrFlagBit3[i]},
            {u"AttrCurrent"_s, d.AttrCurrent[i]},
            {u"AttrWorst"_s, d.AttrWorst[i]},
            {u"AttrThreshold"_s, d.AttrThreshold[i]},
            {u"AttrRaw"_s, static_cast<qint64>(d.AttrRaw[i])},
            {u"AttrState"_s, d.AttrState[i]},
            {u"Reason"_s, d.AttrReason[i]},
        });
    }
    return attributes;
}

QJsonObject HealthLogJson(const TDriveHealth &h)
{
    QJsonObject log;
    for (int f = 0; f < kHealthLogFieldCount; ++f)
        if (const auto v = h.Value(static_cast<THealthField>(f)))
            log.insert(HealthFieldName(static_cast<THealthField>(f)), static_cast<qint64>(*v));
    return log;
}

QJsonObject StorageJson(const TDriveHealth &h)
{
    QJsonObject storage;
    for (int f = kHealthLogFieldCount; f < kHealthFieldCount; ++f)
        if (const auto v = h.Value(static_cast<THealthField>(f)))
            storage.insert(HealthFieldName(static_cast<THealthField>(f)), static_cast<qint64>(*v));
    if (!h.HasLog())
        if (const auto v = h.Value(THealthField::PowerOnHours))
            storage.insert(HealthFieldName(THealthField::PowerOnHours), static_cast<qint64>(*v));
    if (!h.OperationalStatus.isEmpty())
        storage.insert(u"OperationalStatus"_s, h.OperationalStatus);
    return storage;
}

QJsonArray HealthRowsJson(const TDriveHealth &h)
{
    QJsonArray rows;
    for (const HealthRow &r : healthRows(h))
        rows.append(QJsonObject{{u"Name"_s, r.name},
                                {u"Value"_s, r.value},
                                {u"State"_s, AttributeStateText(r.state)},
                                {u"Reason"_s, r.reason}});
    return rows;
}

QJsonObject DriveJson(const TDriveInformation &d)
{
    QJsonObject drive{
        {u"BytesPerSector"_s, static_cast<qint64>(d.BytesPerSector)},
        {u"FirmwareRevision"_s, d.FirmwareRevision},
        {u"InterfaceType"_s, d.InterfaceType},
        {u"Manufacturer"_s, d.Manufacturer},
        {u"MediaType"_s, d.MediaType},
        {u"Model"_s, d.Model},
        {u"Name"_s, d.Name},
        {u"Partitions"_s, static_cast<qint64>(d.Partitions)},
        {u"PNPDeviceID"_s, d.PNPDeviceID},
        {u"SectorsPerTrack"_s, static_cast<qint64>(d.SectorsPerTrack)},
        {u"SerialNumber"_s, d.SerialNumber},
        {u"Size"_s, static_cast<qint64>(d.Size)},
        {u"Status"_s, d.Status},
        {u"TotalCylinders"_s, static_cast<qint64>(d.TotalCylinders)},
        {u"TotalHeads"_s, static_cast<qint64>(d.TotalHeads)},
        {u"TotalSectors"_s, static_cast<qint64>(d.TotalSectors)},
        {u"TotalTracks"_s, static_cast<qint64>(d.TotalTracks)},
        {u"TracksPerCylinder"_s, static_cast<qint64>(d.TracksPerCylinder)},
        {u"TemperatureCurrent"_s, d.TemperatureCurrent},
        {u"TemperatureWorst"_s, d.TemperatureWorst},
        {u"TemperatureLow"_s, d.TemperatureLow},
        {u"AttributeCount"_s, d.AttributeCount},
        {u"Attributes"_s, AttributesJson(d)},
        {u"Reason"_s, d.DriveReason},
    };
    if (d.Health.HasLog())
        drive.insert(u"Nvme"_s, HealthLogJson(d.Health));
    if (const QJsonObject storage = StorageJson(d.Health); !storage.isEmpty())
        drive.insert(u"Storage"_s, storage);
    if (!d.Health.Empty())
        drive.insert(u"Health"_s, HealthRowsJson(d.Health));
    return drive;
}

QJsonObject DriveListJson(const TDriveList &list)
{
    QJsonArray drives;
    for (int i = 0; i < list.Count(); ++i)
        drives.append(DriveJson(list.Items(i)));
    return QJsonObject{
        {u"ComputerName"_s, list.ComputerName},
        {u"ReadoutTime"_s, ReadoutTimeJson(list.ReadoutTime)},
        {u"Drives"_s, drives},
    };
}

void InstallVerdictRules()
{
    SetVerdictRules(ProgramVerdictRules(TWindowsFolders::CommonAppDataFolder(u"Quillmoor\\Valmora"_s),
                                        TOptions::ReadSectorWarnings()));
}

void FinishVerdictRules()
{
    FlushVerdictRules();
    if (const TVerdictRules rules = CurrentVerdictRules(); rules.Baseline && !rules.Baseline->LastError().isEmpty())
        PrintError(u"baseline of the sector counts: "_s + rules.Baseline->LastError());
}

void PrintJson(const QJsonObject &object)
{
    Print(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
}

} // namespace valmora::cli
