#include "calendarsheet.h"

#include <QSet>

namespace CalendarSheet {

QString sheetName() { return QStringLiteral("校历"); }
QStringList header() { return {QStringLiteral("日期"), QStringLiteral("类型"), QStringLiteral("按星期"), QStringLiteral("备注")}; }
QString proposedFileName() { return QStringLiteral("Quorlin校历"); }

QList<QStringList> rows(const QList<CalendarDay> &days)
{
    QList<QStringList> out{header()};
    for (const CalendarDay &d : days)
        out << QStringList{CalendarTexts::dateKey(d.date), d.kindText(), d.weekdayText(), d.remark};
    return out;
}

QList<CalendarDay> parse(const SheetData &sheet)
{
    const int first = sheet.cell(0, 0).trimmed() == header().first() ? 1 : 0;
    QList<CalendarDay> out;
    QSet<QDate> seen;
    for (int r = first; r < sheet.rowCount(); ++r) {
        bool blank = true;
        for (int c = 0; c < 4; ++c)
            blank = blank && sheet.cell(r, c).trimmed().isEmpty();
        if (blank)
            continue;
        try {
            const CalendarDay d = CalendarDay::fromTexts(sheet.cell(r, 0), sheet.cell(r, 1),
                                                         sheet.cell(r, 2), sheet.cell(r, 3));
            if (seen.contains(d.date))
                throw CalendarError(QStringLiteral("日期 %1 出现了两次。").arg(CalendarTexts::dateKey(d.date)));
            seen.insert(d.date);
            out << d;
        } catch (const CalendarError &e) {
            throw CalendarError(QStringLiteral("第%1行：%2校历没有改变。").arg(r + 1).arg(e.text()));
        }
    }
    if (out.isEmpty())
        throw CalendarError(QStringLiteral("文件中没有校历日期（列：日期、类型、按星期、备注）。校历没有改变。"));
    return out;
}

} // namespace CalendarSheet
