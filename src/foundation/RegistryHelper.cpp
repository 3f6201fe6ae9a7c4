#include "RegistryHelper.h"

#include "Environment.h"
#include "Exception.h"
#include "TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <atomic>
#include <cstdio>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

bool sameName(const QString &a, const QString &b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

// "abc" with \\ and \" escapes, starting at the opening quote; nullopt when unterminated.
std::optional<QString> unquote(const QString &text, qsizetype &pos)
{
    if (pos >= text.size() || text.at(pos) != u'"')
        return std::nullopt;
    QString out;
    for (qsizetype i = pos + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\' && i + 1 < text.size()) {
            out.append(text.at(++i));
            continue;
        }
        if (c == u'"') {
            pos = i + 1;
            return out;
        }
        out.append(c);
    }
    return std::nullopt;
}

QString quote(const QString &text)
{
    QString out = u"\""_s;
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"')
            out.append(u'\\');
        out.append(c);
    }
    out.append(u'"');
    return out;
}

// "hex(1):41,00,00,00" style bytes as UTF-16 LE text without its terminating zero.
std::optional<QString> hexToString(const QString &hex)
{
    QByteArray bytes;
    for (const QString &part : hex.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint b = part.trimmed().toUInt(&ok, 16);
        if (!ok || b > 0xFF)
            return std::nullopt;
        bytes.append(static_cast<char>(b));
    }
    if (bytes.size() % 2)
        return std::nullopt;
    QString text;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text.append(QChar(static_cast<char16_t>(static_cast<uchar>(bytes[i]) | (static_cast<uchar>(bytes[i + 1]) << 8))));
    while (text.endsWith(QChar(u'\0')))
        text.chop(1);
    return text;
}

QString stringToHex(const QString &text)
{
    QStringList parts;
    const QString terminated = text + QChar(u'\0');
    for (const QChar c : terminated) {
        parts.append(u"%1"_s.arg(c.unicode() & 0xFF, 2, 16, QChar(u'0')));
        parts.append(u"%1"_s.arg(c.unicode() >> 8, 2, 16, QChar(u'0')));
    }
    return parts.join(u',');
}

bool needsHex(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20)
            return true;
    return false;
}

QString valueText(const TRegistryStore::Value &v)
{
    const QString name = v.name.isEmpty() ? u"@"_s : quote(v.name);
    switch (v.type) {
    case TRegistryStore::Type::Dword:
        return name + u"=dword:"_s + u"%1"_s.arg(v.dword, 8, 16, QChar(u'0'));
    case TRegistryStore::Type::String:
        // Line breaks cannot stand in a quoted string; the export form for them is hex(1).
        return name + u'=' + (needsHex(v.text) ? u"hex(1):"_s + stringToHex(v.text) : quote(v.text));
    case TRegistryStore::Type::ExpandString:
        return name + u"=hex(2):"_s + stringToHex(v.text);
    case TRegistryStore::Type::Other:
        break;
    }
    return name + u'=' + v.raw;
}

std::optional<TRegistryStore::Value> parseValue(const QString &line)
{
    TRegistryStore::Value v;
    qsizetype pos = 0;
    if (line.startsWith(u'@')) {
        pos = 1;
    } else {
        auto name = unquote(line, pos);
        if (!name)
            return std::nullopt;
        v.name = *name;
    }
    if (pos >= line.size() || line.at(pos) != u'=')
        return std::nullopt;
    const QString data = line.mid(pos + 1).trimmed();
    if (data.startsWith(u'"')) {
        qsizetype p = 0;
        auto text = unquote(data, p);
        if (!text || p != data.size())
            return std::nullopt;
        v.type = TRegistryStore::Type::String;
        v.text = *text;
        return v;
    }
    if (data.startsWith(u"dword:"_s, Qt::CaseInsensitive)) {
        const QString hex = data.mid(6);
        bool ok = false;
        const uint dword = hex.toUInt(&ok, 16);
        if (ok && !hex.isEmpty() && hex.size() <= 8) {
            v.type = TRegistryStore::Type::Dword;
            v.dword = dword;
            return v;
        }
    } else if (data.startsWith(u"hex(1):"_s, Qt::CaseInsensitive) || data.startsWith(u"hex(2):"_s, Qt::CaseInsensitive)) {
        if (auto text = hexToString(data.mid(7))) {
            v.type = data.at(4) == u'1' ? TRegistryStore::Type::String : TRegistryStore::Type::ExpandString;
            v.text = *text;
            return v;
        }
    }
    // Any other data (binary, multi-string, a damaged number) is kept as it stood.
    v.type = TRegistryStore::Type::Other;
    v.raw = data;
    return v;
}

} // namespace

