#include "relaystore.h"

#include "bellstore.h"
#include "zonestore.h"

#include <QVariant>

using namespace storesql;

namespace {

// A null text binds as NULL, which the not-null columns refuse.
QString text(const QString &s)
{
    return s.isNull() ? QString(QLatin1String("")) : s;
}

// Kept sorted, each zone once, as the zones' own lists are.
QString zonesColumn(const QList<qint64> &zones)
{
    return text(zonestore::zonesText(zonestore::zonesFromText(zonestore::zonesText(zones))));
}

// Shared by both tables' checks: one text per rule.
void checkCommon(const QString &name, const QString &driver, const QString &address, int channel,
                 bool needsInputs)
{
    if (name.trimmed().isEmpty())
        throw StoreError(QStringLiteral("请填写名称。"));
    const RelayAddress a = RelayAddress::parse(driver, address);
    if (needsInputs && !a.canReadInputs())
        throw StoreError(QStringLiteral("命令驱动不能读取消防信号，请选择 Modbus 或 GPIO。"));
    const int max = RelayAddress::maxChannel(a.kind);
    if (channel < 0 || channel > max)
        throw StoreError(QStringLiteral("通道应在 0 到 %1 之间（从 0 开始计数）。").arg(max));
}

void usedName(const QString &name)
{
    throw StoreError(QStringLiteral("名称“%1”已经使用，请换一个名称。").arg(name));
}

void bindRelay(QSqlQuery &q, const Relay &r)
{
    q.bindValue(QStringLiteral(":n"), r.name.trimmed());
    q.bindValue(QStringLiteral(":d"), r.driver.trimmed().toLower());
    q.bindValue(QStringLiteral(":a"), r.address.trimmed());
    q.bindValue(QStringLiteral(":c"), r.channel);
    q.bindValue(QStringLiteral(":z"), zonesColumn(r.zones));
    q.bindValue(QStringLiteral(":p"), r.preMs);
    q.bindValue(QStringLiteral(":h"), r.holdMs);
    q.bindValue(QStringLiteral(":o"), r.order);
}

void bindInput(QSqlQuery &q, const FireInput &f)
{
    q.bindValue(QStringLiteral(":n"), f.name.trimmed());
    q.bindValue(QStringLiteral(":d"), f.driver.trimmed().toLower());
    q.bindValue(QStringLiteral(":a"), f.address.trimmed());
    q.bindValue(QStringLiteral(":c"), f.channel);
    q.bindValue(QStringLiteral(":m"), text(f.music.trimmed()));
    q.bindValue(QStringLiteral(":z"), zonesColumn(f.zones));
    q.bindValue(QStringLiteral(":e"), f.endOnOpen ? 1 : 0);
}

} // namespace

void RelayStore::ensureTables(QSqlDatabase db)
{
    QSqlQuery q(db);
    for (const char *sql : {
             "create table if not exists gongfang (id integer primary key, 名称 text unique not null, "
             "驱动 text not null, 地址 text not null, 通道 integer not null, 分区 text not null default '', "
             "预开 integer not null default 3000, 保持 integer not null default 60000, "
             "顺序 integer not null default 0)",
             "create table if not exists xiaofang (id integer primary key, 名称 text unique not null, "
             "驱动 text not null, 地址 text not null, 通道 integer not null, 音乐 text not null default '', "
             "分区 text not null default '', 断开结束 integer not null default 1)"})
        if (!q.exec(QString::fromUtf8(sql)))
            fail(q);
}

QList<Relay> RelayStore::relays() const
{
    QSqlQuery q(m_store.database());
    QList<Relay> out;
    if (!q.exec(QStringLiteral("select id, 名称, 驱动, 地址, 通道, 分区, 预开, 保持, 顺序 from gongfang "
                               "order by 顺序, 名称")))
        return out;
    while (q.next())
        out << Relay{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                     q.value(3).toString(), q.value(4).toInt(),
                     zonestore::zonesFromText(q.value(5).toString()), q.value(6).toInt(),
                     q.value(7).toInt(), q.value(8).toInt()};
    return out;
}

