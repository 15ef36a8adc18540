#include "webaccounts.h"

#include "bellstore.h"
#include "weblog.h"

#include <QFutureWatcher>
#include <QObject>
#include <QVariant>
#include <QtConcurrent/QtConcurrentRun>
#include <sodium.h>

using namespace storesql;

namespace {

// Interactive limits: a login answers within a fraction of a second and a
// few at once fit in memory; the string keeps them, so raising them later
// still verifies older hashes.
constexpr unsigned long long kOpsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr size_t kMemLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

// Phones and desktops may send the same characters composed differently.
QByteArray passwordBytes(const QString &password)
{
    return password.normalized(QString::NormalizationForm_C).toUtf8();
}

QByteArray hashOf(const QString &password)
{
    const QByteArray pw = passwordBytes(password);
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, pw.constData(), quint64(pw.size()), kOpsLimit, kMemLimit) != 0) {
        qCWarning(lcWeb) << "password not hashed: out of memory";
        throw StoreError(QStringLiteral("内存不足，口令没有保存。请稍后再试。"));
    }
    return QByteArray(out);
}

bool matches(const QByteArray &hash, const QString &password)
{
    const QByteArray pw = passwordBytes(password);
    return crypto_pwhash_str_verify(hash.constData(), pw.constData(), quint64(pw.size())) == 0;
}

// Verified against when the name is unknown, so that the answer's time
// does not tell which names exist.
const QByteArray &decoyHash()
{
    static const QByteArray hash = hashOf(QStringLiteral("decoy password"));
    return hash;
}

// A password checked where the row was read: its hash, or the decoy's.
std::optional<WebAccount> check(std::optional<WebAccount> account, const QByteArray &hash,
                                const QString &password)
{
    if (!account) {
        matches(decoyHash(), password);
        return std::nullopt;
    }
    return matches(hash, password) ? account : std::nullopt;
}

} // namespace

WebAccounts::WebAccounts(BellStore &store) : m_store(store)
{
    if (sodium_init() < 0)
        throw StoreError(QStringLiteral("无法启动加密库（libsodium），账号不能使用。"));
}

void WebAccounts::ensureTable(QSqlDatabase db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("create table if not exists zhanghu (id integer primary key, "
                               "名称 text unique not null, 角色 text not null, 口令 text not null)")))
        fail(q);
}

QString WebAccounts::nameProblem(const QString &name)
{
    const QString n = name.trimmed();
    if (n.isEmpty())
        return QStringLiteral("请填写账号名称。");
    if (n.size() > kMaxName)
        return QStringLiteral("账号名称最长 %1 个字符。").arg(kMaxName);
    for (const QChar c : n)
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("账号名称不能含控制字符。");
    return {};
}

QString WebAccounts::passwordProblem(const QString &password)
{
    const qsizetype n = password.normalized(QString::NormalizationForm_C).size();
    if (n < kMinPassword)
        return QStringLiteral("口令至少需要 %1 个字符。").arg(kMinPassword);
    if (n > kMaxPassword)
        return QStringLiteral("口令最长 %1 个字符。").arg(kMaxPassword);
    return {};
}

QString WebAccounts::unknownRoleText(const QString &roleText)
{
    return QStringLiteral("角色“%1”不存在，应为 %2 之一。").arg(roleText.trimmed(), webroles::allTexts());
}

QList<WebAccount> WebAccounts::list() const
{
    QList<WebAccount> out;
    QSqlQuery q(m_store.database());
    if (!q.exec(QStringLiteral("select id, 名称, 角色 from zhanghu order by 名称")))
        return out;
    while (q.next()) {
        const std::optional<WebRole> role = webroles::fromText(q.value(2).toString());
        if (!role) {
            qCWarning(lcWeb).noquote() << "account" << q.value(1).toString() << "has an unknown role, left out:"
                                       << q.value(2).toString();
            continue;
        }
        out << WebAccount{q.value(0).toLongLong(), q.value(1).toString(), *role};
    }
    return out;
}

