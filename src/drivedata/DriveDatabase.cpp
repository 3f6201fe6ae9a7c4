#include "DriveDatabase.h"

#include "SmartTypes.h"

#include "foundation/TextFile.h"

#include <QDir>
#include <QStringList>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

// The old "-v" arguments the database still uses, as the tool that keeps it maps them.
struct Alias
{
    const char16_t *old;
    const char16_t *current;
};
constexpr Alias kAliases[] = {
    {u"9,halfminutes", u"9,halfmin2hour,Power_On_Half_Minutes"},
    {u"9,minutes", u"9,min2hour,Power_On_Minutes"},
    {u"9,seconds", u"9,sec2hour,Power_On_Seconds"},
    {u"9,temp", u"9,tempminmax,Temperature_Celsius"},
    {u"192,emergencyretractcyclect", u"192,raw48,Emerg_Retract_Cycle_Ct"},
    {u"193,loadunload", u"193,raw24/raw24"},
    {u"194,10xCelsius", u"194,temp10x,Temperature_Celsius_x10"},
    {u"194,unknown", u"194,raw48,Unknown_Attribute"},
    {u"197,increasing", u"197,raw48+,Total_Pending_Sectors"},
    {u"198,offlinescanuncsectorct", u"198,raw48,Offline_Scan_UNC_SectCt"},
    {u"198,increasing", u"198,raw48+,Total_Offl_Uncorrectabl"},
    {u"200,writeerrorcount", u"200,raw48,Write_Error_Count"},
    {u"201,detectedtacount", u"201,raw48,Detected_TA_Count"},
    {u"220,temp", u"220,tempminmax,Temperature_Celsius"},
};

const QStringList kFormats = {
    u"raw8"_s,         u"raw16"_s,        u"raw48"_s,        u"hex48"_s,       u"raw56"_s,
    u"hex56"_s,        u"raw64"_s,        u"hex64"_s,        u"raw16(raw16)"_s, u"raw16(avg16)"_s,
    u"raw24(raw8)"_s,  u"raw24/raw24"_s,  u"raw24/raw32"_s,  u"sec2hour"_s,    u"min2hour"_s,
    u"halfmin2hour"_s, u"msec24hour32"_s, u"tempminmax"_s,   u"temp10x"_s,
};

// Modern Windows names ATA drives "<model> ATA Device"; the database knows the model alone.
const QStringList kWindowsSuffixes = {u" ATA Device"_s, u" SCSI Disk Device"_s, u" USB Device"_s};

// The C string literals of drivedb.h grouped by their braces: each entry is
// five fields, each field the concatenation of its adjacent literals.
std::vector<QStringList> entriesOf(const QString &text)
{
    std::vector<QStringList> entries;
    QStringList fields;
    QString field;
    bool inEntry = false;
    bool fieldHasText = false;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'/' && i + 1 < n && text[i + 1] == u'/') {
            while (i < n && text[i] != u'\n')
                ++i;
        } else if (c == u'/' && i + 1 < n && text[i + 1] == u'*') {
            const qsizetype end = text.indexOf(u"*/"_s, i + 2);
            i = end < 0 ? n : end + 1;
        } else if (c == u'"') {
            for (++i; i < n && text[i] != u'"'; ++i) {
                if (text[i] == u'\\' && i + 1 < n) {
                    const QChar e = text[++i];
                    field += e == u'n' ? QChar(u'\n') : e == u't' ? QChar(u'\t') : e;
                } else {
                    field += text[i];
                }
            }
            fieldHasText = true;
        } else if (c == u'{') {
            inEntry = true;
            fields.clear();
            field.clear();
            fieldHasText = false;
        } else if (c == u',' && inEntry) {
            fields.append(field);
            field.clear();
            fieldHasText = false;
        } else if (c == u'}' && inEntry) {
            if (fieldHasText)
                fields.append(field);
            if (fields.size() == 5)
                entries.push_back(fields);
            inEntry = false;
            field.clear();
            fieldHasText = false;
        }
    }
    return entries;
}

QRegularExpression wholeMatch(const QString &pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

void setDefaults(TDrivePresets &p)
{
    for (std::size_t id = 0; id < p.size(); ++id)
        p[id] = TAttributeFormat{};
    ApplyPresets(p, u"-v 5,raw16(raw16),Reallocated_Sector_Ct -v 9,raw24(raw8),Power_On_Hours "
                    "-v 190,tempminmax,Airflow_Temperature_Cel -v 194,tempminmax,Temperature_Celsius "
                    "-v 196,raw16(raw16),Reallocated_Event_Count -v 197,raw48,Current_Pending_Sector "
                    "-v 198,raw48,Offline_Uncorrectable"_s);
}

} // namespace