QString TRegistryStore::RootName(TRootKey root)
{
    return root == TRootKey::CurrentUser ? u"HKEY_CURRENT_USER"_s : u"HKEY_LOCAL_MACHINE"_s;
}

namespace {
std::mutex userFileMutex;
QString userFileName; // empty: the default
} // namespace

void TRegistryStore::SetUserFileName(const QString &fileName)
{
    const std::lock_guard lock(userFileMutex);
    userFileName = fileName;
}

QString TRegistryStore::FileName(TRootKey root)
{
    if (root == TRootKey::CurrentUser) {
        const std::lock_guard lock(userFileMutex);
        if (!userFileName.isEmpty())
            return userFileName;
    }
    return root == TRootKey::CurrentUser ? TWindowsFolders::UserConfigFolder() + u"valmora/user.reg"_s
                                         : TWindowsFolders::MachineConfigFolder() + u"valmora/machine.reg"_s;
}

TRegistryStore::TRegistryStore(TRootKey root)
    : m_root(root)
    , m_fileName(FileName(root))
{
    const QString folder = QFileInfo(m_fileName).absolutePath();
    QDir().mkpath(folder);
    if (QFileInfo(folder).isWritable()) {
        m_lock = std::make_unique<QLockFile>(m_fileName + u".lock"_s);
        m_lock->setStaleLockTime(10000);
        // A lock we cannot take within the time still lets a read go on; the
        // atomic replace keeps the file whole either way.
        if (!m_lock->tryLock(5000))
            m_lock.reset();
    }
    if (auto bytes = ReadWholeFile(m_fileName))
        parse(DecodeText(*bytes));
    narrowPermissions();
}

bool TRegistryStore::IsSecretValue(const QString &name)
{
    // "SmtpP": the password of the SMTP server that alerts are mailed through.
    return sameName(name, u"UserP"_s) || sameName(name, u"SmtpP"_s);
}

bool TRegistryStore::holdsSecret() const
{
    for (const Key &key : m_keys)
        for (const Value &v : key.values)
            if (IsSecretValue(v.name))
                return true;
    return false;
}

std::optional<QFileDevice::Permissions> TRegistryStore::requiredPermissions() const
{
    if (m_root == TRootKey::CurrentUser || holdsSecret())
        return kOwnerOnly;
    return std::nullopt;
}

void TRegistryStore::narrowPermissions()
{
    const auto required = requiredPermissions();
    if (!required || !QFile::exists(m_fileName))
        return;
    constexpr QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
        | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (!(QFile::permissions(m_fileName) & others))
        return;
    // Only the owner (or root) may change the mode; anyone else reads on.
    if (!QFile::setPermissions(m_fileName, *required))
        std::fprintf(stderr, "valmora: cannot make \"%s\" private to its owner\n",
                     qUtf8Printable(QDir::toNativeSeparators(m_fileName)));
}

TRegistryStore::~TRegistryStore() = default;

void TRegistryStore::parse(const QString &text)
{
    m_keys.clear();
    const QString rootPrefix = RootName(m_root) + u'\\';
    Key *current = nullptr;
    QString pending;
    for (const QString &raw : SplitLines(text)) {
        QString line = raw.trimmed();
        // Hex data may continue on the next line after a trailing backslash.
        if (!pending.isEmpty()) {
            line = pending + line;
            pending.clear();
        }
        if (line.endsWith(u'\\') && !line.startsWith(u'[') && line.contains(u":"_s)) {
            pending = line.chopped(1);
            continue;
        }
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            current = nullptr;
            if (!line.endsWith(u']'))
                continue;
            const QString path = line.mid(1, line.size() - 2);
            if (!path.startsWith(rootPrefix, Qt::CaseInsensitive))
                continue;
            current = &openKey(path.mid(rootPrefix.size()));
            continue;
        }
        if (!current)
            continue;
        if (auto value = parseValue(line))
            setValue(*current, std::move(*value));
    }
    m_changed = false;
}

QString TRegistryStore::toText() const
{
    QString text = u"Windows Registry Editor Version 5.00\r\n\r\n"_s;
    for (const Key &key : m_keys) {
        text += u'[' + RootName(m_root) + u'\\' + key.path + u"]\r\n"_s;
        for (const Value &v : key.values)
            text += valueText(v) + u"\r\n"_s;
        text += u"\r\n"_s;
    }
    return text;
}

TRegistryStore::Key *TRegistryStore::findKey(const QString &path)
{
    for (Key &key : m_keys)
        if (sameName(key.path, path))
            return &key;
    return nullptr;
}

