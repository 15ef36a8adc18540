#pragma once
// Typed cell values as cell texts, shared by every sheet reader: numbers,
// dates and times, and which number formats show a date or a time.
//
// Cell texts: a number its decimal text, a time of day HH:MM:SS, a date
// yyyy/M/d and a date with a time yyyy/M/d H:MM:SS.
#include <QString>
#include <optional>
#include <string_view>

class QDate;

QString numberText(double v);
// A number as a file stores it ("12", "0.3125", "1.5E-3"), spaces around it
// allowed, as QString::toDouble reads it (which took a tenth of reading a
// sheet: most numbers go the short way through std::from_chars).
std::optional<double> parseNumber(QStringView text);
// A date serial (days since 1899-12-30, or since 'origin') as the cell text.
QString dateSerialText(double serial, const QDate &origin);
QString dateTimeText(int year, int month, int day, int hour, int minute, int second);
// The second of the day a fraction of a day (or a count of seconds) stands
// for: rounded to the nearest second and never past 23:59:59, so that a
// value just short of midnight stays the last bell of its day.
int secondOfDayFromFraction(double fractionOfDay);
int secondOfDayFromSeconds(double seconds);

// Built-in number formats of Excel that show a date or time, the Chinese
// ones included.
bool isBuiltinDateFormat(size_t id);
// Whether a format code shows a date or time (letters outside quotes,
// brackets and escapes, in its first section).
bool isDateFormatCode(std::string_view code);
