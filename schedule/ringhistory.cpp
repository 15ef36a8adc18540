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

bool RingHistory::hasZoneColumn() const
{
    return m_store.database().record(QStringLiteral("jilu")).contains(QStringLiteral("分区"));
}

void RingHistory::ensureTable()
{
    QSqlQuery q(m_store.database());
    if (!q.exec(QStringLiteral(
            "create table if not exists jilu (id integer primary key autoincrement, 日期 text, "
            "时间 integer, 名称 text, 音乐 text, 结果 text, 延迟 integer, 说明 text, 分区 text)")))
        storesql::fail(q);
    // Made before bells had zones: the records get their column.
    if (!hasZoneColumn() && !q.exec(QStringLiteral("alter table jilu add column 分区 text")))
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
        db, update ? QStringLiteral("update jilu set 结果 = :r, 延迟 = :y, 说明 = :s "
                                    "where id = :id and 日期 = :d and 时间 = :t and 名称 = :n")
                   : QStringLiteral("insert into jilu (日期, 时间, 名称, 音乐, 结果, 延迟, 说明, 分区) "
                                    "values (:d, :t, :n, :m, :r, :y, :s, :z)"));
    q.bindValue(QStringLiteral(":d"), dateText(r.date));
    q.bindValue(QStringLiteral(":t"), r.time);
    q.bindValue(QStringLiteral(":n"), r.name);
    if (update) {
        q.bindValue(QStringLiteral(":id"), r.id);
    } else {
        q.bindValue(QStringLiteral(":m"), r.music);
        q.bindValue(QStringLiteral(":z"), r.zones);
    }
    q.bindValue(QStringLiteral(":y"), r.delayMs ? QVariant(*r.delayMs) : QVariant());
    q.bindValue(QStringLiteral(":r"), bellstatus::text(r.result));
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
        it = !it->dirty && !it->kept && it.key() < m_nextHandle - kKeepWritten ? m_items.erase(it)
                                                                               : std::next(it);
    if (queued() == 0) {
        m_lastError.clear();
        removeWaitingFiles();
    }
    return queued() == 0;
}

QList<RingRecord> RingHistory::between(const QDate &from, const QDate &to) const
{
    const QSqlDatabase db = m_store.database();
    if (!db.tables().contains(QStringLiteral("jilu")))
        return {};
    QSqlQuery q = storesql::prepared(
        db, QStringLiteral("select id, 日期, 时间, 名称, 音乐, 结果, 延迟, 说明, %1 from jilu "
                           "where 日期 >= :a and 日期 <= :b order by 日期, 时间, id")
                .arg(hasZoneColumn() ? QStringLiteral("分区") : QStringLiteral("''")));
    q.bindValue(QStringLiteral(":a"), dateText(from));
    q.bindValue(QStringLiteral(":b"), dateText(to));
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
        out << r;
    }
    return out;
}

BellStatus DayOutcomes::of(qint64 seconds, const QString &name) const
{
    const auto it = byBell.constFind({seconds, name});
    if (it != byBell.constEnd())
        return *it;
    return soundedSeconds.contains(seconds) ? BellStatus::Done : BellStatus::Passed;
}

DayOutcomes RingHistory::outcomes(const QDate &date) const
{
    QList<RingRecord> records = day(date);
    // Queued records hold what the store does not have yet: new ones, and
    // the amended outcome of a written one.
    QHash<qint64, int> byId;
    for (int i = 0; i < records.size(); ++i)
        byId.insert(records[i].id, i);
    for (const Item &item : m_items) {
        if (!item.dirty || item.rec.date != date)
            continue;
        const int at = item.rec.id ? int(byId.value(item.rec.id, -1)) : -1;
        if (at >= 0)
            records[at] = item.rec;
        else
            records << item.rec;
    }
    DayOutcomes out;
    for (const RingRecord &r : std::as_const(records)) {
        out.byBell.insert({r.time, r.name}, r.result);
        if (r.result == BellStatus::Done || r.result == BellStatus::Interrupted)
            out.soundedSeconds.insert(r.time);
    }
    return out;
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
