#include "storebackup.h"
#include "logging.h"
#include "storesql.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <sqlite3.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPrefix = QStringLiteral("dbDaLing-");
const QString kSuffix = QStringLiteral(".db");
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");

} // namespace

namespace {

// A connection of the engine's own, not Qt's: Qt's connections belong to the
// thread that made them, and this one is used where the copy runs.
class Connection {
public:
    Connection(const QString &path, const std::atomic_bool *stop)
    {
        m_rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                               SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (m_db) {
            sqlite3_busy_timeout(m_db, 1000);
            if (stop)
                sqlite3_progress_handler(m_db, 1000, [](void *flag) -> int {
                    return static_cast<const std::atomic_bool *>(flag)->load() ? 1 : 0;
                }, const_cast<std::atomic_bool *>(stop));
        }
    }
    ~Connection() { sqlite3_close_v2(m_db); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    QString error() const
    {
        return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(m_rc));
    }
    bool opened() const { return m_rc == SQLITE_OK; }
    // Runs the statement (one text parameter, when given); the first
    // column of its first row goes to *first.
    bool run(const char *sql, const QString &param = {}, QString *first = nullptr)
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &st, nullptr) != SQLITE_OK)
            return false;
        const QByteArray p = param.toUtf8();
        if (!param.isNull())
            sqlite3_bind_text(st, 1, p.constData(), int(p.size()), SQLITE_STATIC);
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW && first)
            *first = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return rc == SQLITE_ROW || rc == SQLITE_DONE;
    }

private:
    sqlite3 *m_db = nullptr;
    int m_rc = SQLITE_OK;
};

} // namespace

QString StoreBackup::check(const QString &path, const std::atomic_bool *stop)
{
    Connection c(path, stop);
    if (!c.opened())
        return c.error();
    QString verdict;
    if (!c.run("PRAGMA quick_check", {}, &verdict))
        return c.error();
    if (verdict != u"ok")
        return verdict;
    if (!c.run("select count(*) from daling"))
        return c.error();
    return {};
}

QString StoreBackup::fileFor(const QDate &date) const
{
    return m_folder + kPrefix + date.toString(kDateFormat) + kSuffix;
}

bool StoreBackup::hasCopyOf(const QDate &date) const
{
    return QFile::exists(fileFor(date));
}

namespace {

// The copies are the operators' as the store is: the folder setgid and
// group-writable, each copy 0664, whatever the umask of the session that
// made them. Set on the opened folder or file, never by path, and never
// through a symbolic link.
void shareWithOperators(const QString &path, int flags, mode_t mode)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || ::fchmod(fd, mode) != 0)
        qCDebug(lcStore) << "modes of" << path << "left as they are:" << strerror(errno);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

void StoreBackup::take(const BellStore &store, const QDate &date)
{
    if (!QDir().mkpath(m_folder))
        throw StoreError(storetext::copyFailed(QStringLiteral("cannot create %1").arg(m_folder)));
    shareWithOperators(m_folder, O_RDONLY | O_DIRECTORY, 02775);
    const QString target = fileFor(date);
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    try {
        store.copyTo(part);
    } catch (const StoreError &e) {
        QFile::remove(part);
        throw StoreError(storetext::copyFailed(e.text()));
    }
    if (const QString failed = place(part, target, nullptr); !failed.isEmpty())
        throw StoreError(failed);
}

QString StoreBackup::takeFromFile(const QString &storePath, const QDate &date, const std::atomic_bool &stop) const
{
    if (!QDir().mkpath(m_folder))
        return storetext::copyFailed(QStringLiteral("cannot create %1").arg(m_folder));
    shareWithOperators(m_folder, O_RDONLY | O_DIRECTORY, 02775);
    const QString target = fileFor(date);
    // Its own name: a copy before an import may be written meanwhile.
    const QString part = target + QStringLiteral(".day-part");
    QFile::remove(part);
    QString error;
    {
        // Read-only, in WAL mode: the bells' connection writes on meanwhile.
        Connection c(storePath, &stop);
        if (!c.opened() || !c.run("VACUUM INTO ?1", part))
            error = c.error();
    }
    if (!error.isEmpty()) {
        QFile::remove(part);
        return storetext::copyFailed(error);
    }
    return place(part, target, &stop);
}

QString StoreBackup::place(const QString &part, const QString &target, const std::atomic_bool *stop) const
{
    const QString bad = check(part, stop);
    if (!bad.isEmpty()) {
        QFile::remove(part);
        return storetext::copyFailed(bad);
    }
    shareWithOperators(part, O_RDONLY, 0664);
    // rename() replaces the day's earlier copy in one step.
    if (::rename(QFile::encodeName(part).constData(), QFile::encodeName(target).constData()) != 0) {
        const QString why = QString::fromLocal8Bit(strerror(errno));
        QFile::remove(part);
        return storetext::copyFailed(why);
    }
    const QList<Copy> all = copies();
    for (int i = kKeep; i < all.size(); ++i)
        QFile::remove(all[i].path);
    qCInfo(lcStore) << "store copied to" << target;
    return {};
}

QList<StoreBackup::Copy> StoreBackup::copies() const
{
    QList<Copy> out;
    const QStringList names = QDir(m_folder).entryList({kPrefix + u'*' + kSuffix}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString &n : names) {
        const QDate d = QDate::fromString(n.mid(kPrefix.size(), kDateFormat.size()), kDateFormat);
        if (d.isValid() && n.size() == kPrefix.size() + kDateFormat.size() + kSuffix.size())
            out.append({m_folder + n, d});
    }
    return out;
}

std::optional<StoreBackup::Copy> StoreBackup::newest() const
{
    const QList<Copy> all = copies();
    if (all.isEmpty())
        return std::nullopt;
    return all.first();
}
