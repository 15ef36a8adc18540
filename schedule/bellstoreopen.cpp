// Opening the store: the file checked before SQLite follows its path, the
// tables made, what SQLite made of the open asked of the connection itself,
// and the weekday texts of older lists rewritten once.
#include "bellstore.h"
#include "logging.h"
#include "weekdaytext.h"
#include "zonestore.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

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
