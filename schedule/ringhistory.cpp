#include "ringhistory.h"
#include "logging.h"
#include "secondsofday.h"

#include <QScopeGuard>
#include <QSqlRecord>
#include <QVariant>

namespace {

// Written records are kept this long for amend(): only the bell sounding
// now can still be cut off.
constexpr int kKeepWritten = 8;

} // namespace

QString RingHistory::describe(const RingRecord &r)
{
    return QStringLiteral("%1 %2 %3 %4").arg(RingHistory::dateText(r.date), inttotime(r.time), r.name,
                                             bellstatus::text(r.result));
}

int RingHistory::record(const RingRecord &r)
{
    const int handle = m_nextHandle++;
    m_items.insert(handle, Item{r, true});
    // A store that cannot be written must not grow the queue without end.
    while (m_items.size() > kMaxQueued) {
        if (m_items.begin()->dirty)
            qCWarning(lcStore).noquote() << "ring record dropped, too many waiting:"
                                         << describe(m_items.begin()->rec);
        m_items.erase(m_items.begin());
    }
    return handle;
}

void RingHistory::amend(int handle, BellStatus result, const QString &reason)
{
    const auto it = m_items.find(handle);
    if (it == m_items.end())
        return;
    it->rec.result = result;
    it->rec.reason = reason;
    it->dirty = true;
}

void RingHistory::ended(int handle)
{
    const auto it = m_items.find(handle);
    if (it == m_items.end() || !it->rec.sounding)
        return;
    it->rec.sounding = false;
    it->dirty = true;
}

void RingHistory::amendDelay(int handle, qint64 delayMs)
{
    const auto it = m_items.find(handle);
    if (it == m_items.end())
        return;
    it->rec.delayMs = delayMs;
    it->dirty = true;
}

void RingHistory::keep(int handle, bool on)
{
    if (const auto it = m_items.find(handle); it != m_items.end())
        it->kept = on;
}

int RingHistory::queued() const
{
    int n = 0;
    for (const Item &i : m_items)
        n += i.dirty;
    return n;
}

bool RingHistory::hasColumn(const QString &name) const
{
    return m_store.database().record(QStringLiteral("jilu")).contains(name);
}

void RingHistory::ensureTable()
{
    QSqlQuery q(m_store.database());
    if (!q.exec(QStringLiteral(
            "create table if not exists jilu (id integer primary key autoincrement, 日期 text, "
            "时间 integer, 名称 text, 音乐 text, 结果 text, 延迟 integer, 说明 text, 分区 text, "
            "播放中 integer, 条目 integer)")))
        storesql::fail(q);
    // Made before bells had zones, before a record told that its bell
    // still sounds, or before it named its entry: the records get their
    // columns (the old ones stay without an entry).
    if (!hasColumn(kZoneColumn) && !q.exec(QStringLiteral("alter table jilu add column 分区 text")))
        storesql::fail(q);
    if (!hasColumn(kSoundingColumn) && !q.exec(QStringLiteral("alter table jilu add column 播放中 integer")))
        storesql::fail(q);
    if (!hasColumn(kEntryColumn) && !q.exec(QStringLiteral("alter table jilu add column 条目 integer")))
        storesql::fail(q);
    // A reload of the day's list may read the day's records.
    if (!q.exec(QStringLiteral("create index if not exists jilu_riqi on jilu (日期)")))
        storesql::fail(q);
}

