#include "bellstore.h"
#include "logging.h"
#include "zonestore.h"
#include "entryreader.h"
#include "storesql.h"

#include <QAtomicInt>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace {

QAtomicInt g_counter;

using storesql::exec;
using storesql::fail;
using storesql::prepared;

// Columns are read by name; the positions are looked up once per query.
struct EntryColumns {
    int id, time, name, music, days, dur, remark;
    explicit EntryColumns(const QSqlQuery &q)
    {
        const QSqlRecord r = q.record();
        id = r.indexOf(QStringLiteral("id"));
        time = r.indexOf(QStringLiteral("时间"));
        name = r.indexOf(QStringLiteral("名称"));
        music = r.indexOf(QStringLiteral("音乐"));
        days = r.indexOf(QStringLiteral("周期"));
        dur = r.indexOf(QStringLiteral("时长"));
        remark = r.indexOf(QStringLiteral("备注"));
    }
    BellEntry read(const QSqlQuery &q) const
    {
        BellEntry e;
        e.id = q.value(id).toLongLong();
        e.time = q.value(time).toLongLong();
        e.name = q.value(name).toString();
        e.music = q.value(music).toString();
        e.weekdays = q.value(days).toString();
        e.duration = q.value(dur).toString();
        e.remark = q.value(remark).toString();
        return e;
    }
};

// A null QString binds as SQL NULL, which "like '%'" never matches: an
// entry must always store text, empty or not.
QString text(const QString &s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

void bindEntry(QSqlQuery &q, const BellEntry &e)
{
    q.bindValue(QStringLiteral(":t"), e.time);
    q.bindValue(QStringLiteral(":name"), text(e.name));
    q.bindValue(QStringLiteral(":music"), text(e.music));
    q.bindValue(QStringLiteral(":days"), text(e.weekdays));
    q.bindValue(QStringLiteral(":dur"), text(e.duration));
    q.bindValue(QStringLiteral(":remark"), text(e.remark));
}

const QString kInsertEntry = QStringLiteral(
    "insert into daling (时间, 名称, 音乐, 周期, 时长, 备注) "
    "values (:t, :name, :music, :days, :dur, :remark)");

} // namespace

BellStore::BellStore()
    : m_name(QStringLiteral("daling-%1").arg(g_counter.fetchAndAddRelaxed(1)))
{
}

BellStore::~BellStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase BellStore::database() const
{
    requireOpen();
    return QSqlDatabase::database(m_name, false);
}

void BellStore::requireOpen() const
{
    if (!m_open)
        throw StoreError(m_openError.isEmpty() ? QStringLiteral("数据库未打开")
                                               : storetext::describe(m_openError));
}

QList<BellEntry> BellStore::list(const QString &xingqi) const
{
    requireOpen();
    // A null text binds as NULL, which the like of the statement never matches.
    if (!xingqi.isNull())
        if (std::optional<QList<BellEntry>> fast = readEntriesDirect(QSqlDatabase::database(m_name), xingqi))
            return withZones(*std::move(fast));
    QSqlQuery q = prepared(QSqlDatabase::database(m_name),
                           QStringLiteral("select * from daling  where  周期  like :xingqi  order by 时间"));
    q.bindValue(QStringLiteral(":xingqi"), xingqi);
    exec(q);
    const EntryColumns cols(q);
    QList<BellEntry> out;
    while (q.next()) {
        out.append(cols.read(q));
        // Checked as read: a text "08:00" would otherwise read as 0 and a
        // -1 or 86400 pass for a time.
        const QVariant t = q.value(cols.time);
        const bool integral = t.typeId() == QMetaType::LongLong || t.typeId() == QMetaType::Int
            || (t.typeId() == QMetaType::Double && t.toDouble() == double(t.toLongLong()));
        if (!integral || !out.last().hasValidTime())
            out.last().time = BellEntry::kInvalidTime;
    }
    return withZones(std::move(out));
}

QList<BellEntry> BellStore::withZones(QList<BellEntry> entries) const
{
    const QHash<qint64, QList<qint64>> zones = zonestore::bellZones(QSqlDatabase::database(m_name));
    if (!zones.isEmpty())
        for (BellEntry &e : entries)
            e.zones = zones.value(e.id);
    return entries;
}

std::optional<BellEntry> BellStore::entry(const QString &idText) const
{
    requireOpen();
    QSqlQuery q = prepared(QSqlDatabase::database(m_name),
                           QStringLiteral("select * from daling where id=:id"));
    q.bindValue(QStringLiteral(":id"), idText);
    exec(q);
    if (!q.next())
        return std::nullopt;
    BellEntry e = EntryColumns(q).read(q);
    e.zones = zonestore::bellZones(QSqlDatabase::database(m_name)).value(e.id);
    return e;
}

qint64 BellStore::insert(const BellEntry &entry)
{
    requireOpen();
    QSqlQuery q = prepared(QSqlDatabase::database(m_name), kInsertEntry);
    bindEntry(q, entry);
    exec(q);
    const qint64 id = q.lastInsertId().toLongLong();
    if (!entry.zones.isEmpty())
        zonestore::setBellZones(QSqlDatabase::database(m_name), id, entry.zones);
    return id;
}

void BellStore::update(const BellEntry &entry)
{
    requireOpen();
    QSqlQuery q = prepared(QSqlDatabase::database(m_name),
                           QStringLiteral("update daling set 时间=:t, 名称=:name, 音乐=:music, "
                                          "周期=:days, 时长=:dur, 备注=:remark where id=:id"));
    bindEntry(q, entry);
    q.bindValue(QStringLiteral(":id"), entry.id);
    exec(q);
    if (q.numRowsAffected() < 1)
        throw StoreError(QStringLiteral("该铃声记录已不存在，无法保存修改"));
    zonestore::setBellZones(QSqlDatabase::database(m_name), entry.id, entry.zones);
}

void BellStore::remove(const QString &idText)
{
    requireOpen();
    QSqlQuery q = prepared(QSqlDatabase::database(m_name),
                           QStringLiteral("delete from daling where id=:id"));
    q.bindValue(QStringLiteral(":id"), idText);
    exec(q);
    if (q.numRowsAffected() < 1)
        throw StoreError(QStringLiteral("所选行没有铃声记录，无法删除"));
}

qint64 BellStore::countBefore(qint64 time) const
{
    requireOpen();
    QSqlQuery q = prepared(QSqlDatabase::database(m_name),
                           QStringLiteral("select count(*) from daling where 时间<:t"));
    q.bindValue(QStringLiteral(":t"), time);
    exec(q);
    return q.next() ? q.value(0).toLongLong() : 0;
}

void BellStore::clear()
{
    requireOpen();
    listAboutToBeReplaced();
    QSqlQuery q(QSqlDatabase::database(m_name));
    if (!q.exec(QStringLiteral("delete  from daling")))
        fail(q);
}

void BellStore::replaceAll(const QList<BellEntry> &entries,
                           const std::function<void(int)> &perRow)
{
    requireOpen();
    listAboutToBeReplaced();
    QSqlDatabase db = QSqlDatabase::database(m_name);
    storesql::Transaction tx(db);
    QSqlQuery del(db);
    if (!del.exec(QStringLiteral("delete  from daling")))
        fail(del);
    QSqlQuery q = prepared(db, kInsertEntry);
    for (int i = 0; i < entries.size(); ++i) {
        bindEntry(q, entries[i]);
        exec(q);
        if (!entries[i].zones.isEmpty())
            zonestore::setBellZones(db, q.lastInsertId().toLongLong(), entries[i].zones);
        if (perRow)
            perRow(i);
    }
    tx.commit();
}