const TDrivePresets &BuiltInPresets()
{
    static const TDrivePresets presets = [] {
        TDrivePresets p;
        setDefaults(p);
        return p;
    }();
    return presets;
}

bool ApplyPreset(TDrivePresets &presets, const QString &argument)
{
    QString arg = argument;
    for (const Alias &a : kAliases)
        if (arg == QStringView(a.old))
            arg = QString::fromUtf16(a.current);
    const QStringList parts = arg.split(u',');
    if (parts.size() < 2 || parts.size() > 4)
        return false;
    bool all = parts[0] == u"N"_s;
    bool ok = all;
    const int id = all ? 0 : parts[0].toInt(&ok);
    if (!ok || (!all && (id < 1 || id > 255)))
        return false;
    TAttributeFormat f;
    QString format = parts[1];
    if (format.endsWith(u'+')) {
        f.Increasing = true;
        format.chop(1);
    }
    if (const qsizetype colon = format.indexOf(u':'); colon >= 0) {
        f.ByteOrder = format.mid(colon + 1);
        format.truncate(colon);
        static const QRegularExpression order(u"^[012345rvwz]{1,8}$"_s);
        if (!order.match(f.ByteOrder).hasMatch())
            return false;
    }
    if (!kFormats.contains(format))
        return false;
    f.Format = format;
    if (parts.size() >= 3)
        f.Name = parts[2];
    for (int a = all ? 1 : id; a <= (all ? 255 : id); ++a) {
        auto &slot = presets[static_cast<std::size_t>(a)];
        // A format without a name keeps the name the attribute had.
        const QString name = f.Name.isEmpty() ? slot.Name : f.Name;
        slot = f;
        slot.Name = name;
    }
    return true;
}

void ApplyPresets(TDrivePresets &presets, const QString &text)
{
    const QStringList words = text.split(QRegularExpression(u"\\s+"_s), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        if (words[i] == u"-v"_s)
            ApplyPreset(presets, words[++i]);
        else if (words[i] == u"-F"_s || words[i] == u"-d"_s)
            ++i; // firmware bugs and device types do not change how raw fields read
    }
}

QString TDriveDatabase::DefaultPath()
{
    const QByteArray env = qgetenv("VALMORA_DRIVEDB");
    return env.isEmpty() ? u"/usr/share/smartmontools/drivedb.h"_s : QString::fromLocal8Bit(env);
}

std::shared_ptr<const TDriveDatabase> TDriveDatabase::Load(const QString &path, QString *error)
{
    QString readError;
    const std::optional<QByteArray> bytes = ReadWholeFile(path, &readError);
    if (!bytes) {
        if (error)
            *error = u"cannot read the drive database \"%1\": %2"_s.arg(QDir::toNativeSeparators(path), readError);
        return nullptr;
    }
    auto db = Parse(QString::fromUtf8(*bytes), error);
    if (!db && error)
        *error = u"the drive database \"%1\": %2"_s.arg(QDir::toNativeSeparators(path), *error);
    return db;
}

std::shared_ptr<const TDriveDatabase> TDriveDatabase::Parse(const QString &text, QString *error)
{
    auto db = std::make_shared<TDriveDatabase>();
    setDefaults(db->m_defaults);
    for (const QStringList &e : entriesOf(text)) {
        const QString &family = e[0];
        if (family == u"DEFAULT"_s) {
            ApplyPresets(db->m_defaults, e[4]);
            continue;
        }
        // Version lines, USB bridges and entries switched off with "$" are no drives.
        if (family.startsWith(u"VERSION:"_s) || family.startsWith(u"USB:"_s) || family.startsWith(u'$'))
            continue;
        Entry entry;
        entry.family = family;
        entry.model = wholeMatch(e[1]);
        entry.anyFirmware = e[2].isEmpty();
        if (!entry.anyFirmware)
            entry.firmware = wholeMatch(e[2]);
        entry.presets = e[4];
        if (!entry.model.isValid() || (!entry.anyFirmware && !entry.firmware.isValid()))
            continue; // a pattern this engine cannot read matches nothing
        db->m_entries.push_back(std::move(entry));
    }
    if (db->m_entries.empty()) {
        if (error)
            *error = u"no drive entries"_s;
        return nullptr;
    }
    return db;
}