bool RingHistory::write(Item &item)
{
    RingRecord &r = item.rec;
    const QSqlDatabase db = m_store.database();
    // An amended record updates its row, when that row is still the same
    // bell's (the file may have been put back from a copy meanwhile).
    const bool update = r.id != 0;
    QSqlQuery q = storesql::prepared(
        db, update ? QStringLiteral("update jilu set 结果 = :r, 延迟 = :y, 说明 = :s, 播放中 = :p "
                                    "where id = :id and 日期 = :d and 时间 = :t and 名称 = :n")
                   : QStringLiteral("insert into jilu (日期, 时间, 名称, 音乐, 结果, 延迟, 说明, 分区, 播放中, 条目) "
                                    "values (:d, :t, :n, :m, :r, :y, :s, :z, :p, :e)"));
    q.bindValue(QStringLiteral(":d"), dateText(r.date));
    q.bindValue(QStringLiteral(":t"), r.time);
    q.bindValue(QStringLiteral(":n"), r.name);
    if (update) {
        q.bindValue(QStringLiteral(":id"), r.id);
    } else {
        q.bindValue(QStringLiteral(":m"), r.music);
        q.bindValue(QStringLiteral(":z"), r.zones);
        q.bindValue(QStringLiteral(":e"), r.entryId ? QVariant(*r.entryId) : QVariant());
    }
    q.bindValue(QStringLiteral(":y"), r.delayMs ? QVariant(*r.delayMs) : QVariant());
    q.bindValue(QStringLiteral(":r"), bellstatus::text(r.result));
    // Until its bell has ended, a record says it still sounds.
    q.bindValue(QStringLiteral(":p"), r.sounding ? QVariant(1) : QVariant());
    q.bindValue(QStringLiteral(":s"), r.reason);
    // One statement in autocommit: its own short transaction.
    if (!q.exec()) {
        m_lastError = q.lastError().databaseText();
        return false;
    }
    if (update && q.numRowsAffected() < 1) {
        r.id = 0; // its row is gone: written anew
        return write(item);
    }
    if (!update)
        r.id = q.lastInsertId().toLongLong();
    item.dirty = false;
    return true;
}

bool RingHistory::flush()
{
    const int before = queued();
    if (before == 0)
        return true;
    const auto tell = qScopeGuard([&] {
        if (queued() < before && onWritten)
            onWritten();
    });
    try {
        ensureTable();
        QSqlQuery pragma(m_store.database());
        // Another program holding the file must not hold up the clock for
        // the store's usual second: the record waits for the next flush.
        pragma.exec(QStringLiteral("PRAGMA busy_timeout = 50"));
        const auto restore = qScopeGuard([&] { pragma.exec(QStringLiteral("PRAGMA busy_timeout = 1000")); });
        for (Item &item : m_items)
            if (item.dirty && !write(item))
                break; // keep the order: the rest waits too
    } catch (const std::exception &e) {
        // Store closed or read-only: the records stay queued.
        qCWarning(lcStore) << "ring history not written, kept queued:" << e.what();
        m_lastError = QString::fromUtf8(e.what());
    }
    for (auto it = m_items.begin(); it != m_items.end();)
        it = !it->dirty && !it->kept && !it->rec.sounding && it.key() < m_nextHandle - kKeepWritten ? m_items.erase(it)
                                                                               : std::next(it);
    if (queued() == 0) {
        m_lastError.clear();
        removeWaitingFiles();
    }
    return queued() == 0;
}

QList<RingRecord> RingHistory::between(const QDate &from, const QDate &to) const
{
    return select(QStringLiteral("日期 >= :a and 日期 <= :b"),
                  {{QStringLiteral(":a"), dateText(from)}, {QStringLiteral(":b"), dateText(to)}});
}

QList<RingRecord> RingHistory::select(const QString &where, const QVariantMap &binds) const
{
    const QSqlDatabase db = m_store.database();
    if (!db.tables().contains(QStringLiteral("jilu")))
        return {};
    QSqlQuery q = storesql::prepared(
        db, QStringLiteral("select id, 日期, 时间, 名称, 音乐, 结果, 延迟, 说明, %1, %2, %3 from jilu "
                           "where %4 order by 日期, 时间, id")
                .arg(hasColumn(kZoneColumn) ? kZoneColumn : QStringLiteral("''"),
                     hasColumn(kSoundingColumn) ? kSoundingColumn : QStringLiteral("null"),
                     hasColumn(kEntryColumn) ? kEntryColumn : QStringLiteral("null"), where));
    for (auto it = binds.cbegin(); it != binds.cend(); ++it)
        q.bindValue(it.key(), it.value());
    storesql::exec(q);
    QList<RingRecord> out;
    while (q.next()) {
        RingRecord r;
        r.id = q.value(0).toLongLong();
        r.date = QDate::fromString(q.value(1).toString(), QStringLiteral("yyyy-MM-dd"));
        r.time = q.value(2).toLongLong();
        r.name = q.value(3).toString();
        r.music = q.value(4).toString();
        r.result = bellstatus::fromText(q.value(5).toString());
        if (!q.value(6).isNull())
            r.delayMs = q.value(6).toLongLong();
        r.reason = q.value(7).toString();
        r.zones = q.value(8).toString();
        r.sounding = q.value(9).toInt() == 1;
        if (!q.value(10).isNull())
            r.entryId = q.value(10).toLongLong();
        out << r;
    }
    return out;
}

