#pragma once

#include <QString>

namespace valmora {

// The user name and password of one computer, the password in plain text.
struct TUserPass
{
    QString UserName;
    QString Password;
};


// Each UTF-16 code unit replaced by its bitwise complement; its own inverse.
QString InvertChars(const QString &text);

// The stored form of a password: InvertChars of it. A complemented unit that
// would be a lone surrogate (the password held a character of U+2000..U+27FF)
// cannot be written as UTF-8, and one that is a blank or control character (the
// password held one of U+FFDF..U+FFFF) would be trimmed or break the line. Such
// a unit is written as U+FFFF and four hexadecimal digits, so every password
// survives a save; U+FFFF itself is escaped too.
QString EncodeStoredPassword(const QString &password);
QString DecodeStoredPassword(const QString &stored);

// Both fields non-empty.
bool UserPassIsUsable(const TUserPass &userPass);

// The credentials of a computer from "userpass.valmora" in the data folder;
// empty fields when the file, the section or a key is missing. A file that
// exists but cannot be read raises; a failure after loading is logged (2003)
// and what was read so far is returned.
TUserPass ReadUserPass(const QString &dataFolder, const QString &computerName);

// Stores "UserName" and then "Password" in the computer's section and saves the
// whole file atomically, readable and writable by its owner only. Raises
// Exception naming the file when it cannot be read or written.
void WriteUserPass(const QString &dataFolder, const QString &computerName, const TUserPass &userPass);

} // namespace valmora
