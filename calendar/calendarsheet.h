#pragma once
// The calendar days as a sheet (columns 日期, 类型, 按星期, 备注, a header
// row first), so that a school can take the year's holiday arrangement from
// a file. Read with the spreadsheet readers, written as BIFF8.
#include "calendarday.h"
#include "sheetreader.h"

namespace CalendarSheet {
QString sheetName();       // "校历"
QStringList header();      // 日期 类型 按星期 备注
QString proposedFileName(); // "Quorlin校历"
QList<QStringList> rows(const QList<CalendarDay> &days);
// Every row after the header, all or nothing: throws CalendarError naming
// every bad row (a date that does not exist, 上课 without a weekday, a date
// twice), one a line. A date without a year ("5月1日") takes the year of the
// sheet's other dates. Empty rows are skipped; a sheet without any day is
// refused.
QList<CalendarDay> parse(const SheetData &sheet);
}
