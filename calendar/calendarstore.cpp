#include "calendarstore.h"
#include "logging.h"

#include <QVariant>

using namespace storesql;

namespace {

bool hasTable(const QSqlDatabase &db)
{
    return db.tables().contains(QStringLiteral("rili"));
}

} // namespace

void CalendarStore::ensureTable() const
{
    QSqlQuery q(m_store.database());
    if (!q.exec(QStringLiteral("create table if not exists rili "
                               "(日期 text primary key, 类型 text, 按星期 text, 备注 text)")))
        fail(q);
}

QList<CalendarDay> CalendarStore::select(const QString &where, const QString &from,
                                         const QString &to) const
{
    const QSqlDatabase db = m_store.database();
    QSqlQuery q = prepared(db, QStringLiteral("select 日期, 类型, 按星期, 备注 from rili ") + where
                                   + QStringLiteral(" order by 日期"));
    if (!from.isNull()) {
        q.bindValue(QStringLiteral(":a"), from);
        q.bindValue(QStringLiteral(":b"), to);
    }
    exec(q);
    QList<CalendarDay> out;
    while (q.next()) {
        try {
            out << CalendarDay::fromTexts(q.value(0).toString(), q.value(1).toString(),
                                          q.value(2).toString(), q.value(3).toString());
        } catch (const CalendarError &e) {
            // A row written by another tool that means nothing is no mark.
            qCWarning(lcCalendar) << "calendar row" << q.value(0).toString() << "ignored:" << e.text();
        }
    }
    return out;
}

std::optional<CalendarDay> CalendarStore::day(const QDate &date) const
{
    const QList<CalendarDay> found = days(date, date);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

QList<CalendarDay> CalendarStore::days(const QDate &first, const QDate &last) const
{
    // Prepared before the table exists would fail; an older file has no marks.
    if (!hasTable(m_store.database()))
        return {};
    return select(QStringLiteral("where 日期 between :a and :b"), CalendarTexts::dateKey(first),
                  CalendarTexts::dateKey(last));
}

QList<CalendarDay> CalendarStore::allDays() const
{
    if (!hasTable(m_store.database()))
        return {};
    return select({}, {}, {});
}

void CalendarStore::put(const QList<CalendarDay> &days)
{
    ensureTable();
    const QSqlDatabase db = m_store.database();
    Transaction tx(db);
    QSqlQuery q = prepared(db, QStringLiteral("insert or replace into rili (日期, 类型, 按星期, 备注) "
                                              "values (:d, :k, :w, :r)"));
    for (const CalendarDay &d : days) {
        q.bindValue(QStringLiteral(":d"), CalendarTexts::dateKey(d.date));
        q.bindValue(QStringLiteral(":k"), d.kindText());
        q.bindValue(QStringLiteral(":w"), d.weekdayText());
        q.bindValue(QStringLiteral(":r"), d.remark);
        exec(q);
    }
    tx.commit();
}

void CalendarStore::remove(const QList<QDate> &dates)
{
    if (!hasTable(m_store.database()))
        return;
    const QSqlDatabase db = m_store.database();
    Transaction tx(db);
    QSqlQuery q = prepared(db, QStringLiteral("delete from rili where 日期 = :d"));
    for (const QDate &d : dates) {
        q.bindValue(QStringLiteral(":d"), CalendarTexts::dateKey(d));
        exec(q);
    }
    tx.commit();
}
