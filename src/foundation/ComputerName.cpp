#include "ComputerName.h"

#include <QLocale>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

QString BareComputerName(const QString &name)
{
    return name.startsWith(u"\\\\"_s) ? name.mid(2) : name;
}

QString NetworkComputerName(const QString &name)
{
    return u"\\\\"_s + BareComputerName(name);
}

QString AsciiLower(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return out;
}

QString AsciiUpper(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - (u'a' - u'A'));
    return out;
}

bool SameComputerName(const QString &left, const QString &right)
{
    return AsciiUpper(BareComputerName(left)) == AsciiUpper(BareComputerName(right));
}

int CompareComputerNames(const QString &left, const QString &right)
{
    const int c = QString::compare(AsciiUpper(left), AsciiUpper(right), Qt::CaseSensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

TComputerNameCollator::TComputerNameCollator()
    : m_collator(QLocale())
{
    m_collator.setCaseSensitivity(Qt::CaseSensitive);
}

int TComputerNameCollator::Compare(const QString &left, const QString &right) const
{
    const int c = m_collator.compare(AsciiUpper(left), AsciiUpper(right));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace valmora
