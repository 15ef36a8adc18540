#include "calendarday.h"
#include "weekdayset.h"

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
        QString w = weekdayText.trimmed();
        for (const QString &prefix : {QStringLiteral("星期"), QStringLiteral("周")})
            if (w.startsWith(prefix))
                w = w.mid(prefix.size());
        if (w == u"天")
            w = QStringLiteral("日");
        const QString all = WeekdaySet::fromDays({true, true, true, true, true, true, true});
        if (w.size() != 1 || !all.contains(w))
            throw CalendarError(CalendarTexts::makeUpWithoutWeekday(d.date));
        d.weekday = w[0];
    } else {
        throw CalendarError(CalendarTexts::unknownKind(kind));
    }
    d.remark = remark.trimmed();
    return d;
}