void RelayStore::check(const Relay &relay) const
{
    checkCommon(relay.name, relay.driver, relay.address, relay.channel, false);
    if (relay.preMs < 0 || relay.preMs > kMaxPreMs)
        throw StoreError(QStringLiteral("预开时间应在 0 到 %1 秒之间。").arg(kMaxPreMs / 1000));
    if (relay.holdMs < 0 || relay.holdMs > kMaxHoldMs)
        throw StoreError(QStringLiteral("保持时间应在 0 到 %1 秒之间。").arg(kMaxHoldMs / 1000));
    if (relay.order < 0)
        throw StoreError(QStringLiteral("顺序应为 0 或正整数。"));
    for (const Relay &r : relays())
        if (r.id != relay.id && r.name == relay.name.trimmed())
            usedName(r.name);
}

void RelayStore::check(const FireInput &input) const
{
    checkCommon(input.name, input.driver, input.address, input.channel, true);
    for (const FireInput &f : fireInputs())
        if (f.id != input.id && f.name == input.name.trimmed())
            usedName(f.name);
}

qint64 RelayStore::addRelay(const Relay &relay)
{
    ensureTables(m_store.database());
    check(relay);
    QSqlQuery q = prepared(m_store.database(),
                           QStringLiteral("insert into gongfang (名称, 驱动, 地址, 通道, 分区, 预开, 保持, 顺序) "
                                          "values (:n, :d, :a, :c, :z, :p, :h, :o)"));
    bindRelay(q, relay);
    exec(q);
    return q.lastInsertId().toLongLong();
}

void RelayStore::updateRelay(const Relay &relay)
{
    ensureTables(m_store.database());
    check(relay);
    QSqlQuery q = prepared(m_store.database(),
                           QStringLiteral("update gongfang set 名称 = :n, 驱动 = :d, 地址 = :a, 通道 = :c, "
                                          "分区 = :z, 预开 = :p, 保持 = :h, 顺序 = :o where id = :id"));
    bindRelay(q, relay);
    q.bindValue(QStringLiteral(":id"), relay.id);
    exec(q);
    if (q.numRowsAffected() < 1)
        throw StoreError(QStringLiteral("该功放电源已不存在。"));
}

void RelayStore::removeRelay(qint64 id)
{
    ensureTables(m_store.database());
    QSqlQuery q = prepared(m_store.database(), QStringLiteral("delete from gongfang where id = :id"));
    q.bindValue(QStringLiteral(":id"), id);
    exec(q);
}

QList<FireInput> RelayStore::fireInputs() const
{
    QSqlQuery q(m_store.database());
    QList<FireInput> out;
    if (!q.exec(QStringLiteral("select id, 名称, 驱动, 地址, 通道, 音乐, 分区, 断开结束 from xiaofang "
                               "order by 名称")))
        return out;
    while (q.next())
        out << FireInput{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                         q.value(3).toString(), q.value(4).toInt(), q.value(5).toString(),
                         zonestore::zonesFromText(q.value(6).toString()), q.value(7).toInt() != 0};
    return out;
}

qint64 RelayStore::addFireInput(const FireInput &input)
{
    ensureTables(m_store.database());
    check(input);
    QSqlQuery q = prepared(m_store.database(),
                           QStringLiteral("insert into xiaofang (名称, 驱动, 地址, 通道, 音乐, 分区, 断开结束) "
                                          "values (:n, :d, :a, :c, :m, :z, :e)"));
    bindInput(q, input);
    exec(q);
    return q.lastInsertId().toLongLong();
}

void RelayStore::updateFireInput(const FireInput &input)
{
    ensureTables(m_store.database());
    check(input);
    QSqlQuery q = prepared(m_store.database(),
                           QStringLiteral("update xiaofang set 名称 = :n, 驱动 = :d, 地址 = :a, 通道 = :c, "
                                          "音乐 = :m, 分区 = :z, 断开结束 = :e where id = :id"));
    bindInput(q, input);
    q.bindValue(QStringLiteral(":id"), input.id);
    exec(q);
    if (q.numRowsAffected() < 1)
        throw StoreError(QStringLiteral("该消防输入已不存在。"));
}

void RelayStore::removeFireInput(qint64 id)
{
    ensureTables(m_store.database());
    QSqlQuery q = prepared(m_store.database(), QStringLiteral("delete from xiaofang where id = :id"));
    q.bindValue(QStringLiteral(":id"), id);
    exec(q);
}
