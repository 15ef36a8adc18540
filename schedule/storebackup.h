#pragma once
// The store's last good copies: data/备份/dbDaLing-YYYY-MM-DD.db, one a
// day, the newest kKeep kept. A copy is written under another name, checked
// and only then renamed into place, so that a damaged store never replaces
// a good copy.
#include "bellstore.h"

#include <QDate>
#include <QString>
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
    void take(const BellStore &store, const QDate &date);

    struct Copy {
        QString path;
        QDate date;
    };
    // Empty when SQLite finds the file's pages sound and its list readable,
    // else the engine's text. Opens the file for reading only.
    static QString check(const QString &path);

    // The copies, newest first.
    QList<Copy> copies() const;
    std::optional<Copy> newest() const;

private:
    QString m_folder; // ends in '/'
};
