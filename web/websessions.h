#pragma once
// The remote control's sessions: each a random token (32 bytes from
// libsodium, base64url in the cookie) with its account, role, the address
// it logged in from, a CSRF token of its own and its last use. A session
// ends after kIdleMinutes without use and at logout.
//
// Only a digest of each token is kept (BLAKE2b): a look at the memory finds
// no cookie to replay. A lookup finds its candidate by the digest's first
// eight bytes and compares the whole digest with sodium_memcmp, and CSRF
// tokens are compared the same way: no comparison of a secret stops at its
// first differing byte.
//
// It lives on one thread (the engine's); nothing here is slow.
#include "seams.h"
#include "webroles.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

struct WebSession {
    QString account;
    WebRole role = WebRole::Viewer;
    QString address;  // where it logged in from
    QString csrf;     // base64url, sent back in X-CSRF-Token
    QDateTime lastUse;
};

class WebSessions {
public:
    static constexpr int kIdleMinutes = 30;

    explicit WebSessions(const Clock &clock);

    struct Opened {
        QString token; // the cookie's value; not kept here
        WebSession session;
    };
    Opened open(const QString &account, WebRole role, const QString &address);
    // The live session of a cookie's value, its last use now; nullopt for
    // an unknown, malformed or idle one (an idle one ends here).
    std::optional<WebSession> find(const QString &token);
    // The same without counting as a use (an open page that only listens).
    std::optional<WebSession> peek(const QString &token);
    // Whether the header carries the session's CSRF token.
    static bool csrfMatches(const WebSession &session, const QString &header);
    // Logout; false when the token named no session.
    bool close(const QString &token);
    // Ends every session of an account (removed, or its password or role
    // changed); returns how many.
    int closeAccount(const QString &account);
    // Drops the idle ones; returns how many are left.
    int expire();
    int count() const { return int(m_sessions.size()); }

private:
    struct Entry {
        QByteArray digest;
        WebSession session;
    };
    // The entry a token names, or end().
    QHash<quint64, Entry>::iterator locate(const QString &token);
    std::optional<WebSession> lookup(const QString &token, bool use);
    bool idle(const WebSession &session) const;

    const Clock &m_clock;
    QHash<quint64, Entry> m_sessions;
};

namespace websecret {
// n random bytes as base64url without padding.
QString random(int bytes);
// The bytes of a base64url text; empty when it is not one of that length.
QByteArray decode(const QString &text, int bytes);
// Constant time for texts of the same length.
bool equal(const QByteArray &a, const QByteArray &b);
} // namespace websecret
