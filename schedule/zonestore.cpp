#include "zonestore.h"

#include "bellstore.h"

#include <QSet>
#include <QVariant>
#include <algorithm>

using namespace storesql;

namespace zonestore {

void ensureTables(QSqlDatabase db)
{
    QSqlQuery q(db);
    for (const char *sql : {
             "create table if not exists fenqu (id integer primary key, 名称 text unique not null, "
             "输出 text not null, 提前 integer not null default 0)",
             "create table if not exists ling_fenqu (铃声 integer, 分区 integer, primary key (铃声, 分区))",
             "create trigger if not exists ling_fenqu_bell after delete on daling begin "
             "delete from ling_fenqu where 铃声 = old.id; end",
             "create trigger if not exists ling_fenqu_zone after delete on fenqu begin "
             "delete from ling_fenqu where 分区 = old.id; end"})
        if (!q.exec(QString::fromUtf8(sql)))
            fail(q);
}

QHash<qint64, QList<qint64>> bellZones(QSqlDatabase db)
{
    QHash<qint64, QList<qint64>> out;
    QSqlQuery q(db);
    // A file that may only be read and was made before zones has no table:
    // its bells simply have none.
    if (!q.exec(QStringLiteral("select 铃声, 分区 from ling_fenqu order by 铃声, 分区")))
        return out;
    while (q.next())
        out[q.value(0).toLongLong()].append(q.value(1).toLongLong());
    return out;
}

void setBellZones(QSqlDatabase db, qint64 bell, const QList<qint64> &zones)
{
    QSqlQuery del = prepared(db, QStringLiteral("delete from ling_fenqu where 铃声 = :b"));
    del.bindValue(QStringLiteral(":b"), bell);
    exec(del);
    if (zones.isEmpty())
        return;
    QSqlQuery ins = prepared(db, QStringLiteral("insert or ignore into ling_fenqu (铃声, 分区) "
                                                "select :b, id from fenqu where id = :z"));
    for (qint64 z : zones) {
        ins.bindValue(QStringLiteral(":b"), bell);
        ins.bindValue(QStringLiteral(":z"), z);
        exec(ins);
    }
}

QString zonesText(const QList<qint64> &zones)
{
    QStringList parts;
    for (qint64 z : zones)
        parts << QString::number(z);
    return parts.join(u',');
}

QList<qint64> zonesFromText(const QString &text)
{
    QList<qint64> out;
    for (const QString &part : text.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const qint64 z = part.trimmed().toLongLong(&ok);
        if (ok && !out.contains(z))
            out << z;
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace zonestore

QList<Zone> ZoneStore::list() const
{
    QSqlQuery q(m_store.database());
    QList<Zone> out;
    if (!q.exec(QStringLiteral("select id, 名称, 输出, 提前 from fenqu order by 名称")))
        return out;
    while (q.next())
        out << Zone{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                    q.value(3).toInt()};
    return out;
}

void ZoneStore::check(const Zone &zone) const
{
    const QString name = zone.name.trimmed();
    if (name.isEmpty())
        throw StoreError(QStringLiteral("请填写分区名称。"));
    if (zone.output.trimmed().isEmpty())
        throw StoreError(QStringLiteral("请为分区“%1”选择声音输出。").arg(name));
    if (zone.leadMs < 0 || zone.leadMs > kMaxLeadMs)
        throw StoreError(QStringLiteral("提前时间应在 0 到 %1 毫秒之间。").arg(kMaxLeadMs));
    for (const Zone &z : list())
        if (z.id != zone.id && z.name == name)
            throw StoreError(QStringLiteral("分区名称“%1”已经使用，请换一个名称。").arg(name));
}

qint64 ZoneStore::add(const Zone &zone)
{
    zonestore::ensureTables(m_store.database());
    check(zone);
    QSqlQuery q = prepared(m_store.database(),
                           QStringLiteral("insert into fenqu (名称, 输出, 提前) values (:n, :o, :l)"));
    q.bindValue(QStringLiteral(":n"), zone.name.trimmed());
    q.bindValue(QStringLiteral(":o"), zone.output.trimmed());
    q.bindValue(QStringLiteral(":l"), zone.leadMs);
    exec(q);
    return q.lastInsertId().toLongLong();
}

void ZoneStore::update(const Zone &zone)
{
    check(zone);
    QSqlQuery q = prepared(m_store.database(),
                           QStringLiteral("update fenqu set 名称 = :n, 输出 = :o, 提前 = :l where id = :id"));
    q.bindValue(QStringLiteral(":n"), zone.name.trimmed());
    q.bindValue(QStringLiteral(":o"), zone.output.trimmed());
    q.bindValue(QStringLiteral(":l"), zone.leadMs);
    q.bindValue(QStringLiteral(":id"), zone.id);
    exec(q);
    if (q.numRowsAffected() < 1)
        throw StoreError(QStringLiteral("该分区已不存在。"));
}

void ZoneStore::remove(qint64 id)
{
    QSqlQuery q = prepared(m_store.database(), QStringLiteral("delete from fenqu where id = :id"));
    q.bindValue(QStringLiteral(":id"), id);
    exec(q);
}
