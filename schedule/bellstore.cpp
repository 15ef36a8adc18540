#include "bellstore.h"
#include "logging.h"
#include "weekdaytext.h"
#include "zonestore.h"
#include "entryreader.h"
#include "storesql.h"

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUrl>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <sqlite3.h>
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

namespace {

// access() rather than the permission bits: it also knows a read-only mount.
bool writable(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}


// SQLite opens the store by its path and would follow a symbolic link there:
// a link planted as data/dbDaLing.db would lead our tables into another
// file. So the path is checked first, a new store is made here without
// following a link and given its mode on its descriptor, and once SQLite has
// opened it the path must still name the same file.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool known = false;
};

QString notAPlainFile(const QString &path)
{
    qCWarning(lcStore).noquote() << "refused: not a regular file (a symbolic link?):" << path;
    return QStringLiteral("数据库文件 %1 是符号链接或特殊文件，为安全起见没有打开。"
                          "请管理员检查 data 文件夹：其中只应有普通文件。")
        .arg(path);
}

QString checkStoreFile(const QString &path, bool create, FileId &id)
{
    // SQLite opens its journal files beside the store by path as well.
    for (const char *suffix : {"-wal", "-shm", "-journal"}) {
        struct stat st {};
        if (::lstat(QFile::encodeName(path + QLatin1String(suffix)).constData(), &st) == 0
            && !S_ISREG(st.st_mode))
            return notAPlainFile(path + QLatin1String(suffix));
    }
    const QByteArray p = QFile::encodeName(path);
    const int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(p.constData(), O_RDONLY | flags);
    if (fd < 0 && errno == ENOENT && create) {
        fd = ::open(p.constData(), O_RDWR | O_CREAT | O_EXCL | flags, 0664);
        if (fd >= 0)
            ::fchmod(fd, 0664); // the umask would keep the other operators from writing
    }
    if (fd < 0) // missing or not ours to read: SQLite's own open says why
        return errno == ELOOP ? notAPlainFile(path) : QString();
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    id = {st.st_dev, st.st_ino, true};
    return regular ? QString() : notAPlainFile(path);
}

bool stillSameFile(const QString &path, const FileId &id)
{
    struct stat st {};
    return !id.known
        || (::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)
            && st.st_dev == id.dev && st.st_ino == id.ino);
}

} // namespace

namespace {

QString readOnlyText(const QString &engineText)
{
    return QStringLiteral("数据库只能读取，不能修改（%1）。铃声照常按现有列表播放，"
                          "但添加、修改、删除和导入都无法保存。")
        .arg(engineText);
}

// What SQLite made of the open: a file it could not open for writing (a
// read-only mount, a journal left by an unclean stop that may not be
// written) it opens for reading without a word.
bool engineOpenedReadOnly(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *conn = *static_cast<sqlite3 *const *>(handle.constData());
    return conn && sqlite3_db_readonly(conn, "main") == 1;
}

} // namespace

QString BellStore::open(const QString &databasePath)
{
    const QString error = tryOpen(databasePath, false);
    if (error.isEmpty())
        return m_readOnly ? readOnlyText(QStringLiteral("attempt to write a readonly database")) : QString();
    const QFileInfo info(databasePath);
    if (info.isFile() && (!writable(databasePath) || !writable(info.absolutePath()))
        && tryOpen(databasePath, true).isEmpty()) {
        // A store we may only read still lists the day's bells, so they ring;
        // the operator learns why changes will not be kept.
        return readOnlyText(error);
    }
    return error;
}

