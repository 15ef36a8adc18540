#include "playliststore.h"

#include "storesql.h"

#include <QVariant>

using storesql::exec;
using storesql::fail;
using storesql::prepared;

namespace {

PlaylistItem readItem(const QSqlQuery &q)
{
    PlaylistItem it;
    it.id = q.value(QStringLiteral("id")).toLongLong();
    it.order = q.value(QStringLiteral("序号")).toLongLong();
    it.folder = q.value(QStringLiteral("路径")).toString();
    it.music = q.value(QStringLiteral("音乐")).toString();
    return it;
}

// A null QString binds as SQL NULL: the columns always hold text.
QString text(const QString &s) { return s.isNull() ? QStringLiteral("") : s; }

void renumber(QSqlDatabase db, const QList<qint64> &ids, int first)
{
    storesql::Transaction tx(db);
    QSqlQuery up = prepared(db, QStringLiteral("update linshi set 序号=:n where id=:id"));
    for (int i = 0; i < ids.size(); ++i) {
        up.bindValue(QStringLiteral(":n"), first + i);
        up.bindValue(QStringLiteral(":id"), ids[i]);
        exec(up);
    }
    tx.commit();
}

} // namespace

QList<PlaylistItem> PlaylistStore::refresh()
{
    QSqlDatabase db = m_store.database();
    QList<PlaylistItem> items;
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select * from linshi order by 序号")))
            fail(q);
        while (q.next())
            items.append(readItem(q));
    }
    QList<qint64> ids;
    for (int i = 0; i < items.size(); ++i) {
        items[i].order = i + 1;
        ids << items[i].id;
    }
    if (!m_store.isReadOnly())
        renumber(db, ids, 1);
    return items;
}

void PlaylistStore::addFiles(const QStringList &fullPaths)
{
    QSqlDatabase db = m_store.database();
    storesql::Transaction tx(db);
    QSqlQuery q = prepared(db, QStringLiteral(
        "insert into linshi (序号, 路径, 音乐) values (:n, :folder, :music)"));
    for (int i = 0; i < fullPaths.size(); ++i) {
        const QString &p = fullPaths[i];
        const int cut = std::max(p.lastIndexOf(u'/'), p.lastIndexOf(u'\\')) + 1;
        q.bindValue(QStringLiteral(":n"), 1000 + i);
        q.bindValue(QStringLiteral(":folder"), text(p.left(cut)));
        q.bindValue(QStringLiteral(":music"), text(p.mid(cut)));
        exec(q);
    }
    tx.commit();
}

std::optional<PlaylistItem> PlaylistStore::item(qint64 id) const
{
    QSqlQuery q = prepared(m_store.database(), QStringLiteral("select * from linshi  where id=:id"));
    q.bindValue(QStringLiteral(":id"), id);
    exec(q);
    if (!q.next())
        return std::nullopt;
    return readItem(q);
}

void PlaylistStore::remove(qint64 id)
{
    QSqlQuery q = prepared(m_store.database(), QStringLiteral("delete  from linshi  where id=:id"));
    q.bindValue(QStringLiteral(":id"), id);
    exec(q);
}

void PlaylistStore::clear()
{
    QSqlQuery q(m_store.database());
    if (!q.exec(QStringLiteral("delete  from linshi")))
        fail(q);
}

void PlaylistStore::saveOrder(const QList<qint64> &ids)
{
    renumber(m_store.database(), ids, 0);
}
