#pragma once
#include <QDate>
#include <QString>
#include <array>

// The text of column 周期: weekday characters 日一二三四五六 (Sunday first),
// each at most once, in that order.
namespace WeekdaySet {
// 日 一 二 三 四 五 六, indexed from Sunday = 0.
QChar dayChar(int sundayBasedIndex);
// The weekday character of a date.
QChar charOf(const QDate &date);
// Built from seven toggles, Sunday first.
QString fromDays(const std::array<bool, 7> &down);
// Which of the seven characters occur anywhere in the text.
std::array<bool, 7> toDays(const QString &text);
// The bind value of the grid's list: "%" for all, "%" + char + "%" for a day.
QString allPattern();
QString dayPattern(const QDate &date);
QString dayPattern(QChar day);
}