QString BellStore::tryOpen(const QString &databasePath, bool readOnly)
{
    m_path = databasePath;
    m_open = false;
    m_readOnly = readOnly;
    QSqlDatabase db = QSqlDatabase::contains(m_name)
                          ? QSqlDatabase::database(m_name, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.close();
    // A reader elsewhere must never hold up the clock for long.
    if (readOnly) {
        // Immutable: no journal or shared-memory file is needed beside it.
        db.setDatabaseName(QUrl::fromLocalFile(QFileInfo(databasePath).absoluteFilePath())
                               .toString(QUrl::FullyEncoded)
                           + QStringLiteral("?immutable=1"));
        db.setConnectOptions(QStringLiteral(
            "QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=1000"));
    } else {
        db.setDatabaseName(databasePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
    }
    auto failWith = [&](const QString &text) {
        m_openError = text.isEmpty() ? QStringLiteral("无法打开数据库 %1").arg(databasePath) : text;
        db.close();
        return m_openError;
    };
    FileId id;
    if (const QString refused = checkStoreFile(databasePath, !readOnly, id); !refused.isEmpty())
        return failWith(refused);
    if (!db.open())
        return failWith(db.lastError().databaseText());

    QSqlQuery q(db);
    // Reading the schema fails at once for a file that is not a database.
    if (!q.exec(QStringLiteral("select count(*) from sqlite_master")))
        return failWith(q.lastError().databaseText());
    if (!stillSameFile(databasePath, id))
        return failWith(notAPlainFile(databasePath));
    if (!m_readOnly && engineOpenedReadOnly(db)) {
        // Kept as it is: unlike an immutable open it still reads what the
        // write-ahead log holds.
        qCWarning(lcStore) << "store opened for reading only:" << databasePath;
        m_readOnly = true;
    }
    if (!m_readOnly) {
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
            return failWith(q.lastError().databaseText());
        q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
        if (!q.exec(QStringLiteral(
                "create table if not exists daling (id integer primary key autoincrement, "
                "时间 integer, 名称 text, 音乐 text, 周期 text, 时长 text, 备注 text)"))
            || !q.exec(QStringLiteral(
                "create table if not exists linshi (id integer primary key autoincrement, "
                "序号 integer, 路径 text, 音乐 text)")))
            return failWith(q.lastError().databaseText());
        try {
            zonestore::ensureTables(db);
        } catch (const StoreError &e) {
            return failWith(e.text());
        }
    }
    // Both tables must be there, also in a file we may only read.
    if (!q.exec(QStringLiteral("select count(*) from daling"))
        || !q.exec(QStringLiteral("select count(*) from linshi")))
        return failWith(q.lastError().databaseText());
    m_openError.clear();
    m_open = true;
    if (!m_readOnly)
        canonicalWeekdays();
    return {};
}

void BellStore::canonicalWeekdays()
{
    // Lists imported by older versions kept 周期 as typed ("工作日",
    // "周一至周五"), and a day's bells are found by its character anywhere
    // in the text: "工作日" rang on Sundays, "周一至周五" on two days only.
    // Such texts are rewritten once as the days they name; a text that
    // cannot be read stays as it is.
    const QSqlDatabase db = QSqlDatabase::database(m_name, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("select id, 周期 from daling"))) {
        qCWarning(lcStore) << "weekday texts not checked:" << q.lastError().databaseText();
        return;
    }
    QList<std::pair<qint64, QString>> rewrites;
    while (q.next()) {
        const QString stored = q.value(1).toString();
        const std::optional<QString> days = WeekdayText::read(stored);
        if (days && *days != stored)
            rewrites.append({q.value(0).toLongLong(), *days});
    }
    if (rewrites.isEmpty())
        return;
    QSqlDatabase tx = db;
    tx.transaction();
    QSqlQuery u(db);
    u.prepare(QStringLiteral("update daling set 周期 = :days where id = :id"));
    for (const auto &[id, days] : rewrites) {
        u.bindValue(QStringLiteral(":days"), days);
        u.bindValue(QStringLiteral(":id"), id);
        if (!u.exec()) {
            qCWarning(lcStore) << "weekday texts not rewritten:" << u.lastError().databaseText();
            tx.rollback();
            return;
        }
    }
    if (!tx.commit()) {
        qCWarning(lcStore) << "weekday texts not rewritten:" << tx.lastError().databaseText();
        return;
    }
    qCInfo(lcStore) << "weekday texts of" << rewrites.size() << "entries rewritten as the days they name";
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
