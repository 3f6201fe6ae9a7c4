#include "UserPass.h"

#include "foundation/DataPaths.h"
#include "foundation/Environment.h"
#include "foundation/IniFile.h"
#include "foundation/LogSystem.h"

#include <QDir>

#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

constexpr char16_t kEscape = 0xFFFF;

QString fileIn(const QString &dataFolder)
{
    return DataPaths::UserPassFile(dataFolder);
}

// Writes read, change and replace the whole file: two at once would lose one's
// change. Reads need no lock, as every write replaces the file in one step.
std::mutex &writeMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool needsEscape(char16_t unit)
{
    // Lone surrogates have no UTF-8 form; blanks and control characters would be
    // trimmed from a value's ends or break its line.
    return QChar::isSurrogate(unit) || unit == kEscape || unit <= 0x20;
}

} // namespace

QString InvertChars(const QString &text)
{
    QString out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = QChar(static_cast<char16_t>(~text.at(i).unicode()));
    return out;
}

QString EncodeStoredPassword(const QString &password)
{
    const QString inverted = InvertChars(password);
    QString out;
    out.reserve(inverted.size());
    for (const QChar c : inverted) {
        if (needsEscape(c.unicode()))
            out += QChar(kEscape) + u"%1"_s.arg(c.unicode(), 4, 16, QChar(u'0'));
        else
            out += c;
    }
    return out;
}

QString DecodeStoredPassword(const QString &stored)
{
    QString inverted;
    inverted.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (stored.at(i).unicode() == kEscape && i + 4 < stored.size()) {
            bool ok = false;
            const uint unit = QStringView(stored).sliced(i + 1, 4).toUInt(&ok, 16);
            if (ok) {
                inverted += QChar(static_cast<char16_t>(unit));
                i += 4;
                continue;
            }
        }
        inverted += stored.at(i);
    }
    return InvertChars(inverted);
}

bool UserPassIsUsable(const TUserPass &userPass)
{
    return !userPass.UserName.isEmpty() && !userPass.Password.isEmpty();
}

TUserPass ReadUserPass(const QString &dataFolder, const QString &computerName)
{
    TUserPass result;
    const TMemIniFile ini(fileIn(dataFolder)); // a file that cannot be read reaches the caller
    try {
        result.UserName = ini.ReadString(computerName, u"UserName"_s, QString());
        result.Password = DecodeStoredPassword(ini.ReadString(computerName, u"Password"_s, QString()));
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, LogPlace::ReadCredentials);
    }
    return result;
}

void WriteUserPass(const QString &dataFolder, const QString &computerName, const TUserPass &userPass)
{
    QDir().mkpath(dataFolder);
    const std::lock_guard lock(writeMutex());
    TMemIniFile ini(fileIn(dataFolder));
    ini.WriteString(computerName, u"UserName"_s, userPass.UserName);
    ini.WriteString(computerName, u"Password"_s, EncodeStoredPassword(userPass.Password));
    ini.UpdateFile(kOwnerOnly);
}

} // namespace valmora
