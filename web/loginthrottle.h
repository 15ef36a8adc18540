#pragma once
// Slows down the guessing of passwords: kMaxFailures failed logins for one
// account name, or from one address, within kWindowMinutes lock that name,
// or that address, for kLockSeconds. Names and addresses are counted apart:
// a guesser trying many names from one address is stopped by the address,
// one trying a name from many addresses by the name. A locked login is
// refused before its password is hashed, and is not counted again.
// A success clears its name's count, never its address's: one good account
// must not reset the guessing of others from the same place.
//
// Names that are not accounts are counted too (the answer must not tell
// which exist). What is neither locked nor recently failed is forgotten.
#include "seams.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

class LoginThrottle {
public:
    static constexpr int kMaxFailures = 5;
    static constexpr int kLockSeconds = 60;
    static constexpr int kWindowMinutes = 15;

    explicit LoginThrottle(const Clock &clock) : m_clock(clock) {}

    // The operator's text when a login must be refused now; empty when it
    // may be tried.
    QString refusal(const QString &account, const QString &address);
    void failed(const QString &account, const QString &address);
    void succeeded(const QString &account);

    static QString lockedText();
    // How many names and addresses are remembered (for tests).
    int remembered() const { return int(m_accounts.size() + m_addresses.size()); }

private:
    struct Tally {
        QList<QDateTime> failures; // within the window, oldest first
        QDateTime lockedUntil;
    };
    using Tallies = QHash<QString, Tally>;
    bool locked(Tallies &tallies, const QString &key);
    void count(Tallies &tallies, const QString &key, const char *what);
    void forgetOld(Tallies &tallies);

    const Clock &m_clock;
    Tallies m_accounts;
    Tallies m_addresses;
};
