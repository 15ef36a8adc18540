#include "calendarday.h"
#include "weekdaytext.h"

#include <QRegularExpression>

namespace CalendarTexts {

namespace {
// 2027-05-01, 2027/5/1, 2027.5.1, 2027年5月1日; a
// date cell may add its time, which must then be midnight.
const QRegularExpression &fullDate()
{
    static const QRegularExpression re(QStringLiteral(
        "^\\s*(\\d{4})(?:([-/.])(\\d{1,2})[-/.](\\d{1,2})(?:\\s+0{1,2}:00(?::00)?)?"
        "|\\s*年\\s*(\\d{1,2})\\s*月\\s*(\\d{1,2})\\s*[日号]?)\\s*$"));
    return re;
}
const QRegularExpression &monthDay()
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d{1,2})\\s*月\\s*(\\d{1,2})\\s*[日号]?\\s*$"));
    return re;
}
} // namespace

QDate parseDate(const QString &text, int yearIfMissing)
{
    if (const auto m = fullDate().match(text); m.hasMatch()) {
        const bool dashed = !m.captured(2).isEmpty();
        return QDate(m.captured(1).toInt(), m.captured(dashed ? 3 : 5).toInt(),
                     m.captured(dashed ? 4 : 6).toInt());
    }
    if (const auto m = monthDay().match(text); m.hasMatch() && yearIfMissing > 0)
        return QDate(yearIfMissing, m.captured(1).toInt(), m.captured(2).toInt());
    return {};
}

bool lacksYear(const QString &text) { return monthDay().match(text).hasMatch(); }

QString dateKey(const QDate &date) { return date.toString(QStringLiteral("yyyy-MM-dd")); }

QString noSuchDate(const QString &text)
{
    return QStringLiteral("日期“%1”不存在，请按“年-月-日”填写，例如 2026-05-01。").arg(text);
}

QString makeUpWithoutWeekday(const QDate &date)
{
    return QStringLiteral("%1 标为上课，但没有写按星期几上课（日一二三四五六中的一个字）。")
        .arg(dateKey(date));
}

QString unknownKind(const QString &text)
{
    return QStringLiteral("类型“%1”无法识别，只能是“放假”或“上课”（“调休”也算上课）。").arg(text);
}

QString yearUnknown(const QString &text)
{
    return QStringLiteral("日期“%1”没有写年份，从表中其他行的日期也看不出是哪一年，请写成“2027年5月1日”的样子。")
        .arg(text);
}

} // namespace CalendarTexts

QString CalendarDay::kindText() const
{
    return kind == Kind::Holiday ? CalendarTexts::kHoliday : CalendarTexts::kMakeUp;
}

QString CalendarDay::panelText() const
{
    return kind == Kind::Holiday ? CalendarTexts::kHoliday
                                 : QStringLiteral("按周%1上课").arg(weekday);
}

CalendarDay CalendarDay::fromTexts(const QString &dateText, const QString &kindText,
                                   const QString &weekdayText, const QString &remark,
                                   int yearIfMissing)
{
    CalendarDay d;
    d.date = CalendarTexts::parseDate(dateText, yearIfMissing);
    if (!d.date.isValid())
        throw CalendarError(yearIfMissing == 0 && CalendarTexts::lacksYear(dateText)
                                ? CalendarTexts::yearUnknown(dateText.trimmed())
                                : CalendarTexts::noSuchDate(dateText.trimmed()));
    const QString kind = kindText.trimmed();
    if (kind == CalendarTexts::kHoliday) {
        d.kind = Kind::Holiday;
    } else if (kind == CalendarTexts::kMakeUp || kind == QStringLiteral("调休")
               || kind == QStringLiteral("调休上课")) {
        d.kind = Kind::MakeUp;
        // One weekday, written as schools write it ("周一", "星期天", "1").
        const auto days = WeekdayText::read(weekdayText);
        if (!days || days->size() != 1)
            throw CalendarError(CalendarTexts::makeUpWithoutWeekday(d.date));
        d.weekday = days->at(0);
    } else {
        throw CalendarError(CalendarTexts::unknownKind(kind));
    }
    d.remark = remark.trimmed();
    return d;
}
