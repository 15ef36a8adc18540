#include "loginthrottle.h"

#include "weblog.h"

QString LoginThrottle::lockedText()
{
    return QStringLiteral("登录失败次数过多，已暂时锁定。请 %1 分钟后再试。").arg(kLockSeconds / 60);
}

void LoginThrottle::forgetOld(Tallies &tallies)
{
    const QDateTime now = m_clock.now();
    const QDateTime windowStart = now.addSecs(-qint64(kWindowMinutes) * 60);
    tallies.removeIf([&](const auto &e) {
        const Tally &t = e.value();
        const bool lockOver = !t.lockedUntil.isValid() || t.lockedUntil <= now;
        return lockOver && (t.failures.isEmpty() || t.failures.last() < windowStart);
    });
}

bool LoginThrottle::locked(Tallies &tallies, const QString &key)
{
    const auto it = tallies.find(key);
    if (it == tallies.end() || !it->lockedUntil.isValid())
        return false;
    if (it->lockedUntil > m_clock.now())
        return true;
    tallies.erase(it); // the minute is over: a fresh count
    return false;
}

QString LoginThrottle::refusal(const QString &account, const QString &address)
{
    // Both are looked at, so that each lock ends on time either way.
    const bool byAccount = locked(m_accounts, account.trimmed());
    const bool byAddress = locked(m_addresses, address);
    return byAccount || byAddress ? lockedText() : QString();
}

void LoginThrottle::count(Tallies &tallies, const QString &key, const char *what)
{
    forgetOld(tallies);
    Tally &t = tallies[key];
    if (t.lockedUntil.isValid() && t.lockedUntil > m_clock.now())
        return;
    const QDateTime now = m_clock.now();
    const QDateTime windowStart = now.addSecs(-qint64(kWindowMinutes) * 60);
    t.failures.removeIf([&windowStart](const QDateTime &at) { return at < windowStart; });
    t.failures.append(now);
    if (t.failures.size() >= kMaxFailures) {
        t.failures.clear();
        t.lockedUntil = now.addSecs(kLockSeconds);
        qCWarning(lcWeb).noquote() << kMaxFailures << "failed logins for" << what << key << "- locked for"
                                   << kLockSeconds << "seconds";
    }
}

void LoginThrottle::failed(const QString &account, const QString &address)
{
    qCInfo(lcWeb).noquote() << "failed login for" << account.trimmed() << "from" << address;
    count(m_accounts, account.trimmed(), "account");
    count(m_addresses, address, "address");
}

void LoginThrottle::succeeded(const QString &account)
{
    const auto it = m_accounts.find(account.trimmed());
    if (it != m_accounts.end() && !(it->lockedUntil.isValid() && it->lockedUntil > m_clock.now()))
        m_accounts.erase(it);
}