const TDriveDatabase::Entry *TDriveDatabase::find(const QString &model, const QString &firmware) const
{
    QStringList models{model.trimmed()};
    for (const QString &suffix : kWindowsSuffixes)
        if (models[0].endsWith(suffix, Qt::CaseInsensitive))
            models.append(models[0].chopped(suffix.size()).trimmed());
    for (const QString &m : std::as_const(models))
        for (const Entry &e : m_entries)
            if (e.model.match(m).hasMatch() && (e.anyFirmware || e.firmware.match(firmware.trimmed()).hasMatch()))
                return &e;
    return nullptr;
}

TDrivePresets TDriveDatabase::PresetsFor(const QString &model, const QString &firmware) const
{
    // One lock over lookup and matching: the patterns are matched by one thread at a time.
    const std::lock_guard lock(m_cacheMutex);
    const std::pair key{model, firmware};
    if (const auto it = m_cache.find(key); it != m_cache.end())
        return *it->second;
    auto presets = std::make_shared<TDrivePresets>(m_defaults);
    if (const Entry *e = find(model, firmware))
        ApplyPresets(*presets, e->presets);
    m_cache.emplace(key, presets);
    return *presets;
}

QString TDriveDatabase::FamilyFor(const QString &model, const QString &firmware) const
{
    const std::lock_guard lock(m_cacheMutex);
    const Entry *e = find(model, firmware);
    return e ? e->family : QString();
}

std::uint64_t ComposedRaw(const TAttributeFormat &format, std::int64_t raw48, std::int32_t current,
                          std::int32_t worst)
{
    QString order = format.ByteOrder;
    if (order.isEmpty()) {
        if (format.Format == u"raw64"_s || format.Format == u"hex64"_s)
            order = u"543210wv"_s;
        else if (format.Format == u"raw56"_s || format.Format == u"hex56"_s || format.Format == u"raw24/raw32"_s
                 || format.Format == u"msec24hour32"_s)
            order = u"r543210"_s;
        else
            order = u"543210"_s;
    }
    const auto raw = static_cast<std::uint64_t>(raw48);
    std::uint64_t value = 0;
    for (const QChar c : std::as_const(order)) {
        std::uint64_t b = 0;
        if (c >= u'0' && c <= u'5')
            b = (raw >> (8 * (c.unicode() - u'0'))) & 0xFF;
        else if (c == u'v')
            b = static_cast<std::uint64_t>(current) & 0xFF;
        else if (c == u'w')
            b = static_cast<std::uint64_t>(worst) & 0xFF;
        value = (value << 8) | b;
    }
    return value;
}

std::optional<std::uint64_t> CountOf(const TAttributeFormat &format, std::int64_t raw48, std::int32_t current,
                                     std::int32_t worst)
{
    const std::uint64_t value = ComposedRaw(format, raw48, current, worst);
    const QString &f = format.Format;
    if (f == u"raw48"_s || f == u"hex48"_s)
        return value & 0xFFFFFFFFFFFFull;
    if (f == u"raw56"_s || f == u"hex56"_s)
        return value & 0xFFFFFFFFFFFFFFull;
    if (f == u"raw64"_s || f == u"hex64"_s)
        return value;
    // The first number of these formats is the count; what follows in
    // brackets is vendor data (a retry count, an average).
    if (f == u"raw16"_s || f == u"raw16(raw16)"_s || f == u"raw16(avg16)"_s)
        return value & 0xFFFFu;
    if (f == u"raw24(raw8)"_s)
        return value & 0xFFFFFFu;
    return std::nullopt;
}

std::optional<std::uint64_t> DriveSectorCount(const TDriveInformation &drive)
{
    if (drive.Size > 0)
        return static_cast<std::uint64_t>(drive.Size) / (drive.BytesPerSector > 0 ? drive.BytesPerSector : 512u);
    if (drive.TotalSectors > 0)
        return static_cast<std::uint64_t>(drive.TotalSectors);
    return std::nullopt;
}

TPowerOnUnit PowerOnUnitOf(const TAttributeFormat &format)
{
    if (format.Format == u"min2hour"_s)
        return TPowerOnUnit::Minutes;
    if (format.Format == u"halfmin2hour"_s)
        return TPowerOnUnit::HalfMinutes;
    if (format.Format == u"sec2hour"_s)
        return TPowerOnUnit::Seconds;
    return TPowerOnUnit::Hours;
}

} // namespace valmora
