#include "Format.h"

#include "Exception.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

QString convertError(const QString &format)
{
    return u"Format '"_s + format + u"' invalid or incompatible with argument"_s;
}

// Pads to the given width, on the left unless leftAlign.
QString pad(const QString &text, int width, bool leftAlign)
{
    if (width <= text.size())
        return text;
    return leftAlign ? text.leftJustified(width, u' ') : text.rightJustified(width, u' ');
}

class Expander
{
public:
    Expander(const QString &format, std::span<const FormatArg> args)
        : m_format(format)
        , m_args(args)
    {
    }

    std::optional<QString> run()
    {
        QString out;
        qsizetype i = 0;
        const qsizetype n = m_format.size();
        while (i < n) {
            const QChar c = m_format.at(i);
            if (c != u'%') {
                out.append(c);
                ++i;
                continue;
            }
            ++i;
            if (i >= n)
                return std::nullopt;
            if (m_format.at(i) == u'%') {
                out.append(u'%');
                ++i;
                continue;
            }
            auto piece = directive(i);
            if (!piece)
                return std::nullopt;
            out.append(*piece);
        }
        return out;
    }

private:
    // Reads a decimal number or "*" at i; returns -1 when there is none.
    std::optional<int> number(qsizetype &i, bool allowStar = true)
    {
        const qsizetype n = m_format.size();
        if (allowStar && i < n && m_format.at(i) == u'*') {
            ++i;
            const auto *v = next<std::int64_t>();
            if (!v || *v < 0 || *v > 100000)
                return std::nullopt;
            return static_cast<int>(*v);
        }
        int value = -1;
        while (i < n && m_format.at(i).isDigit() && m_format.at(i).unicode() < 128) {
            const int digit = m_format.at(i).unicode() - u'0';
            value = (value < 0 ? 0 : value) * 10 + digit;
            if (value > 100000)
                return std::nullopt;
            ++i;
        }
        return value;
    }

    template<typename T>
    const T *next()
    {
        if (m_next >= m_args.size())
            return nullptr;
        return std::get_if<T>(&m_args[m_next++]);
    }

    std::optional<QString> directive(qsizetype &i)
    {
        const qsizetype n = m_format.size();
        // Optional explicit index "N:".
        {
            qsizetype j = i;
            auto idx = number(j, false);
            if (!idx)
                return std::nullopt;
            if (*idx >= 0 && j < n && m_format.at(j) == u':') {
                if (static_cast<std::size_t>(*idx) >= m_args.size())
                    return std::nullopt;
                m_next = static_cast<std::size_t>(*idx);
                i = j + 1;
            }
        }
        bool leftAlign = false;
        if (i < n && m_format.at(i) == u'-') {
            leftAlign = true;
            ++i;
        }
        auto width = number(i);
        if (!width)
            return std::nullopt;
        int precision = -1;
        if (i < n && m_format.at(i) == u'.') {
            ++i;
            auto p = number(i);
            if (!p)
                return std::nullopt;
            precision = *p < 0 ? 0 : *p;
        }
        if (i >= n)
            return std::nullopt;
        const QChar type = m_format.at(i).toLower();
        const bool upper = m_format.at(i).isUpper();
        ++i;
        QString text;
        switch (type.unicode()) {
        case u'd':
        case u'u':
        case u'x': {
            const auto *v = next<std::int64_t>();
            if (!v)
                return std::nullopt;
            std::int64_t value = *v;
            bool negative = false;
            std::uint64_t magnitude = 0;
            if (type == u'u') {
                // Unsigned view of a 32-bit value, as the integer types of the texts are.
                magnitude = static_cast<std::uint32_t>(value);
            } else if (type == u'x') {
                magnitude = static_cast<std::uint64_t>(value);
            } else {
                negative = value < 0;
                magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
            }
            text = QString::number(magnitude, type == u'x' ? 16 : 10);
            if (type == u'x')
                text = upper ? text.toUpper() : text.toLower();
            if (precision > text.size())
                text = text.rightJustified(precision, u'0');
            if (negative)
                text.prepend(u'-');
            break;
        }
        case u'f':
        case u'e':
        case u'g': {
            const auto *d = next<double>();
            double value = 0;
            if (d) {
                value = *d;
            } else {
                --m_next;
                const auto *v = m_next < m_args.size() ? std::get_if<std::int64_t>(&m_args[m_next]) : nullptr;
                if (!v)
                    return std::nullopt;
                ++m_next;
                value = static_cast<double>(*v);
            }
            const char f = static_cast<char>(type.unicode());
            text = QString::number(value, f, precision < 0 ? (f == 'g' ? 15 : 2) : precision);
            if (upper)
                text = text.toUpper();
            break;
        }
        case u's': {
            const auto *s = next<QString>();
            if (!s)
                return std::nullopt;
            text = precision >= 0 ? s->left(precision) : *s;
            break;
        }
        default:
            return std::nullopt;
        }
        return pad(text, *width, leftAlign);
    }

    const QString &m_format;
    std::span<const FormatArg> m_args;
    std::size_t m_next = 0;
};

} // namespace

FormatResult TryFormat(const QString &format, std::span<const FormatArg> args)
{
    FormatResult result;
    if (auto text = Expander(format, args).run())
        result.text = std::move(*text);
    else
        result.error = convertError(format);
    return result;
}

QString Format(const QString &format, std::span<const FormatArg> args)
{
    FormatResult result = TryFormat(format, args);
    if (!result.ok())
        throw EConvertError(*result.error);
    return result.text;
}

QString Format(const QString &format, std::initializer_list<FormatArg> args)
{
    return Format(format, std::span<const FormatArg>(args.begin(), args.size()));
}

} // namespace valmora
