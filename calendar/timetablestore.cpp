#include "timetablestore.h"

#include "zonestore.h"

#include <QRegularExpression>
#include <QSqlRecord>
#include <QVariant>

using namespace storesql;

namespace {

const QString kTimetableColumns = QStringLiteral("时间, 名称, 音乐, 周期, 时长, 备注");
// A copy of the list keeps each bell's zones as text in 分区 ("1,3").
const QString kKeptColumns = kTimetableColumns + QStringLiteral(", 分区");
const QString kFromDaling = kTimetableColumns
    + QStringLiteral(", (select group_concat(分区) from ling_fenqu where 铃声 = daling.id)");

QString nameUsed(const QString &name)
{
    return QStringLiteral("作息方案名称“%1”已经使用，请换一个名称。").arg(name);
}

} // namespace

void TimetableStore::ensureTables() const
{
    QSqlQuery q(m_store.database());
    if (!q.exec(QStringLiteral("create table if not exists fangan (id integer primary key "
                               "autoincrement, 名称 text unique, 启用日 text, 当前 integer)"))
        || !q.exec(QStringLiteral("create table if not exists fangan_ling (id integer primary key "
                                  "autoincrement, 方案 integer, 时间 integer, 名称 text, 音乐 text, "
                                  "周期 text, 时长 text, 备注 text, 分区 text)")))
        fail(q);
    // Made before bells had zones: the copies get their column.
    if (!m_store.database().record(QStringLiteral("fangan_ling")).contains(QStringLiteral("分区"))
        && !q.exec(QStringLiteral("alter table fangan_ling add column 分区 text")))
        fail(q);
    zonestore::ensureTables(m_store.database());
}

QList<Timetable> TimetableStore::list() const
{
    const QSqlDatabase db = m_store.database();
    if (!db.tables().contains(QStringLiteral("fangan")))
        return {};
    ensureTables(); // fangan_ling too, for a file another tool left half made
    QSqlQuery q = prepared(
        db, QStringLiteral("select f.id, f.名称, f.启用日, f.当前, "
                           "case when f.当前 = 1 then (select count(*) from daling) "
                           "else (select count(*) from fangan_ling l where l.方案 = f.id) end "
                           "from fangan f order by f.名称"));
    exec(q);
    QList<Timetable> out;
    while (q.next())
        out << Timetable{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                         q.value(3).toInt() == 1, q.value(4).toLongLong()};
    return out;
}

std::optional<Timetable> TimetableStore::byId(qint64 id) const
{
    for (const Timetable &t : list())
        if (t.id == id)
            return t;
    return std::nullopt;
}

std::optional<Timetable> TimetableStore::current() const
{
    for (const Timetable &t : list())
        if (t.current)
            return t;
    return std::nullopt;
}

void TimetableStore::checkName(const QString &name, qint64 except) const
{
    if (name.trimmed().isEmpty())
        throw CalendarError(QStringLiteral("请填写作息方案的名称。"));
    for (const Timetable &t : list())
        if (t.name == name.trimmed() && t.id != except)
            throw CalendarError(nameUsed(name.trimmed()));
}

qint64 TimetableStore::saveCurrentAs(const QString &name, bool becomeCurrent)
{
    ensureTables();
    checkName(name, -1);
    const QSqlDatabase db = m_store.database();
    Transaction tx(db);
    QSqlQuery ins = prepared(db, QStringLiteral("insert into fangan (名称, 启用日, 当前) values (:n, '', 0)"));
    ins.bindValue(QStringLiteral(":n"), name.trimmed());
    exec(ins);
    const qint64 id = ins.lastInsertId().toLongLong();
    QSqlQuery copy = prepared(db, QStringLiteral("insert into fangan_ling (方案, %1) select :id, %2 "
                                                 "from daling order by 时间, id")
                                      .arg(kKeptColumns, kFromDaling));
    copy.bindValue(QStringLiteral(":id"), id);
    exec(copy);
    if (becomeCurrent) {
        // The timetable current so far keeps the list it rang until now.
        for (const QString &sql :
             {QStringLiteral("delete from fangan_ling where 方案 in (select id from fangan where 当前 = 1)"),
              QStringLiteral("insert into fangan_ling (方案, %1) select (select id from fangan where "
                             "当前 = 1), %2 from daling where exists (select 1 from fangan where 当前 = 1) "
                             "order by 时间, id")
                  .arg(kKeptColumns, kFromDaling),
              QStringLiteral("update fangan set 当前 = case when id = :id then 1 else 0 end")}) {
            QSqlQuery q = prepared(db, sql);
            if (sql.contains(QStringLiteral(":id")))
                q.bindValue(QStringLiteral(":id"), id);
            exec(q);
        }
    }
    tx.commit();
    return id;
}

