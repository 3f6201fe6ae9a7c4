#include "foundation/DateTime.h"
#include "foundation/Exception.h"
#include "foundation/NameList.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

TEST(NameList, SortedIgnoresCaseAndDuplicates)
{
    TNameList list(true);
    for (const QString &n : {u"\\\\Zeta"_s, u"alpha"_s, u"\\\\beta"_s, u"ALPHA"_s, u"Gamma"_s, u"gamma"_s})
        list.add(n);
    EXPECT_EQ(list.names(), (QStringList{u"\\\\beta"_s, u"\\\\Zeta"_s, u"alpha"_s, u"Gamma"_s}));
    EXPECT_EQ(list.indexOf(u"GAMMA"_s), 3);
    EXPECT_EQ(list.indexOf(u"delta"_s), -1);
    EXPECT_TRUE(list.remove(u"Alpha"_s));
    EXPECT_THROW(list.at(3), EListError);
    EXPECT_THROW(list.at(-1), EListError);

    TNameList unsorted;
    unsorted.add(u"b"_s);
    unsorted.add(u"A"_s);
    unsorted.add(u"a"_s);
    EXPECT_EQ(unsorted.count(), 3);
    EXPECT_EQ(unsorted.indexOf(u"a"_s), 1);
    unsorted.setSorted(true);
    EXPECT_EQ(unsorted.names(), (QStringList{u"A"_s, u"a"_s, u"b"_s}));
}

TEST(DateTime, DaysSince1899)
{
    struct Case
    {
        QDateTime local;
        double days;
    };
    const Case cases[] = {
        {QDateTime(QDate(1899, 12, 30), QTime(0, 0)), 0.0},
        {QDateTime(QDate(2015, 1, 1), QTime(12, 0)), 42005.5},
        {QDateTime(QDate(1900, 1, 1), QTime(6, 0)), 2.25},
        {QDateTime(QDate(1899, 12, 29), QTime(6, 0)), -1.25}, // the fraction counts forward from midnight
        {QDateTime(QDate(2026, 12, 9), QTime(23, 59, 59, 999)), 46365.0 + 86399999.0 / 86400000.0},
    };
    for (const Case &c : cases) {
        EXPECT_DOUBLE_EQ(DateTimeFromQt(c.local), c.days) << c.local.toString(Qt::ISODateWithMs).toStdString();
        EXPECT_EQ(DateTimeToQt(c.days), c.local) << c.days;
    }
    EXPECT_EQ(DateTimeFromQt(QDateTime()), 0.0);
    EXPECT_FALSE(DateTimeToQt(std::numeric_limits<double>::quiet_NaN()).isValid());
    EXPECT_FALSE(DateTimeToQt(1e300).isValid());
    const double now = Now();
    EXPECT_LT(std::abs(DateTimeToQt(now).secsTo(QDateTime::currentDateTime())), 2);
}

TEST(DateTime, TextLeavesOutMidnight)
{
    const QDateTime midnight(QDate(2015, 3, 12), QTime(0, 0));
    EXPECT_EQ(DateTimeText(midnight), ShortDateText(midnight));
    const QDateTime later(QDate(2015, 3, 12), QTime(14, 5, 9));
    EXPECT_EQ(DateTimeText(later), ShortDateText(later) + u' ' + LongTimeText(later));
    EXPECT_TRUE(LongTimeText(later).contains(u"05"_s));
}