BellStatus DayOutcomes::of(const BellKey &key, const QString &name) const
{
    if (const auto it = byKey.constFind(key); it != byKey.constEnd())
        return *it;
    if (const auto it = byBell.constFind({key.seconds, name}); it != byBell.constEnd())
        return *it;
    return soundedSeconds.contains(key.seconds) ? BellStatus::Done : BellStatus::Passed;
}

DayOutcomes RingHistory::outcomes(const QDate &date, const QSet<qint64> &listed) const
{
    QList<RingRecord> records = day(date);
    // This run's records know more than the store: new ones not written
    // yet, the amended outcome of a written one, and that a bell still
    // sounding is this run's own.
    QHash<qint64, int> byId;
    for (int i = 0; i < records.size(); ++i)
        byId.insert(records[i].id, i);
    for (const Item &item : m_items) {
        if (item.rec.date != date)
            continue;
        RingRecord own = item.rec;
        own.sounding = false;
        const int at = own.id ? int(byId.value(own.id, -1)) : -1;
        if (at >= 0) {
            // A record closed at start knows its row, not its entry.
            if (!own.entryId)
                own.entryId = records[at].entryId;
            records[at] = own;
        } else if (item.dirty) {
            records << own;
        }
    }
    DayOutcomes out;
    for (const RingRecord &r : std::as_const(records)) {
        // Left sounding by another run: it ended while the bell sounded.
        const BellStatus result = r.sounding ? BellStatus::Interrupted : r.result;
        if (r.entryId && listed.contains(*r.entryId))
            out.byKey.insert({*r.entryId, r.time}, result);
        else
            out.byBell.insert({r.time, r.name}, result);
        if (result == BellStatus::Done || result == BellStatus::Interrupted)
            out.soundedSeconds.insert(r.time);
    }
    return out;
}

int RingHistory::closeUnended()
{
    QList<RingRecord> open;
    try {
        if (!hasColumn(kSoundingColumn))
            return 0;
        // Whole, so that a row put back from a copy meanwhile is written
        // anew with its sound and zones.
        open = select(QStringLiteral("播放中 = 1"), {});
    } catch (const std::exception &e) {
        // The day's list still reads them 中断 (outcomes()).
        qCWarning(lcStore) << "records left sounding by the last run not read:" << e.what();
        return 0;
    }
    for (RingRecord &r : open) {
        r.result = BellStatus::Interrupted;
        r.reason = kCutReason;
        r.sounding = false;
        qCWarning(lcRing).noquote() << "bell cut by the last run's sudden end:" << describe(r);
        // Its id makes the write an update of that row: still one record.
        m_items.insert(m_nextHandle++, Item{r, true});
    }
    if (!open.isEmpty() && !flush())
        qCWarning(lcStore).noquote() << "closing the records left sounding waits for the store:" << lastError();
    return int(open.size());
}

int RingHistory::prune(const QDate &today)
{
    try {
        if (m_store.isReadOnly())
            return -1;
        ensureTable();
        QSqlQuery q = storesql::prepared(m_store.database(),
                                         QStringLiteral("delete from jilu where 日期 < :d"));
        q.bindValue(QStringLiteral(":d"), dateText(today.addDays(-kKeepDays)));
        storesql::exec(q);
        return q.numRowsAffected();
    } catch (const std::exception &e) {
        qCWarning(lcStore) << "old ring history not removed:" << e.what();
        return -1;
    }
}
