#include "calendarsheet.h"

#include <QSet>

#include <algorithm>

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

namespace {

// The year a month and day without one stands for: the one year of the
// sheet's full dates, or among a school year's two the one that puts it
// between the sheet's first and last date. 0 when the sheet does not say.
int yearFor(const QString &monthDay, const QList<QDate> &fullDates)
{
    if (fullDates.isEmpty())
        return 0;
    const auto [lo, hi] = std::minmax_element(fullDates.begin(), fullDates.end());
    if (lo->year() == hi->year())
        return lo->year();
    int found = 0;
    for (int y = lo->year(); y <= hi->year(); ++y) {
        const QDate d = CalendarTexts::parseDate(monthDay, y);
        if (d.isValid() && *lo <= d && d <= *hi) {
            if (found)
                return 0;
            found = y;
        }
    }
    return found;
}

constexpr int kRowsNamed = 20; // a box that still fits on the screen

} // namespace

QList<CalendarDay> parse(const SheetData &sheet)
{
    const int first = sheet.cell(0, 0).trimmed() == header().first() ? 1 : 0;
    auto blank = [&sheet](int r) {
        for (int c = 0; c < 4; ++c)
            if (!sheet.cell(r, c).trimmed().isEmpty())
                return false;
        return true;
    };
    QList<QDate> fullDates;
    for (int r = first; r < sheet.rowCount(); ++r)
        if (const QDate d = CalendarTexts::parseDate(sheet.cell(r, 0)); d.isValid())
            fullDates << d;

    QList<CalendarDay> out;
    QSet<QDate> seen;
    QStringList bad;
    for (int r = first; r < sheet.rowCount(); ++r) {
        if (blank(r))
            continue;
        try {
            const QString date = sheet.cell(r, 0);
            const int year = CalendarTexts::lacksYear(date) ? yearFor(date, fullDates) : 0;
            const CalendarDay d = CalendarDay::fromTexts(date, sheet.cell(r, 1), sheet.cell(r, 2),
                                                         sheet.cell(r, 3), year);
            if (seen.contains(d.date))
                throw CalendarError(QStringLiteral("日期 %1 出现了两次。").arg(CalendarTexts::dateKey(d.date)));
            seen.insert(d.date);
            out << d;
        } catch (const CalendarError &e) {
            bad << QStringLiteral("第%1行：%2").arg(r + 1).arg(e.text());
        }
    }
    if (!bad.isEmpty()) {
        const qsizetype more = bad.size() - kRowsNamed;
        if (more > 0) {
            bad.resize(kRowsNamed);
            bad << QStringLiteral("……另有 %1 行也有错。").arg(more);
        }
        throw CalendarError(bad.join(u'\n') + QStringLiteral("\n校历没有改变。"));
    }
    if (out.isEmpty())
        throw CalendarError(QStringLiteral("文件中没有校历日期（列：日期、类型、按星期、备注）。校历没有改变。"));
    return out;
}

} // namespace CalendarSheet
