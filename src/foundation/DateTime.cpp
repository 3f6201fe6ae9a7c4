#include "DateTime.h"

#include <QLocale>

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

QString longTimeFormat()
{
    // Qt's long format carries the zone name ("t"); the stamps want the clock only.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(u't');
    return format.trimmed();
}

} // namespace

TDateTime DateTimeFromQt(const QDateTime &value)
{
    if (!value.isValid())
        return 0;
    const QDateTime local = value.toLocalTime();
    const double days = static_cast<double>(kEpoch.daysTo(local.date()));
    const double fraction = local.time().msecsSinceStartOfDay() / kMsPerDay;
    // Days before the epoch carry the time of day as a positive fraction towards zero.
    return days >= 0 ? days + fraction : days - fraction;
}

QDateTime DateTimeToQt(TDateTime value)
{
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6)
        return {};
    const double whole = std::trunc(value);
    double fraction = std::fabs(value - whole);
    auto ms = static_cast<qint64>(std::llround(fraction * kMsPerDay));
    qint64 days = static_cast<qint64>(whole);
    if (ms >= static_cast<qint64>(kMsPerDay)) {
        ms -= static_cast<qint64>(kMsPerDay);
        days += value >= 0 ? 1 : -1;
    }
    // -0.5 is noon of the epoch day itself: whole is 0 then.
    return QDateTime(kEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

TDateTime Now()
{
    return DateTimeFromQt(QDateTime::currentDateTime());
}

QString ShortDateText(const QDateTime &value)
{
    return QLocale::system().toString(value.date(), QLocale::ShortFormat);
}

QString LongTimeText(const QDateTime &value)
{
    return QLocale::system().toString(value.time(), longTimeFormat());
}

QString DateTimeText(const QDateTime &value)
{
    if (value.time() == QTime(0, 0))
        return ShortDateText(value);
    return ShortDateText(value) + u' ' + LongTimeText(value);
}

} // namespace valmora
