#pragma once
// The few steps every statement of the store takes: prepare with bound
// parameters, run, and turn a failure into StoreError: a Chinese text with
// the engine's own after it.
// Shared by the bell store and the tables that sit beside it.
#include "seams.h"
#include "storetext.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

class StoreError : public AppError {
public:
    using AppError::AppError;
};

namespace storesql {

[[noreturn]] inline void fail(const QSqlQuery &q)
{
    QString text = q.lastError().databaseText();
    if (text.isEmpty())
        text = q.lastError().text();
    throw StoreError(storetext::describe(text));
}

inline void exec(QSqlQuery &q)
{
    if (!q.exec())
        fail(q);
}

inline QSqlQuery prepared(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    // Rows are read once, in order; no cache of the whole result.
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        fail(q);
    return q;
}

// Commits on success, rolls back when left by an exception.
class Transaction {
public:
    explicit Transaction(QSqlDatabase db) : m_db(std::move(db))
    {
        if (!m_db.transaction())
            throw StoreError(storetext::describe(m_db.lastError().databaseText().isEmpty()
                                                     ? m_db.lastError().text()
                                                     : m_db.lastError().databaseText()));
    }
    ~Transaction()
    {
        if (!m_done)
            m_db.rollback();
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit()
    {
        if (!m_db.commit()) {
            const QString text = m_db.lastError().text();
            m_db.rollback();
            m_done = true;
            throw StoreError(storetext::describe(text));
        }
        m_done = true;
    }

private:
    QSqlDatabase m_db;
    bool m_done = false;
};

} // namespace storesql
