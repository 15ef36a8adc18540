// Login, logout, one JSON-RPC request over HTTP, the history and its
// downloads; and the one path every method call of the page takes.
#include "webserver.h"

#include "historyreport.h"
#include "rpcserver.h"
#include "storesql.h"
#include "webaccounts.h"
#include "weblog.h"
#include "webreply.h"

#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QUrlQuery>

void WebServer::login(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString address = request.remoteAddress().toString();
    QJsonParseError parseError{};
    const QJsonObject body = QJsonDocument::fromJson(request.body(), &parseError).object();
    const QString name = body.value(QStringLiteral("name")).toString().trimmed();
    const QString password = body.value(QStringLiteral("password")).toString();
    if (parseError.error != QJsonParseError::NoError || name.isEmpty() || password.isEmpty()) {
        webreply::error(socket, 400, QStringLiteral("请输入账号和口令。"));
        return;
    }
    if (const QString refusal = m_throttle.refusal(name, address); !refusal.isEmpty()) {
        webreply::error(socket, 429, refusal);
        return;
    }
    const QPointer<QTcpSocket> alive(socket);
    try {
        m_services.accounts->verifyLater(name, password, this, [this, alive, name, address](std::optional<WebAccount> account) {
            if (!account) {
                qCWarning(lcWeb).noquote() << "failed login as" << name.left(64) << "from" << address;
                m_throttle.failed(name, address);
                webreply::error(alive, 401, kLoginFailedText);
                return;
            }
            m_throttle.succeeded(name);
            const WebSessions::Opened opened = m_sessions.open(account->name, account->role, address);
            webreply::json(alive, 200,
                           QJsonObject{{QStringLiteral("csrf"), opened.session.csrf},
                                       {QStringLiteral("account"), account->name},
                                       {QStringLiteral("role"), webroles::text(account->role)}},
                           {{"Set-Cookie", cookieHeader(opened.token, false)}});
        });
    } catch (const StoreError &e) {
        qCWarning(lcWeb).noquote() << "login as" << name.left(64) << "failed:" << e.text();
        webreply::error(socket, 503, e.text());
    }
}

void WebServer::logout(const QHttpServerRequest &, QTcpSocket *socket, const Client &client)
{
    m_sessions.close(client.token);
    closeWebSocketsOf(client.token);
    qCInfo(lcWeb).noquote() << client.session.account << "logged out at" << client.address;
    webreply::json(socket, 200, QJsonObject{}, {{"Set-Cookie", cookieHeader({}, true)}});
}

void WebServer::rpc(const QHttpServerRequest &request, QTcpSocket *socket, const Client &client)
{
    const QPointer<QTcpSocket> alive(socket);
    auto answered = std::make_shared<bool>(false);
    call(client, request.body(),
         [alive, answered](const QByteArray &line) {
             *answered = true;
             webreply::send(alive, 200, "application/json; charset=utf-8", line);
         },
         [alive] { return !alive.isNull(); });
    // A notification is never answered.
    if (!*answered && !QJsonDocument::fromJson(request.body()).object().contains(QStringLiteral("id")))
        webreply::send(socket, 204, {}, {});
}

void WebServer::call(const Client &client, QByteArray line, std::function<void(const QByteArray &)> sink,
                     std::function<bool()> present)
{
    QJsonParseError parseError{};
    QJsonObject message = QJsonDocument::fromJson(line, &parseError).object();
    const QString method = message.value(QStringLiteral("method")).toString();
    const std::optional<WebRole> least = webroles::leastRole(method);
    if (least && int(*least) > int(WebRole::Viewer)) {
        qCInfo(lcWeb).noquote() << client.session.account << "at" << client.address << "calls" << method
                                << QJsonDocument(message.value(QStringLiteral("params")).toObject())
                                       .toJson(QJsonDocument::Compact).left(300);
    }
    // The history names who started or ended it; never what the page claims.
    if ((method == u"Emergency.Start" || method == u"Emergency.Stop" || method == u"Test.Play")
        && webroles::allows(client.session.role, method)) {
        QJsonObject params = message.value(QStringLiteral("params")).toObject();
        params.insert(QStringLiteral("by"),
                      QStringLiteral("远程控制 %1（%2）").arg(client.session.account, client.address));
        message.insert(QStringLiteral("params"), params);
        line = QJsonDocument(message).toJson(QJsonDocument::Compact);
    }
    const WebRole role = client.session.role;
    RpcCaller caller;
    caller.label = QStringLiteral("web %1 (%2)").arg(client.session.account, client.address);
    caller.check = [role](const QString &m) -> std::optional<RpcError> {
        if (!webroles::leastRole(m))
            return RpcError::methodNotFound(m.left(100));
        if (!webroles::allows(role, m))
            return RpcError{RpcCode::Forbidden, kForbiddenText};
        return std::nullopt;
    };
    caller.present = std::move(present);
    m_services.rpc->handleLine(line, caller, std::move(sink));
}

void WebServer::history(const QHttpServerRequest &request, QTcpSocket *socket, bool download)
{
    const QUrlQuery query = request.query();
    const QDate date = QDate::fromString(query.queryItemValue(QStringLiteral("date")), Qt::ISODate);
    if (!date.isValid()) {
        webreply::error(socket, 400, QStringLiteral("日期不对，应为 年-月-日。"));
        return;
    }
    QList<RingRecord> records;
    try {
        records = m_services.history(date);
    } catch (const StoreError &e) {
        qCWarning(lcWeb).noquote() << "history of" << date << "not read:" << e.text();
        webreply::error(socket, 503, e.text());
        return;
    }
    if (!download) {
        QJsonArray rows;
        for (const RingRecord &r : std::as_const(records))
            rows.append(QJsonObject{{QStringLiteral("cells"), QJsonArray::fromStringList(HistoryReport::cells(r))},
                                    {QStringLiteral("fault"), HistoryReport::isFault(r)}});
        webreply::json(socket, 200,
                       QJsonObject{{QStringLiteral("date"), date.toString(Qt::ISODate)},
                                   {QStringLiteral("columns"), QJsonArray::fromStringList(HistoryReport::columnTitles())},
                                   {QStringLiteral("rows"), rows}});
        return;
    }
    const bool xls = query.queryItemValue(QStringLiteral("format")) != u"csv";
    const HistoryReport::Format format = xls ? HistoryReport::Format::Xls : HistoryReport::Format::Csv;
    const QByteArray body = xls ? HistoryReport::xls(records) : HistoryReport::csv(records);
    const QByteArray name = QUrl::toPercentEncoding(HistoryReport::proposedName(date, date, format));
    webreply::send(socket, 200, xls ? "application/vnd.ms-excel" : "text/csv; charset=utf-8", body,
                   {{"Content-Disposition", "attachment; filename*=UTF-8''" + name}});
}
