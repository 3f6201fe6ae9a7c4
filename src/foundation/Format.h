#pragma once

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace valmora {

// One argument of a format: an integer, a floating-point number or a text.
using FormatArg = std::variant<std::int64_t, double, QString>;
using FormatArgs = std::vector<FormatArg>;

// The outcome of a format: the text, or the reason it could not be built.
struct FormatResult
{
    QString text;
    std::optional<QString> error; // set when the format and its arguments do not match

    bool ok() const { return !error.has_value(); }
};

// Expands printf-like directives: "%" [index ":"] ["-"] [width] ["." precision] type,
// with the types d, u, x, X (integers), f, e, g (floating point), s (text) and "%%".
// Width and precision may be "*" to take them from the next integer argument.
// A directive without a matching argument, an unknown type or a lone "%" gives an
// error value; nothing is ever read past the arguments.
FormatResult TryFormat(const QString &format, std::span<const FormatArg> args);

// As TryFormat, but raises EConvertError ("Format '%s' invalid or incompatible with argument").
QString Format(const QString &format, std::span<const FormatArg> args);
QString Format(const QString &format, std::initializer_list<FormatArg> args);

} // namespace valmora
