#pragma once
#include <QString>

// A time of day as whole seconds since midnight. 64-bit, so that any digits
// the editor lets through convert without overflow.
qint64 timetoint(qint64 hours, qint64 minutes, qint64 seconds);
// hours:minutes:seconds, each with a leading "0" when 9 or less; 100 hours
// give "100:00:00".
QString inttotime(qint64 n);
// Two-digit text of one field, as the editor fills it ("07", "00", "123").
QString twoDigits(qint64 n);
