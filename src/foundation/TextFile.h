#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <QStringList>

#include <optional>

namespace valmora {

enum class TextEncoding {
    Utf8,        // UTF-8 without a byte-order mark
    Utf8WithBom, // UTF-8 with a byte-order mark
};

// Decodes a text file's bytes: UTF-16 LE/BE or UTF-8 by their byte-order mark;
// without a mark, UTF-8 when the bytes are valid UTF-8, Latin-1 otherwise (the
// 8-bit files of older editors).
QString DecodeText(const QByteArray &bytes);
QByteArray EncodeText(const QString &text, TextEncoding encoding);

// Splits at CR LF, LF or CR.
QStringList SplitLines(const QString &text);

// Reads a whole file; nullopt when it does not exist or cannot be read.
std::optional<QByteArray> ReadWholeFile(const QString &path, QString *error = nullptr);

// Replaces the file in one step: the data is written beside it and renamed over
// it, so a reader sees the old or the new contents, never a torn file. With
// permissions given, the file has exactly those (also when it existed before).
// Returns false with a reason in error.
bool WriteFileAtomically(const QString &path, const QByteArray &data, QString *error = nullptr,
                         std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Owner read and write only, for files that hold passwords.
inline constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace valmora
