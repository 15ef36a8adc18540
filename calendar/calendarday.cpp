#include "calendarday.h"
#include "weekdaytext.h"

#include <QRegularExpression>

namespace CalendarTexts {

QDate parseDate(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d{4})[-/.](\\d{1,2})[-/.](\\d{1,2})\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return {};
    return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

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
    return QStringLiteral("类型“%1”无法识别，只能是“放假”或“上课”。").arg(text);
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
                                   const QString &weekdayText, const QString &remark)
{
    CalendarDay d;
    d.date = CalendarTexts::parseDate(dateText);
    if (!d.date.isValid())
        throw CalendarError(CalendarTexts::noSuchDate(dateText.trimmed()));
    const QString kind = kindText.trimmed();
    if (kind == CalendarTexts::kHoliday) {
        d.kind = Kind::Holiday;
    } else if (kind == CalendarTexts::kMakeUp) {
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
