#include "AttrInfo.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora {

std::optional<qint64> ParseIniInteger(const QString &text)
{
    QString digits = text.trimmed();
    bool negative = false;
    if (digits.startsWith(u'-') || digits.startsWith(u'+')) {
        negative = digits.startsWith(u'-');
        digits.remove(0, 1);
    }
    int base = 10;
    if (digits.startsWith(u"0x"_s, Qt::CaseInsensitive)) {
        digits.remove(0, 2);
        base = 16;
    } else if (digits.startsWith(u'$')) {
        digits.remove(0, 1);
        base = 16;
    }
    if (digits.isEmpty() || digits.startsWith(u'-') || digits.startsWith(u'+'))
        return std::nullopt;
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    return negative ? -value : value;
}

TSMARTAttrDecription::TSMARTAttrDecription(const QString &fileName)
    : TMemIniFile(fileName)
{
}

QString TSMARTAttrDecription::AttributeName(int attribute) const
{
    return ReadString(QString::number(attribute), u"Name"_s, u"Unkown"_s);
}

QString TSMARTAttrDecription::AttributeDescription(const QString &section) const
{
    return ReadString(section, u"Description"_s, QString());
}

bool TSMARTAttrDecription::AttributeWarning(const QString &section) const
{
    const auto value = ParseIniInteger(ReadString(section, u"Warning"_s, QString()));
    return value && *value != 0;
}

} // namespace valmora
