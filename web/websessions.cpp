#include "websessions.h"

#include "storesql.h"
#include "weblog.h"

#include <QtEndian>
#include <sodium.h>

namespace {

constexpr int kTokenBytes = 32;
constexpr int kDigestBytes = crypto_generichash_BYTES;

QByteArray digestOf(const QByteArray &token)
{
    QByteArray out(kDigestBytes, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char *>(out.data()), size_t(out.size()),
                       reinterpret_cast<const unsigned char *>(token.constData()), size_t(token.size()),
                       nullptr, 0);
    return out;
}

quint64 bucketOf(const QByteArray &digest)
{
    return qFromUnaligned<quint64>(digest.constData());
}

} // namespace

namespace websecret {

QString random(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    randombytes_buf(raw.data(), size_t(raw.size()));
    QByteArray text(int(sodium_base64_ENCODED_LEN(size_t(bytes), sodium_base64_VARIANT_URLSAFE_NO_PADDING)),
                    Qt::Uninitialized);
    sodium_bin2base64(text.data(), size_t(text.size()), reinterpret_cast<const unsigned char *>(raw.constData()),
                      size_t(raw.size()), sodium_base64_VARIANT_URLSAFE_NO_PADDING);
    sodium_memzero(raw.data(), size_t(raw.size()));
    return QString::fromLatin1(text.constData()); // up to its terminating NUL
}

QByteArray decode(const QString &text, int bytes)
{
    const QByteArray in = text.toLatin1();
    QByteArray out(bytes, Qt::Uninitialized);
    size_t len = 0;
    const char *end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(out.data()), size_t(out.size()), in.constData(),
                          size_t(in.size()), nullptr, &len, &end, sodium_base64_VARIANT_URLSAFE_NO_PADDING)
            != 0
        || len != size_t(bytes) || end != in.constData() + in.size())
        return {};
    return out;
}

bool equal(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() && sodium_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

} // namespace websecret

WebSessions::WebSessions(const Clock &clock) : m_clock(clock)
{
    if (sodium_init() < 0)
        throw StoreError(QStringLiteral("无法启动加密库（libsodium），远程控制不能登录。"));
}

WebSessions::Opened WebSessions::open(const QString &account, WebRole role, const QString &address)
{
    expire();
    for (;;) {
        const QString token = websecret::random(kTokenBytes);
        const QByteArray digest = digestOf(websecret::decode(token, kTokenBytes));
        const quint64 bucket = bucketOf(digest);
        if (m_sessions.contains(bucket))
            continue; // one in 2^64: draw again
        WebSession s{account, role, address, websecret::random(kTokenBytes), m_clock.now()};
        m_sessions.insert(bucket, {digest, s});
        qCInfo(lcWeb).noquote() << "session opened for" << account << "from" << address;
        return {token, s};
    }
}

QHash<quint64, WebSessions::Entry>::iterator WebSessions::locate(const QString &token)
{
    const QByteArray raw = websecret::decode(token, kTokenBytes);
    if (raw.isEmpty())
        return m_sessions.end();
    const QByteArray digest = digestOf(raw);
    const auto it = m_sessions.find(bucketOf(digest));
    if (it == m_sessions.end() || !websecret::equal(it->digest, digest))
        return m_sessions.end();
    return it;
}

bool WebSessions::idle(const WebSession &session) const
{
    return session.lastUse.secsTo(m_clock.now()) >= qint64(kIdleMinutes) * 60;
}

std::optional<WebSession> WebSessions::find(const QString &token)
{
    return lookup(token, true);
}

std::optional<WebSession> WebSessions::peek(const QString &token)
{
    return lookup(token, false);
}

std::optional<WebSession> WebSessions::lookup(const QString &token, bool use)
{
    const auto it = locate(token);
    if (it == m_sessions.end())
        return std::nullopt;
    if (idle(it->session)) {
        qCInfo(lcWeb).noquote() << "session of" << it->session.account << "ended after"
                                << kIdleMinutes << "idle minutes";
        m_sessions.erase(it);
        return std::nullopt;
    }
    if (use)
        it->session.lastUse = m_clock.now();
    return it->session;
}

bool WebSessions::csrfMatches(const WebSession &session, const QString &header)
{
    return !session.csrf.isEmpty() && websecret::equal(session.csrf.toLatin1(), header.trimmed().toLatin1());
}

bool WebSessions::close(const QString &token)
{
    const auto it = locate(token);
    if (it == m_sessions.end())
        return false;
    qCInfo(lcWeb).noquote() << "session of" << it->session.account << "from" << it->session.address
                            << "logged out";
    m_sessions.erase(it);
    return true;
}

int WebSessions::closeAccount(const QString &account)
{
    const int n = int(m_sessions.removeIf([&account](const auto &e) { return e.value().session.account == account; }));
    if (n > 0)
        qCInfo(lcWeb).noquote() << n << "sessions of" << account << "ended";
    return n;
}

int WebSessions::expire()
{
    m_sessions.removeIf([this](const auto &e) { return idle(e.value().session); });
    return count();
}
