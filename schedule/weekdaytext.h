#pragma once
// Weekday texts as schools write them, read into the canonical WeekdaySet
// (the characters 日一二三四五六, each at most once, in that order).
// One reading for every place an operator types or imports weekdays: the
// sheet import, the editor's text and the calendar sheet's 按星期 column.
#include <QString>
#include <optional>

namespace WeekdayText {
// Accepts, in any mix:
//  - the characters 日一二三四五六 or the digits 1-7 (7 = 日), each maybe
//    after 星期, 周 or 礼拜 (where 天 also means 日), separated by nothing,
//    blanks, "、", "，", "," or "/";
//  - ranges with 至, 到, "-", "~" or "—" between two weekdays, counted
//    Monday first ("周六至周日" is 日六, "五至一" goes over the weekend);
//  - the words 工作日 (一二三四五), 每天 / 每日 / 天天 / 全周 (all seven) and
//    周末 / 双休日 (日六).
// A blank text is the empty set. Anything else gives nothing.
std::optional<QString> read(const QString &text);

// The operator's message for a text that read() refuses, naming where it
// stands ("第5行的【周期】").
QString notUnderstood(const QString &where, const QString &text);
}
