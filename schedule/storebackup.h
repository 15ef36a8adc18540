#pragma once
// The store's last good copies: data/备份/dbDaLing-YYYY-MM-DD.db, one a
// day, the newest kKeep kept. A copy is written under another name, checked
// and only then renamed into place, so that a damaged store never replaces
// a good copy.
#include "bellstore.h"

#include <QDate>
#include <QString>
#include <atomic>
#include <optional>

class StoreBackup {
public:
    static constexpr int kKeep = 14;

    explicit StoreBackup(QString folder) : m_folder(std::move(folder)) {}

    QString folder() const { return m_folder; }
    QString fileFor(const QDate &date) const;
    bool hasCopyOf(const QDate &date) const;
    // Copies the open store as the date's copy (replacing that day's
    // earlier one) and removes the oldest beyond kKeep. Throws StoreError.
    // On the caller's connection: for the copies the operator waits for
    // anyway (before an import, 清除, a switch).
    void take(const BellStore &store, const QDate &date);
    // The same from the file, on a connection of its own, for a thread that
    // does not ring: the day's copy. Returns the band's text when it failed,
    // empty when the copy is in place. Setting stop abandons it.
    QString takeFromFile(const QString &storePath, const QDate &date, const std::atomic_bool &stop) const;

    struct Copy {
        QString path;
        QDate date;
    };
    // Empty when SQLite finds the file's pages sound and its list readable,
    // else the engine's text. Opens the file for reading only, on a
    // connection of its own (any thread); stop, when given, abandons it.
    static QString check(const QString &path, const std::atomic_bool *stop = nullptr);

    // The copies, newest first.
    QList<Copy> copies() const;
    std::optional<Copy> newest() const;

private:
    // Checks the written part and renames it into place, then keeps the
    // newest kKeep. Returns the band's text when it failed.
    QString place(const QString &part, const QString &target, const std::atomic_bool *stop) const;
    QString m_folder; // ends in '/'
};