std::optional<WebAccounts::Row> WebAccounts::row(const QString &name) const
{
    QSqlQuery q(m_store.database());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("select id, 名称, 角色, 口令 from zhanghu where 名称 = :n")))
        return std::nullopt; // no table yet: no accounts
    q.bindValue(QStringLiteral(":n"), name.trimmed());
    exec(q);
    if (!q.next())
        return std::nullopt;
    const std::optional<WebRole> role = webroles::fromText(q.value(2).toString());
    if (!role) {
        qCWarning(lcWeb).noquote() << "account" << name << "has an unknown role, refused";
        return std::nullopt;
    }
    return Row{{q.value(0).toLongLong(), q.value(1).toString(), *role}, q.value(3).toByteArray()};
}

std::optional<WebAccount> WebAccounts::find(const QString &name) const
{
    if (const std::optional<Row> r = row(name))
        return r->account;
    return std::nullopt;
}

void WebAccounts::set(const QString &name, const QString &roleText, const QString &password)
{
    const std::optional<WebRole> role = webroles::fromText(roleText);
    if (const QString problem = nameProblem(name); !problem.isEmpty())
        throw StoreError(problem);
    if (!role)
        throw StoreError(unknownRoleText(roleText));
    set(name, *role, password);
}

void WebAccounts::set(const QString &name, WebRole role, const QString &password)
{
    if (const QString problem = nameProblem(name); !problem.isEmpty())
        throw StoreError(problem);
    if (const QString problem = passwordProblem(password); !problem.isEmpty())
        throw StoreError(problem);
    const QByteArray hash = hashOf(password);
    ensureTable(m_store.database());
    QSqlQuery q = prepared(m_store.database(),
                           QStringLiteral("insert into zhanghu (名称, 角色, 口令) values (:n, :r, :p) "
                                          "on conflict(名称) do update set 角色 = excluded.角色, "
                                          "口令 = excluded.口令"));
    q.bindValue(QStringLiteral(":n"), name.trimmed());
    q.bindValue(QStringLiteral(":r"), webroles::text(role));
    q.bindValue(QStringLiteral(":p"), QString::fromLatin1(hash));
    exec(q);
    qCInfo(lcWeb).noquote() << "account" << name.trimmed() << "set, role" << webroles::text(role);
}

void WebAccounts::remove(const QString &name)
{
    ensureTable(m_store.database());
    QSqlQuery q = prepared(m_store.database(), QStringLiteral("delete from zhanghu where 名称 = :n"));
    q.bindValue(QStringLiteral(":n"), name.trimmed());
    exec(q);
    if (q.numRowsAffected() < 1)
        throw StoreError(QStringLiteral("账号“%1”不存在。").arg(name.trimmed()));
    qCInfo(lcWeb).noquote() << "account" << name.trimmed() << "removed";
}

std::optional<WebAccount> WebAccounts::verify(const QString &name, const QString &password) const
{
    const std::optional<Row> r = row(name);
    return check(r ? std::optional(r->account) : std::nullopt, r ? r->hash : QByteArray(), password);
}

void WebAccounts::verifyLater(const QString &name, const QString &password, QObject *context,
                              std::function<void(std::optional<WebAccount>)> done) const
{
    // The row here: the store's connection belongs to this thread.
    const std::optional<Row> r = row(name);
    std::optional<WebAccount> account = r ? std::optional(r->account) : std::nullopt;
    QByteArray hash = r ? r->hash : QByteArray();
    // The watcher lives on context's thread and goes with it: its finished
    // signal arrives queued there, or never once context is gone.
    using Watcher = QFutureWatcher<std::optional<WebAccount>>;
    auto *watcher = new Watcher(context);
    QObject::connect(watcher, &Watcher::finished, watcher, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([account, hash, password]() -> std::optional<WebAccount> {
        try {
            return check(account, hash, password);
        } catch (const StoreError &e) {
            qCWarning(lcWeb).noquote() << "login not checked:" << e.text();
            return std::nullopt;
        }
    }));
}
