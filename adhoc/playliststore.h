#pragma once
// The ad-hoc playlist's table linshi (序号, 路径, 音乐), beside the bell list
// in the same SQLite file: it works on the bell store's open connection.
// Every statement binds its parameters; a failing one throws StoreError.
#include "bellstore.h"

#include <QList>
#include <QString>
#include <optional>

struct PlaylistItem {
    qint64 id = 0;
    qint64 order = 0; // 序号
    QString folder;   // 路径, ends in a path separator
    QString music;    // 音乐
    QString path() const { return folder + music; }
};

class PlaylistStore {
public:
    explicit PlaylistStore(BellStore &store) : m_store(store) {}

    // Reads the list by 序号, writes 序号 1 … N in that order (one
    // transaction; not in a store that may only be read) and returns the
    // items renumbered.
    QList<PlaylistItem> refresh();
    // Appends the files with 序号 1000 + i, in one transaction.
    void addFiles(const QStringList &fullPaths);
    std::optional<PlaylistItem> item(qint64 id) const;
    void remove(qint64 id);
    void clear();
    // Writes 序号 0 … N−1 for the ids in that order; ids no longer stored
    // are skipped. One transaction.
    void saveOrder(const QList<qint64> &ids);

    BellStore &bellStore() { return m_store; }

private:
    BellStore &m_store;
};
