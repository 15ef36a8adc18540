#include "remoteform.h"

#include "apperror.h"
#include "settings.h"
#include "storesql.h"
#include "weblog.h"

#include <QHostAddress>
#include <QNetworkInterface>

RemoteForm::RemoteForm(BellStore &store) : m_store(store), m_accounts(store) {}

RemoteSettings RemoteForm::settings() const
{
    return RemoteSettings::load(Settings(m_store));
}

QStringList RemoteForm::addressChoices()
{
    QStringList out{QString()};
    for (const QHostAddress &a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol || (a.protocol() == QAbstractSocket::IPv6Protocol && a.scopeId().isEmpty()))
            out << a.toString();
    return out;
}

QString RemoteForm::addressText(const QString &address)
{
    return address.isEmpty() ? QStringLiteral("所有网络接口") : address;
}

bool RemoteForm::hasAdmin() const
{
    const QList<WebAccount> all = accounts();
    return std::any_of(all.begin(), all.end(), [](const WebAccount &a) { return a.role == WebRole::Admin; });
}

QList<WebAccount> RemoteForm::accounts() const
{
    return m_accounts.list();
}

QString RemoteForm::problem(const Input &input) const
{
    if (const QString why = input.settings.problem(); !why.isEmpty())
        return why;
    if (!input.settings.enabled() || hasAdmin())
        return {};
    if (input.adminName.trimmed().isEmpty())
        return QStringLiteral("请先设置第一个管理账号：名称和口令。");
    if (const QString why = WebAccounts::nameProblem(input.adminName.trimmed()); !why.isEmpty())
        return why;
    if (const QString why = WebAccounts::passwordProblem(input.adminPassword); !why.isEmpty())
        return why;
    if (input.adminPassword != input.adminPassword2)
        return QStringLiteral("两次输入的口令不一样。");
    return {};
}

QString RemoteForm::save(const Input &input)
{
    if (const QString why = problem(input); !why.isEmpty())
        return why;
    try {
        if (input.settings.enabled() && !hasAdmin())
            m_accounts.set(input.adminName.trimmed(), WebRole::Admin, input.adminPassword);
        Settings settings(m_store);
        input.settings.save(settings);
    } catch (const AppError &e) {
        qCWarning(lcWeb).noquote() << "remote control settings not kept:" << e.text();
        return e.text();
    }
    qCInfo(lcWeb).noquote() << "remote control settings kept: port" << input.settings.port << "address"
                            << addressText(input.settings.address)
                            << (input.settings.https() ? "HTTPS" : "plain HTTP");
    return {};
}

QString RemoteForm::warning(const RemoteSettings &settings)
{
    return settings.enabled() && !settings.https() ? RemoteSettings::plainHttpWarning() : QString();
}

QString RemoteForm::urlText(const RemoteSettings &settings)
{
    if (!settings.enabled())
        return QStringLiteral("远程控制已关闭。");
    QString host = settings.address.isEmpty() ? QStringLiteral("本机地址") : settings.address;
    if (host.contains(u':'))
        host = u'[' + host + u']';
    return QStringLiteral("%1://%2:%3/").arg(settings.https() ? QStringLiteral("https") : QStringLiteral("http"), host)
        .arg(settings.port);
}
