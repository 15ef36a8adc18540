// The store's copies and its replacement as a whole: what the store keeper
// (storekeeper.h) needs of the connection.
#include "bellstore.h"
#include "logging.h"
#include "storesql.h"

#include <QSqlDatabase>
#include <QSqlQuery>

using storesql::exec;
using storesql::fail;

QString BellStore::openCopy(const QString &copyPath)
{
    return tryOpen(copyPath, true);
}

void BellStore::close()
{
    m_open = false;
    m_openError = QStringLiteral("数据库未打开");
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (db.isValid())
        db.close();
}

void BellStore::copyTo(const QString &path) const
{
    requireOpen();
    // VACUUM INTO rather than the backup API: it runs over Qt's own
    // connection (no second handle to the engine, whose library Qt may
    // carry inside), reads one consistent snapshot, and also works from a
    // connection to a file that was deleted while open.
    QSqlQuery q(QSqlDatabase::database(m_name));
    if (!q.prepare(QStringLiteral("VACUUM INTO :path")))
        fail(q);
    q.bindValue(QStringLiteral(":path"), path);
    exec(q);
}

void BellStore::listAboutToBeReplaced()
{
    if (!m_beforeReplace)
        return;
    try {
        m_beforeReplace();
    } catch (const std::exception &e) {
        qCWarning(lcStore) << "copy before replacing the list failed:" << e.what();
    }
}
