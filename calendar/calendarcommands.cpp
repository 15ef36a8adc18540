#include "calendarcommands.h"
#include "biff8writer.h"
#include "calendarsheet.h"
#include "sheetexport.h"

#include <QHash>

using Kind = Messages::Kind;

CalendarCommands::CalendarCommands(SchoolCalendar &calendar, Messages &messages,
                                   FileDialogs &dialogs, std::function<void()> refresh)
    : m_calendar(calendar), m_messages(messages), m_dialogs(dialogs), m_refresh(std::move(refresh))
{
}

bool CalendarCommands::run(const std::function<bool()> &fn)
{
    try {
        return fn();
    } catch (const CalendarError &e) {
        m_messages.typedOk(Kind::Warning, e.text());
    } catch (const AppError &e) {
        m_messages.generalError(e.text());
    }
    return false;
}

QList<QDate> CalendarCommands::range(const QString &first, const QString &last) const
{
    const QDate a = CalendarTexts::parseDate(first);
    if (!a.isValid())
        throw CalendarError(CalendarTexts::noSuchDate(first.trimmed()));
    QDate b = a;
    if (!last.trimmed().isEmpty()) {
        b = CalendarTexts::parseDate(last);
        if (!b.isValid())
            throw CalendarError(CalendarTexts::noSuchDate(last.trimmed()));
    }
    // A range typed backwards is most likely a slip in one of the dates:
    // marking whatever lies between could touch days nobody meant.
    if (b < a)
        throw CalendarError(QStringLiteral("结束日期 %1 早于开始日期 %2，没有标记。请把较早的一天填在“从”，较晚的一天填在“到”。")
                                .arg(CalendarTexts::dateKey(b), CalendarTexts::dateKey(a)));
    const QDate from = a, to = b;
    if (from.daysTo(to) >= kMaxRangeDays)
        throw CalendarError(QStringLiteral("一次最多标记 %1 天。").arg(kMaxRangeDays));
    QList<QDate> out;
    for (QDate d = from; d <= to; d = d.addDays(1))
        out << d;
    return out;
}

bool CalendarCommands::mayReplace(const QList<CalendarDay> &incoming)
{
    if (incoming.isEmpty())
        return true;
    QHash<QDate, CalendarDay> old;
    for (const CalendarDay &d : m_calendar.days().days(incoming.first().date, incoming.last().date))
        old.insert(d.date, d);
    QList<CalendarDay> clash;
    for (const CalendarDay &d : incoming)
        if (old.contains(d.date) && old[d.date] != d)
            clash << old[d.date];
    if (clash.isEmpty())
        return true;
    const CalendarDay &c = clash.first();
    const QString text = clash.size() == 1
        ? QStringLiteral("%1 已标为“%2”。是否替换？").arg(CalendarTexts::dateKey(c.date), c.panelText())
        : QStringLiteral("其中 %1 天已有标记（例如 %2 %3）。是否全部替换？")
              .arg(clash.size())
              .arg(CalendarTexts::dateKey(c.date), c.panelText());
    return m_messages.yesNo(Kind::Confirm, text) == Messages::Answer::Yes;
}

bool CalendarCommands::mark(const QString &first, const QString &last, const QString &kind,
                            const QString &weekday, const QString &remark)
{
    return run([&] {
        const QList<QDate> dates = range(first, last);
        QList<CalendarDay> days;
        for (const QDate &d : dates)
            days << CalendarDay::fromTexts(CalendarTexts::dateKey(d), kind, weekday, remark);
        if (!mayReplace(days))
            return false;
        m_calendar.days().put(days);
        m_refresh();
        return true;
    });
}

bool CalendarCommands::unmark(const QString &first, const QString &last)
{
    return run([&] {
        const QList<QDate> dates = range(first, last);
        if (m_calendar.days().days(dates.first(), dates.last()).isEmpty())
            throw CalendarError(QStringLiteral("所选日期没有标记。"));
        m_calendar.days().remove(dates);
        m_refresh();
        return true;
    });
}

