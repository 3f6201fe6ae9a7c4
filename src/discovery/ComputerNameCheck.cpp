#include "ComputerNameCheck.h"

#include "foundation/LogSystem.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

// Characters a file name or an INI section name cannot hold.
constexpr char16_t Forbidden[] = u":*?\"<>|[]=;";

bool isInvisible(QChar c)
{
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// Device names of Windows: a file named so, with any extension, is the
// device. The superscript digits count as digits there too.
bool isDeviceName(const QString &bare)
{
    QString stem = bare.left(bare.indexOf(u'.') < 0 ? bare.size() : bare.indexOf(u'.'));
    while (stem.endsWith(u' '))
        stem.chop(1);
    stem = stem.toUpper();
    for (const char16_t *device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
        if (stem == QStringView(device))
            return true;
    if (stem.size() == 4 && (stem.startsWith(u"COM"_s) || stem.startsWith(u"LPT"_s))) {
        const QChar digit = stem.at(3);
        return (digit >= u'0' && digit <= u'9') || digit == u'\u00b9' || digit == u'\u00b2' || digit == u'\u00b3';
    }
    return false;
}

// Names that mean this computer without naming it: a check would send the
// domain's credentials to whatever listens on the loopback.
bool meansThisComputer(const QString &bare)
{
    const QString lower = AsciiLower(bare);
    if (lower == u"."_s || lower == u"localhost"_s || lower.startsWith(u"localhost."_s) || lower == u"localhost6"_s
        || lower == u"ip6-localhost"_s || lower == u"ip6-loopback"_s)
        return true;
    const QStringList parts = lower.split(u'.');
    if (parts.size() == 4 && parts.first() == u"127"_s) {
        for (const QString &part : parts) {
            bool number = false;
            part.toUInt(&number);
            if (!number)
                return false;
        }
        return true;
    }
    return false;
}

} // namespace

QString ComputerNameProblem(const QString &name)
{
    const QString bare = BareComputerName(name);
    if (bare.isEmpty())
        return u"the name is empty"_s;
    if (bare.toUtf8().size() > MaxComputerNameBytes)
        return u"the name is longer than %1 bytes"_s.arg(MaxComputerNameBytes);
    if (bare.contains(u"/"_s) || bare.contains(u"\\"_s))
        return u"the name holds a path separator"_s;
    if (bare.contains(u".."_s))
        return u"the name holds \"..\""_s;
    if (bare.front().isSpace() || bare.back().isSpace())
        return u"the name begins or ends with a blank"_s;
    if (meansThisComputer(bare))
        return u"the name stands for this computer"_s;
    if (bare.back() == u'.')
        return u"the name ends with a dot"_s;
    if (isDeviceName(bare))
        return u"the name is that of a device on Windows"_s;
    for (qsizetype i = 0; i < bare.size(); ++i) {
        const QChar c = bare.at(i);
        if (c.isHighSurrogate() && i + 1 < bare.size() && bare.at(i + 1).isLowSurrogate()) {
            ++i; // a character beyond the basic plane, written as a pair
            continue;
        }
        if (c.category() == QChar::Other_Control)
            return u"the name holds a control character"_s;
        if (c == QChar::ReplacementCharacter || isInvisible(c))
            return u"the name holds a character that is not printable"_s;
        for (char16_t f : Forbidden)
            if (f && c == QChar(f))
                return u"the name holds the character \"%1\""_s.arg(c);
    }
    return QString();
}

bool AcceptComputerName(const QString &name, const QString &origin)
{
    const QString problem = ComputerNameProblem(name);
    if (problem.isEmpty())
        return true;
    // Every discovery entry carries place code 0, that of the reverse lookup: the
    // log's table has no code of its own for the other sources.
    XLogSystem().LogException(
        u"Computer name \"%1\" from %2 dropped: %3"_s.arg(PrintableName(name), origin, problem), LogPlace::ReverseLookup);
    return false;
}

QString PrintableName(const QString &name)
{
    constexpr qsizetype Shown = 80;
    QString out;
    for (qsizetype i = 0; i < name.size() && i < Shown; ++i) {
        const QChar c = name.at(i);
        if (c.isSurrogate() || !isInvisible(c))
            out += c;
        else
            out += u"\\x{%1}"_s.arg(c.unicode(), 0, 16);
    }
    if (name.size() > Shown)
        out += u"…"_s;
    return out;
}

} // namespace valmora
