#include "foundation/Format.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

TEST(Format, ExpandsDirectives)
{
    struct Case
    {
        QString format;
        FormatArgs args;
        QString expected;
    };
    const Case cases[] = {
        {u"%s: Place: %d. %s"_s, {u"stamp"_s, std::int64_t{1002}, u"x"_s}, u"stamp: Place: 1002. x"_s},
        {u"100%%"_s, {}, u"100%"_s},
        {u"%5d|%-5d|%.3d"_s, {std::int64_t{42}, std::int64_t{7}, std::int64_t{5}}, u"   42|7    |005"_s},
        {u"%x %X"_s, {std::int64_t{255}, std::int64_t{255}}, u"ff FF"_s},
        {u"%.2f"_s, {3.14159}, u"3.14"_s},
        {u"%.1f"_s, {std::int64_t{2}}, u"2.0"_s},
        {u"%1:s %0:s"_s, {u"a"_s, u"b"_s}, u"b a"_s},
        {u"%*d"_s, {std::int64_t{4}, std::int64_t{9}}, u"   9"_s},
        {u"%.2s"_s, {u"abc"_s}, u"ab"_s},
        {u"%d"_s, {std::int64_t{-2147483648LL}}, u"-2147483648"_s},
        {u"no directives"_s, {u"unused"_s}, u"no directives"_s},
    };
    for (const Case &c : cases) {
        const FormatResult r = TryFormat(c.format, c.args);
        ASSERT_TRUE(r.ok()) << c.format.toStdString();
        EXPECT_EQ(r.text, c.expected) << c.format.toStdString();
    }
}

TEST(Format, MismatchIsAnErrorValueNotUndefined)
{
    struct Case
    {
        QString format;
        FormatArgs args;
    };
    const Case cases[] = {
        {u"100%"_s, {}},                 // lone percent at the end
        {u"%d"_s, {}},                   // argument missing
        {u"%d"_s, {u"text"_s}},          // text for an integer
        {u"%s"_s, {std::int64_t{1}}},    // integer for a text
        {u"%q"_s, {u"x"_s}},             // unknown type
        {u"%5:s"_s, {u"x"_s}},           // index past the arguments
        {u"%s %s"_s, {u"only one"_s}},   // too few
        {u"%99999999d"_s, {std::int64_t{1}}}, // absurd width
    };
    for (const Case &c : cases) {
        const FormatResult r = TryFormat(c.format, c.args);
        EXPECT_FALSE(r.ok()) << c.format.toStdString();
        ASSERT_TRUE(r.error.has_value());
        EXPECT_EQ(*r.error, u"Format '"_s + c.format + u"' invalid or incompatible with argument"_s);
    }
    EXPECT_THROW(Format(u"%d"_s, {}), std::exception);
}
