#pragma once
// The remote control's accounts (table zhanghu in the bell store, made when
// first written; a store without it has no accounts). A password is kept
// only as libsodium's Argon2id string (crypto_pwhash_str): algorithm,
// parameters, salt and hash in one text.
//
// Hashing and verifying are slow on purpose (interactive limits: 2 passes
// over 64 MiB, about a tenth of a second on the broadcasting PC): never
// call set() or verify() on the ring tick's thread. verifyLater() reads the
// row on the caller's thread and hashes on Qt's worker pool, whose few
// threads also bound how much memory logins take at once.
#include "storesql.h"
#include "webroles.h"

#include <QFuture>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class BellStore;
class QObject;

struct WebAccount {
    qint64 id = 0;
    QString name; // 名称
    WebRole role = WebRole::Viewer; // 角色
    bool operator==(const WebAccount &) const = default;
};

class WebAccounts {
public:
    // Limits of a password, in characters (a Chinese character counts one).
    static constexpr int kMinPassword = 8;
    static constexpr int kMaxPassword = 256;
    static constexpr int kMaxName = 64;

    // Throws StoreError when libsodium cannot start.
    explicit WebAccounts(BellStore &store);

    // Ordered by name; empty when there is no table.
    QList<WebAccount> list() const;
    std::optional<WebAccount> find(const QString &name) const;
    // Makes the account or gives an existing one its new role and password.
    // Throws StoreError with the operator's text (an empty or long name, an
    // unknown role, a password too short or too long).
    void set(const QString &name, const QString &roleText, const QString &password);
    void set(const QString &name, WebRole role, const QString &password);
    // Throws StoreError when there is no such account.
    void remove(const QString &name);

    // The account when the password is its own. Slow (see above). An
    // unknown name costs the same time as a wrong password. Throws
    // StoreError when the store cannot be read (busy past its timeout).
    std::optional<WebAccount> verify(const QString &name, const QString &password) const;
    // The same off the caller's thread: done runs on context's thread (a
    // queued call, through a QFutureWatcher that context owns); never when
    // context is gone first.
    void verifyLater(const QString &name, const QString &password, QObject *context,
                     std::function<void(std::optional<WebAccount>)> done) const;

    static void ensureTable(QSqlDatabase db);
    // The texts of a refused name, role or password: empty when fine.
    static QString nameProblem(const QString &name);
    static QString passwordProblem(const QString &password);
    static QString unknownRoleText(const QString &roleText);

private:
    struct Row {
        WebAccount account;
        QByteArray hash;
    };
    std::optional<Row> row(const QString &name) const;
    BellStore &m_store;
};
