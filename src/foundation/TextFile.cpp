#include "TextFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

QString DecodeText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder dec(QStringDecoder::Utf16LE);
        return dec.decode(QByteArrayView(bytes).sliced(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder dec(QStringDecoder::Utf16BE);
        return dec.decode(QByteArrayView(bytes).sliced(2));
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray EncodeText(const QString &text, TextEncoding encoding)
{
    QByteArray out;
    if (encoding == TextEncoding::Utf8WithBom)
        out = QByteArrayLiteral("\xEF\xBB\xBF");
    out += text.toUtf8();
    return out;
}

QStringList SplitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

std::optional<QByteArray> ReadWholeFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    return file.readAll();
}

bool WriteFileAtomically(const QString &path, const QByteArray &data, QString *error,
                         std::optional<QFileDevice::Permissions> permissions)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = u"Cannot write \"%1\": %2"_s.arg(QDir::toNativeSeparators(path), why);
        return false;
    };
    QSaveFile file(path);
    // Unbuffered, so a short write (a full disk) is seen here and the old file stays;
    // a buffered write can lose that error in the flush at commit.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    // Set before any byte is written, so a password never sits in a readable file.
    if (permissions && !file.setPermissions(*permissions))
        return fail(u"cannot set permissions"_s);
    if (file.write(data) != data.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    // Some file systems drop the mode of the temporary file on rename; set it again.
    if (permissions && !QFile::setPermissions(path, *permissions))
        return fail(u"cannot set permissions"_s);
    return true;
}

} // namespace valmora
