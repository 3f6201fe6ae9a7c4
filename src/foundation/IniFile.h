#pragma once

#include "TextFile.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace valmora {

// An INI file held in memory: read whole when opened, written whole by UpdateFile.
// Lines are trimmed of blanks and control characters; empty lines and lines
// starting with ";" are skipped; "[name]" starts a section; other lines of a
// section split at the first "=". Lines before the first section are ignored.
// Section and key names match without regard to letter case; the first
// matching key wins.
class TMemIniFile
{
public:
    // Reads the file when it exists; a missing file gives an empty INI.
    // Raises Exception when the file exists but cannot be read.
    explicit TMemIniFile(QString fileName, TextEncoding encoding = TextEncoding::Utf8WithBom);

    // Builds the INI from text (for data that does not come from a file).
    static TMemIniFile fromText(const QString &text);

    const QString &fileName() const { return m_fileName; }

    QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;
    void WriteString(const QString &section, const QString &key, const QString &value);
    bool SectionExists(const QString &section) const;
    bool ValueExists(const QString &section, const QString &key) const;
    QStringList ReadSections() const;
    QStringList ReadSection(const QString &section) const; // the key names
    void EraseSection(const QString &section);
    void DeleteKey(const QString &section, const QString &key);

    // The whole file as saved: each section's bracketed name, its key lines in
    // insertion order and one empty line; CR LF line ends.
    QString ToText() const;
    // Writes the file atomically; with permissions given, the file keeps exactly
    // those. Raises Exception naming the file when it cannot be written.
    void UpdateFile(std::optional<QFileDevice::Permissions> permissions = std::nullopt) const;

private:
    TMemIniFile() = default;
    struct Entry
    {
        QString key;
        QString value;
    };
    struct Section
    {
        QString name;
        std::vector<Entry> entries;
    };

    void parse(const QString &text);
    const Section *findSection(const QString &name) const;
    Section *findSection(const QString &name);

    QString m_fileName;
    TextEncoding m_encoding = TextEncoding::Utf8WithBom;
    std::vector<Section> m_sections;
};

// Trims blanks and control characters (every code unit up to U+0020) at both ends.
QString TrimControl(const QString &text);

} // namespace valmora
