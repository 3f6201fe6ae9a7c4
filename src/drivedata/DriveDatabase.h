#pragma once

// How a drive family means the raw fields of its attributes, from the drive
// database smartmontools maintains (drivedb.h, read at run time as data): per
// attribute a raw format ("raw48", "raw16(raw16)", "min2hour", ...), a byte
// order and a name. Without the database the program uses the database's own
// defaults for the few attributes its verdicts read.

#include <QRegularExpression>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace valmora {

class TDriveInformation;

struct TAttributeFormat
{
    QString Format = QStringLiteral("raw48");
    // Which bytes make the value, most significant first: "0".."5" the raw
    // bytes, "r" the reserved byte, "v" and "w" the normalised values, "z" zero.
    // Empty: the format's default.
    QString ByteOrder;
    QString Name;
    // "+": a total that only grows ("Total_Pending_Sectors"), not a current count.
    bool Increasing = false;

    bool operator==(const TAttributeFormat &) const = default;
};

// The formats of all 256 attribute numbers for one drive.
using TDrivePresets = std::array<TAttributeFormat, 256>;

// The defaults of the attributes the verdicts read, as the database's own
// "DEFAULT" entry gives them.
const TDrivePresets &BuiltInPresets();

// Applies one "-v" argument ("ID,FORMAT[:BYTEORDER][,NAME[,HDD|SSD]]", "N,..."
// for every attribute, or an old alias such as "9,minutes"); false when it is
// not one.
bool ApplyPreset(TDrivePresets &presets, const QString &argument);
// Applies every "-v" of a presets text; "-F" options are skipped.
void ApplyPresets(TDrivePresets &presets, const QString &text);

class TDriveDatabase
{
public:
    // /usr/share/smartmontools/drivedb.h, or the file named by VALMORA_DRIVEDB.
    static QString DefaultPath();
    // Null, with the reason in error, when the file is missing or holds no entries.
    static std::shared_ptr<const TDriveDatabase> Load(const QString &path, QString *error = nullptr);
    // Parses the text of a drivedb.h.
    static std::shared_ptr<const TDriveDatabase> Parse(const QString &text, QString *error = nullptr);

    // The presets of the first entry whose model (and firmware, where it
    // names one) pattern matches the whole model, on top of the defaults.
    // Windows adds " ATA Device" and the like to model names; they are tried without it.
    TDrivePresets PresetsFor(const QString &model, const QString &firmware) const;
    // The family of the matching entry; empty when none matches.
    QString FamilyFor(const QString &model, const QString &firmware) const;
    int EntryCount() const { return static_cast<int>(m_entries.size()); }

private:
    struct Entry
    {
        QString family;
        QRegularExpression model;
        QRegularExpression firmware; // invalid pattern text "" means any firmware
        bool anyFirmware = true;
        QString presets;
    };
    const Entry *find(const QString &model, const QString &firmware) const;

    TDrivePresets m_defaults;
    std::vector<Entry> m_entries;
    // A network has few models: each is matched against the entries once.
    // The lock also keeps the patterns to one thread at a time.
    mutable std::mutex m_cacheMutex;
    mutable std::map<std::pair<QString, QString>, std::shared_ptr<const TDrivePresets>> m_cache;
};

// The attribute's raw value as its format's byte order composes it; the
// reserved byte is not kept by the readout and counts as zero.
std::uint64_t ComposedRaw(const TAttributeFormat &format, std::int64_t raw48, std::int32_t current,
                          std::int32_t worst);
// The count an attribute holds when its format holds a single count; nullopt
// for formats of two numbers, times and temperatures.
std::optional<std::uint64_t> CountOf(const TAttributeFormat &format, std::int64_t raw48, std::int32_t current,
                                     std::int32_t worst);

// How many sectors the drive has, from its size; nullopt when it says nothing.
std::optional<std::uint64_t> DriveSectorCount(const TDriveInformation &drive);

enum class TPowerOnUnit { Hours, Minutes, HalfMinutes, Seconds };
// The unit of attribute 9's raw value by its format.
TPowerOnUnit PowerOnUnitOf(const TAttributeFormat &format);

} // namespace valmora
