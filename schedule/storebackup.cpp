#include "storebackup.h"
#include "logging.h"
#include "storesql.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
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

QString StoreBackup::check(const QString &path)
{
    const QString name = QStringLiteral("daling-check-") + QUuid::createUuid().toString(QUuid::Id128);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            error = db.lastError().databaseText();
        } else {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next())
                error = q.lastError().databaseText();
            else if (q.value(0).toString() != u"ok")
                error = q.value(0).toString();
            else if (!q.exec(QStringLiteral("select count(*) from daling")))
                error = q.lastError().databaseText();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return error;
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
    const QString bad = check(part);
    if (!bad.isEmpty()) {
        QFile::remove(part);
        throw StoreError(storetext::copyFailed(bad));
    }
    shareWithOperators(part, O_RDONLY, 0664);
    // rename() replaces the day's earlier copy in one step.
    if (::rename(QFile::encodeName(part).constData(), QFile::encodeName(target).constData()) != 0) {
        const QString why = QString::fromLocal8Bit(strerror(errno));
        QFile::remove(part);
        throw StoreError(storetext::copyFailed(why));
    }
    const QList<Copy> all = copies();
    for (int i = kKeep; i < all.size(); ++i)
        QFile::remove(all[i].path);
    qCInfo(lcStore) << "store copied to" << target;
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