void TimetableStore::rename(qint64 id, const QString &name)
{
    ensureTables();
    checkName(name, id);
    QSqlQuery q = prepared(m_store.database(), QStringLiteral("update fangan set 名称 = :n where id = :id"));
    q.bindValue(QStringLiteral(":n"), name.trimmed());
    q.bindValue(QStringLiteral(":id"), id);
    exec(q);
}

void TimetableStore::remove(qint64 id)
{
    const std::optional<Timetable> t = byId(id);
    if (!t)
        return;
    if (t->current)
        throw CalendarError(
            QStringLiteral("“%1”是正在使用的作息方案，不能删除。请先切换到其他方案。").arg(t->name));
    const QSqlDatabase db = m_store.database();
    Transaction tx(db);
    for (const QString &sql : {QStringLiteral("delete from fangan_ling where 方案 = :id"),
                               QStringLiteral("delete from fangan where id = :id")}) {
        QSqlQuery q = prepared(db, sql);
        q.bindValue(QStringLiteral(":id"), id);
        exec(q);
    }
    tx.commit();
}

QString TimetableStore::normalStartDay(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d{1,2})\\s*[-/.月]\\s*(\\d{1,2})\\s*日?\\s*$"));
    const auto m = re.match(text);
    // 2000 is a leap year: 02-29 is a day some years have.
    if (!m.hasMatch() || !QDate(2000, m.captured(1).toInt(), m.captured(2).toInt()).isValid())
        return {};
    return QDate(2000, m.captured(1).toInt(), m.captured(2).toInt()).toString(QStringLiteral("MM-dd"));
}

void TimetableStore::setStartDay(qint64 id, const QString &monthDay)
{
    QString value = QStringLiteral(""); // not null: the column holds text
    if (!monthDay.trimmed().isEmpty()) {
        value = normalStartDay(monthDay);
        if (value.isNull())
            throw CalendarError(
                QStringLiteral("启用日“%1”不存在，请按“月-日”填写，例如 05-01。").arg(monthDay.trimmed()));
    }
    ensureTables();
    QSqlQuery q = prepared(m_store.database(), QStringLiteral("update fangan set 启用日 = :d where id = :id"));
    q.bindValue(QStringLiteral(":d"), value);
    q.bindValue(QStringLiteral(":id"), id);
    exec(q);
}

void TimetableStore::switchTo(qint64 id)
{
    ensureTables();
    const std::optional<Timetable> target = byId(id);
    if (!target)
        throw CalendarError(QStringLiteral("该作息方案已不存在。"));
    if (target->current)
        return;
    m_store.listAboutToBeReplaced();
    const QSqlDatabase db = m_store.database();
    Transaction tx(db);
    const auto run = [&](const QString &sql, const QVariantMap &bind = {}) {
        QSqlQuery q = prepared(db, sql);
        for (auto it = bind.begin(); it != bind.end(); ++it)
            q.bindValue(it.key(), it.value());
        exec(q);
        return q;
    };
    qint64 cur = 0;
    if (QSqlQuery q = run(QStringLiteral("select id from fangan where 当前 = 1")); q.next())
        cur = q.value(0).toLongLong();
    if (cur == 0) {
        // The list that rang before any timetable was current is kept under a
        // name of its own, never lost by the switch.
        QString name = kCurrentName;
        for (int n = 2; run(QStringLiteral("select 1 from fangan where 名称 = :n"), {{":n", name}}).next(); ++n)
            name = kCurrentName + QString::number(n);
        cur = run(QStringLiteral("insert into fangan (名称, 启用日, 当前) values (:n, '', 1)"), {{":n", name}})
                  .lastInsertId()
                  .toLongLong();
    }
    run(QStringLiteral("delete from fangan_ling where 方案 = :id"), {{":id", cur}});
    run(QStringLiteral("insert into fangan_ling (方案, %1) select :id, %2 from daling order by 时间, id")
            .arg(kKeptColumns, kFromDaling),
        {{":id", cur}});
    run(QStringLiteral("delete from daling"));
    run(QStringLiteral("insert into daling (%1) select %1 from fangan_ling where 方案 = :id order by id")
            .arg(kTimetableColumns),
        {{":id", id}});
    // daling was emptied above: its new rows came in the copies' order, so
    // the n-th new bell is the n-th copy.
    QSqlQuery kept = run(QStringLiteral("select 分区 from fangan_ling where 方案 = :id order by id"), {{":id", id}});
    QSqlQuery bells = run(QStringLiteral("select id from daling order by id"));
    while (kept.next() && bells.next())
        if (const QList<qint64> zones = zonestore::zonesFromText(kept.value(0).toString()); !zones.isEmpty())
            zonestore::setBellZones(db, bells.value(0).toLongLong(), zones);
    run(QStringLiteral("update fangan set 当前 = case when id = :id then 1 else 0 end"), {{":id", id}});
    tx.commit();
}
