#pragma once

#include <QDateTime>
#include <QString>

namespace valmora {

// A local date-time as days since 30 December 1899, the fraction being the time
// of day. This is the form in which readout and saving times are stored.
using TDateTime = double;

// Converts a local date-time; an invalid date-time gives 0.
TDateTime DateTimeFromQt(const QDateTime &value);
// Converts back to a local date-time (millisecond resolution). For values before
// the epoch the fraction still counts forward from midnight, so -1.25 is
// 29 December 1899, 06:00.
QDateTime DateTimeToQt(TDateTime value);
TDateTime Now();

// The texts the program shows and logs: the user's short date format and a long
// time format (hours, minutes, seconds, without a time-zone name).
QString ShortDateText(const QDateTime &value);
QString LongTimeText(const QDateTime &value);
// Short date, one blank and long time; the time is left out at exactly midnight.
QString DateTimeText(const QDateTime &value);

} // namespace valmora
