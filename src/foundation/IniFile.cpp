#include "IniFile.h"

#include "Exception.h"

#include <QDir>
#include <QFile>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

bool sameName(const QString &a, const QString &b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

} // namespace

QString TrimControl(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

TMemIniFile::TMemIniFile(QString fileName, TextEncoding encoding)
    : m_fileName(std::move(fileName))
    , m_encoding(encoding)
{
    if (!QFile::exists(m_fileName))
        return;
    QString error;
    auto bytes = ReadWholeFile(m_fileName, &error);
    if (!bytes)
        throw Exception(u"Cannot read \"%1\": %2"_s.arg(QDir::toNativeSeparators(m_fileName), error));
    parse(DecodeText(*bytes));
}

TMemIniFile TMemIniFile::fromText(const QString &text)
{
    TMemIniFile ini;
    ini.parse(text);
    return ini;
}

void TMemIniFile::parse(const QString &text)
{
    Section *current = nullptr;
    for (const QString &raw : SplitLines(text)) {
        const QString line = TrimControl(raw);
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QString name = TrimControl(line.mid(1, line.size() - 2));
            // A section named twice continues the first one, so every key stays reachable.
            current = findSection(name);
            if (!current) {
                m_sections.push_back(Section{name, {}});
                current = &m_sections.back();
            }
            continue;
        }
        if (!current)
            continue;
        // A line without "=" is no key line and is skipped.
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0)
            current->entries.push_back(Entry{TrimControl(line.left(eq)), TrimControl(line.mid(eq + 1))});
    }
}

const TMemIniFile::Section *TMemIniFile::findSection(const QString &name) const
{
    for (const Section &s : m_sections)
        if (sameName(s.name, name))
            return &s;
    return nullptr;
}

TMemIniFile::Section *TMemIniFile::findSection(const QString &name)
{
    return const_cast<Section *>(std::as_const(*this).findSection(name));
}

QString TMemIniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    if (const Section *s = findSection(section))
        for (const Entry &e : s->entries)
            if (sameName(e.key, key))
                return e.value;
    return defaultValue;
}

void TMemIniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    Section *s = findSection(section);
    if (!s) {
        m_sections.push_back(Section{section, {}});
        s = &m_sections.back();
    }
    for (Entry &e : s->entries) {
        if (sameName(e.key, key)) {
            e.value = value;
            return;
        }
    }
    s->entries.push_back(Entry{key, value});
}

bool TMemIniFile::SectionExists(const QString &section) const
{
    return findSection(section) != nullptr;
}

bool TMemIniFile::ValueExists(const QString &section, const QString &key) const
{
    if (const Section *s = findSection(section))
        for (const Entry &e : s->entries)
            if (sameName(e.key, key))
                return true;
    return false;
}

QStringList TMemIniFile::ReadSections() const
{
    QStringList names;
    for (const Section &s : m_sections)
        names.append(s.name);
    return names;
}

QStringList TMemIniFile::ReadSection(const QString &section) const
{
    QStringList keys;
    if (const Section *s = findSection(section))
        for (const Entry &e : s->entries)
            keys.append(e.key);
    return keys;
}

void TMemIniFile::EraseSection(const QString &section)
{
    std::erase_if(m_sections, [&](const Section &s) { return sameName(s.name, section); });
}

void TMemIniFile::DeleteKey(const QString &section, const QString &key)
{
    if (Section *s = findSection(section)) {
        auto it = std::find_if(s->entries.begin(), s->entries.end(),
                               [&](const Entry &e) { return sameName(e.key, key); });
        if (it != s->entries.end())
            s->entries.erase(it);
    }
}

QString TMemIniFile::ToText() const
{
    QString text;
    for (const Section &s : m_sections) {
        text += u'[' + s.name + u"]\r\n"_s;
        for (const Entry &e : s.entries)
            text += e.key + u'=' + e.value + u"\r\n"_s;
        text += u"\r\n"_s;
    }
    return text;
}

void TMemIniFile::UpdateFile(std::optional<QFileDevice::Permissions> permissions) const
{
    QString error;
    if (!WriteFileAtomically(m_fileName, EncodeText(ToText(), m_encoding), &error, permissions))
        throw Exception(error);
}

} // namespace valmora
