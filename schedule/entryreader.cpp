#include "entryreader.h"

#include "logging.h"

#include <QSqlDriver>
#include <QVariant>
#include <sqlite3.h>

namespace {

QString text(sqlite3_stmt *st, int col)
{
    const void *p = sqlite3_column_text16(st, col);
    if (!p)
        return {}; // NULL reads as Qt SQL reads it: a null text
    return QString(static_cast<const QChar *>(p), sqlite3_column_bytes16(st, col) / 2);
}

} // namespace

std::optional<QList<BellEntry>> readEntriesDirect(const QSqlDatabase &db, const QString &pattern)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return std::nullopt;
    sqlite3 *conn = *static_cast<sqlite3 *const *>(handle.constData());
    if (!conn)
        return std::nullopt;
    static const QString sql = QStringLiteral(
        "select id, 时间, 名称, 音乐, 周期, 时长, 备注 from daling where 周期 like ?1 order by 时间");
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare16_v2(conn, sql.utf16(), int(sql.size() * 2), &st, nullptr) != SQLITE_OK) {
        qCDebug(lcStore) << "direct read not prepared:" << sqlite3_errmsg(conn);
        sqlite3_finalize(st);
        return std::nullopt;
    }
    sqlite3_bind_text16(st, 1, pattern.utf16(), int(pattern.size() * 2), SQLITE_TRANSIENT);
    QList<BellEntry> out;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        BellEntry e;
        e.id = sqlite3_column_int64(st, 0);
        // Checked as read: a text "08:00" would otherwise read as 0 and a -1
        // or 86400 pass for a time.
        const int type = sqlite3_column_type(st, 1);
        const double real = type == SQLITE_FLOAT ? sqlite3_column_double(st, 1) : 0;
        e.time = type == SQLITE_INTEGER                          ? sqlite3_column_int64(st, 1)
            : type == SQLITE_FLOAT && real == double(qint64(real)) ? qint64(real)
                                                                   : BellEntry::kInvalidTime;
        if (!e.hasValidTime())
            e.time = BellEntry::kInvalidTime;
        e.name = text(st, 2);
        e.music = text(st, 3);
        e.weekdays = text(st, 4);
        e.duration = text(st, 5);
        e.remark = text(st, 6);
        out.append(std::move(e));
    }
    if (rc != SQLITE_DONE) {
        qCDebug(lcStore) << "direct read failed:" << sqlite3_errmsg(conn);
        sqlite3_finalize(st);
        return std::nullopt;
    }
    sqlite3_finalize(st);
    return out;
}