TRegistryStore::Key &TRegistryStore::openKey(const QString &path)
{
    if (Key *key = findKey(path))
        return *key;
    m_keys.push_back(Key{path, {}});
    m_changed = true;
    return m_keys.back();
}

TRegistryStore::Value *TRegistryStore::findValue(Key &key, const QString &name)
{
    for (Value &v : key.values)
        if (sameName(v.name, name))
            return &v;
    return nullptr;
}

void TRegistryStore::setValue(Key &key, Value value)
{
    m_changed = true;
    if (Value *existing = findValue(key, value.name)) {
        *existing = std::move(value);
        return;
    }
    key.values.push_back(std::move(value));
}

bool TRegistryStore::deleteValue(Key &key, const QString &name)
{
    const auto before = key.values.size();
    std::erase_if(key.values, [&](const Value &v) { return sameName(v.name, name); });
    if (key.values.size() == before)
        return false;
    m_changed = true;
    return true;
}

namespace {
std::atomic<unsigned> g_storeWrites{0};
} // namespace

unsigned TRegistryStore::WriteCount()
{
    return g_storeWrites.load();
}

bool TRegistryStore::save()
{
    if (!m_changed)
        return true;
    const bool written =
        WriteFileAtomically(m_fileName, EncodeText(toText(), TextEncoding::Utf8), nullptr, requiredPermissions());
    ++g_storeWrites; // also after a failed write: the file may have changed all the same
    if (!written)
        return false;
    m_changed = false;
    return true;
}

namespace {

// Opens the store and the key path, creating the key when it is missing. A key
// that cannot be created (no rights) is not an error for a read.
struct OpenedKey
{
    explicit OpenedKey(TRootKey root, const QString &keyPath)
        : store(root)
        , key(store.openKey(keyPath))
    {
        if (store.changed())
            store.save();
    }
    TRegistryStore store;
    TRegistryStore::Key &key;
};

const TRegistryStore::Value *readValue(OpenedKey &opened, const QString &name, TRegistryStore::Type a,
                                       TRegistryStore::Type b)
{
    const TRegistryStore::Value *v = TRegistryStore::findValue(opened.key, name);
    if (v && v->type != a && v->type != b)
        throw ERegistryException(u"Invalid data type for '%1'"_s.arg(name));
    return v;
}

void writeValue(const QString &keyPath, TRootKey root, TRegistryStore::Value value)
{
    OpenedKey opened(root, keyPath);
    const QString name = value.name;
    opened.store.setValue(opened.key, std::move(value));
    if (!opened.store.save())
        throw ERegistryException(u"Failed to set data for '%1'"_s.arg(name));
}

} // namespace

int TRegistryHelper::ReadInteger(const QString &keyPath, const QString &name, TRootKey root, int defaultValue)
{
    OpenedKey opened(root, keyPath);
    const auto *v = readValue(opened, name, TRegistryStore::Type::Dword, TRegistryStore::Type::Dword);
    return v ? static_cast<int>(v->dword) : defaultValue;
}

bool TRegistryHelper::ReadBool(const QString &keyPath, const QString &name, TRootKey root, bool defaultValue)
{
    OpenedKey opened(root, keyPath);
    const auto *v = readValue(opened, name, TRegistryStore::Type::Dword, TRegistryStore::Type::Dword);
    return v ? v->dword != 0 : defaultValue;
}

QString TRegistryHelper::ReadString(const QString &keyPath, const QString &name, TRootKey root,
                                    const QString &defaultValue)
{
    OpenedKey opened(root, keyPath);
    const auto *v = readValue(opened, name, TRegistryStore::Type::String, TRegistryStore::Type::ExpandString);
    return v ? v->text : defaultValue;
}

void TRegistryHelper::WriteInteger(const QString &keyPath, const QString &name, TRootKey root, int value)
{
    TRegistryStore::Value v;
    v.name = name;
    v.type = TRegistryStore::Type::Dword;
    v.dword = static_cast<std::uint32_t>(value);
    writeValue(keyPath, root, std::move(v));
}

void TRegistryHelper::WriteBool(const QString &keyPath, const QString &name, TRootKey root, bool value)
{
    WriteInteger(keyPath, name, root, value ? 1 : 0);
}

void TRegistryHelper::WriteString(const QString &keyPath, const QString &name, TRootKey root, const QString &value)
{
    TRegistryStore::Value v;
    v.name = name;
    v.type = TRegistryStore::Type::String;
    v.text = value;
    writeValue(keyPath, root, std::move(v));
}

bool TRegistryHelper::DeleteValue(const QString &keyPath, const QString &name, TRootKey root)
{
    OpenedKey opened(root, keyPath);
    if (!opened.store.deleteValue(opened.key, name))
        return false;
    return opened.store.save();
}

} // namespace valmora