bool CalendarCommands::saveCurrentAs(const QString &name)
{
    return run([&] {
        // The saved timetable is the list that rings: without the mark the
        // next switch would keep the list under a name of its own and the
        // saved one would miss every bell added after it. Where another one
        // is current, the operator chooses which one the list belongs to.
        m_calendar.timetables().checkName(name, -1); // before any question
        const std::optional<Timetable> cur = m_calendar.timetables().current();
        bool becomeCurrent = true;
        if (cur) {
            const QString text =
                QStringLiteral("把现在的打铃列表另存为“%1”，并改用“%1”作为正在使用的作息方案吗？\n"
                               "选“是”：“%2”保留现在的列表，以后的修改随“%1”保存。\n"
                               "选“否”：只保存一份副本，“%2”仍是正在使用的作息方案。")
                    .arg(name.trimmed(), cur->name);
            becomeCurrent = m_messages.yesNo(Kind::Confirm, text) == Messages::Answer::Yes;
        }
        m_calendar.timetables().saveCurrentAs(name, becomeCurrent);
        if (becomeCurrent)
            m_refresh(); // the window names the timetable in use
        return true;
    });
}

namespace {

Timetable chosen(TimetableStore &store, qint64 id)
{
    const std::optional<Timetable> t = store.byId(id);
    if (!t)
        throw CalendarError(QStringLiteral("请先在列表中选择一个作息方案。"));
    return *t;
}

} // namespace

bool CalendarCommands::rename(qint64 id, const QString &name)
{
    return run([&] {
        chosen(m_calendar.timetables(), id);
        m_calendar.timetables().rename(id, name);
        return true;
    });
}

bool CalendarCommands::remove(qint64 id)
{
    return run([&] {
        const std::optional<Timetable> t = chosen(m_calendar.timetables(), id);
        if (!t->current
            && m_messages.yesNo(Kind::Confirm, QStringLiteral("确定删除作息方案“%1”吗？").arg(t->name))
                != Messages::Answer::Yes)
            return false;
        m_calendar.timetables().remove(id);
        return true;
    });
}

bool CalendarCommands::setStartDay(qint64 id, const QString &monthDay)
{
    return run([&] {
        chosen(m_calendar.timetables(), id);
        m_calendar.timetables().setStartDay(id, monthDay);
        return true;
    });
}

bool CalendarCommands::switchNow(qint64 id)
{
    return run([&] {
        TimetableStore &store = m_calendar.timetables();
        const std::optional<Timetable> target = chosen(store, id);
        if (target->current)
            throw CalendarError(QStringLiteral("“%1”已经是正在使用的作息方案。").arg(target->name));
        const std::optional<Timetable> cur = store.current();
        const QString from = cur ? cur->name : TimetableStore::kCurrentName;
        const QString text =
            QStringLiteral("确定从“%1”切换到“%2”吗？\n现在的打铃列表保存到“%1”，换成“%2”的 %3 条铃声。")
                .arg(from, target->name)
                .arg(target->entries);
        if (m_messages.yesNo(Kind::Confirm, text) != Messages::Answer::Yes)
            return false;
        store.switchTo(id);
        m_refresh();
        return true;
    });
}

bool CalendarCommands::importSheet()
{
    return run([&] {
        const std::optional<QString> path = m_dialogs.openFile(QString());
        if (!path)
            return false;
        const QList<CalendarDay> days = CalendarSheet::parse(readSheetFile(*path));
        // Sorted, so that the question reads the first clash.
        QList<CalendarDay> sorted = days;
        std::sort(sorted.begin(), sorted.end(),
                  [](const CalendarDay &a, const CalendarDay &b) { return a.date < b.date; });
        if (!mayReplace(sorted))
            return false;
        m_calendar.days().put(sorted);
        m_refresh();
        m_messages.typedOk(Kind::Information, QStringLiteral("已导入 %1 天校历。").arg(sorted.size()));
        return true;
    });
}

bool CalendarCommands::exportSheet()
{
    return run([&] {
        const QList<CalendarDay> days = m_calendar.days().allDays();
        if (days.isEmpty())
            throw CalendarError(QStringLiteral("校历中还没有标记的日期。"));
        const std::optional<QString> chosen = m_dialogs.saveFile(CalendarSheet::proposedFileName());
        if (!chosen)
            return false;
        const QList<QStringList> rows = CalendarSheet::rows(days);
        writeBiff8File(SheetExport::withSuffix(*chosen), CalendarSheet::sheetName(), rows);
        // Told as the list's export tells it.
        m_messages.plain(SheetExport::savedText(rows));
        return true;
    });
}
