#include "rpcmessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

const QString kVersion = QStringLiteral("2.0");

// "…" or "…：why"
QString withReason(const QString &text, const QString &why)
{
    return why.isEmpty() ? text : text + QStringLiteral("：") + why;
}

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool validId(const QJsonValue &id)
{
    return id.isString() || id.isDouble() || id.isNull();
}

RpcMessage invalid(RpcError problem, QJsonValue id = QJsonValue())
{
    RpcMessage m;
    m.kind = RpcMessage::Kind::Invalid;
    m.problem = std::move(problem);
    m.id = std::move(id);
    return m;
}

RpcMessage response(const QJsonObject &o)
{
    RpcMessage m;
    m.kind = RpcMessage::Kind::Response;
    m.id = o.value(QLatin1String("id"));
    if (o.contains(QLatin1String("error")))
        m.result = RpcError::fromJson(o.value(QLatin1String("error")));
    else
        m.result = o.value(QLatin1String("result"));
    return m;
}

} // namespace

RpcError RpcError::parseError()
{
    return {RpcCode::ParseError, QStringLiteral("请求不是有效的 JSON")};
}

RpcError RpcError::invalidRequest(const QString &why)
{
    return {RpcCode::InvalidRequest, withReason(QStringLiteral("请求的格式不对"), why)};
}

RpcError RpcError::methodNotFound(const QString &method)
{
    return {RpcCode::MethodNotFound, QStringLiteral("没有这个命令：%1").arg(method)};
}

RpcError RpcError::invalidParams(const QString &why)
{
    return {RpcCode::InvalidParams, withReason(QStringLiteral("命令的参数不对"), why)};
}

RpcError RpcError::internalError(const QString &why)
{
    return {RpcCode::InternalError, withReason(QStringLiteral("铃声引擎内部出错"), why)};
}

RpcError RpcError::tooManyConnections()
{
    return {RpcCode::TooManyConnections,
            QStringLiteral("连接太多，铃声引擎拒绝了这个连接；请关闭不用的客户端后再试")};
}

RpcError RpcError::noAnswer()
{
    return {RpcCode::NoAnswer, QStringLiteral("铃声引擎没有及时回答")};
}

RpcError RpcError::notConnected()
{
    return {RpcCode::NotConnected, QStringLiteral("连不上铃声引擎（它没有运行，或连接已断开）")};
}

QJsonObject RpcError::toJson() const
{
    QJsonObject o{{QLatin1String("code"), code}, {QLatin1String("message"), message}};
    if (!data.isUndefined())
        o.insert(QLatin1String("data"), data);
    return o;
}

RpcError RpcError::fromJson(const QJsonValue &value)
{
    const QJsonObject o = value.toObject();
    const QJsonValue code = o.value(QLatin1String("code"));
    const QJsonValue message = o.value(QLatin1String("message"));
    if (!code.isDouble() || code.toDouble() != double(code.toInt()) || !message.isString())
        return internalError(QStringLiteral("回答里的错误格式不对"));
    return {code.toInt(), message.toString(), o.value(QLatin1String("data"))};
}

RpcMessage rpcParseLine(const QByteArray &text)
{
    if (text.trimmed().isEmpty())
        return {};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        // QJsonDocument takes only objects and arrays; a bare number or
        // text is valid JSON all the same, just not a request.
        QJsonParseError wrapped{};
        QJsonDocument::fromJson('[' + text + ']', &wrapped);
        return invalid(wrapped.error == QJsonParseError::NoError ? RpcError::invalidRequest()
                                                                  : RpcError::parseError());
    }
    if (doc.isArray())
        return invalid(RpcError::invalidRequest(QStringLiteral("不支持批量请求，请一行发一个")));
    const QJsonObject o = doc.object();
    const QJsonValue id = o.value(QLatin1String("id"));
    const QJsonValue answerId = validId(id) ? id : QJsonValue();
    if (o.value(QLatin1String("jsonrpc")) != kVersion)
        return invalid(RpcError::invalidRequest(QStringLiteral("缺少 \"jsonrpc\": \"2.0\"")), answerId);
    if (!o.contains(QLatin1String("method"))
        && (o.contains(QLatin1String("result")) || o.contains(QLatin1String("error")))
        && o.contains(QLatin1String("id")) && validId(id))
        return response(o);
    const QJsonValue method = o.value(QLatin1String("method"));
    if (!method.isString() || method.toString().isEmpty())
        return invalid(RpcError::invalidRequest(QStringLiteral("缺少命令名 \"method\"")), answerId);
    if (o.contains(QLatin1String("id")) && !validId(id))
        return invalid(RpcError::invalidRequest(QStringLiteral("\"id\" 只能是数字、文字或 null")));
    const QJsonValue params = o.value(QLatin1String("params"));
    if (!params.isUndefined() && !params.isObject() && !params.isArray())
        return invalid(RpcError::invalidRequest(QStringLiteral("\"params\" 只能是对象或数组")),
                       answerId);
    RpcMessage m;
    m.kind = o.contains(QLatin1String("id")) ? RpcMessage::Kind::Request
                                             : RpcMessage::Kind::Notification;
    m.id = id.isUndefined() ? QJsonValue() : id;
    m.method = method.toString();
    m.params = params.isUndefined() ? QJsonValue() : params;
    return m;
}

QByteArray rpcRequestLine(const QJsonValue &id, const QString &method, const QJsonValue &params)
{
    QJsonObject o{{QLatin1String("jsonrpc"), kVersion},
                  {QLatin1String("id"), id},
                  {QLatin1String("method"), method}};
    if (!params.isNull() && !params.isUndefined())
        o.insert(QLatin1String("params"), params);
    return line(o);
}

QByteArray rpcNotificationLine(const QString &method, const QJsonValue &params)
{
    QJsonObject o{{QLatin1String("jsonrpc"), kVersion}, {QLatin1String("method"), method}};
    if (!params.isNull() && !params.isUndefined())
        o.insert(QLatin1String("params"), params);
    return line(o);
}

QByteArray rpcResponseLine(const QJsonValue &id, const RpcResult &result)
{
    QJsonObject o{{QLatin1String("jsonrpc"), kVersion}, {QLatin1String("id"), id}};
    if (result.isError())
        o.insert(QLatin1String("error"), result.error().toJson());
    else
        o.insert(QLatin1String("result"), result.value());
    return line(o);
}

bool RpcLineReader::takeLine(QByteArray *out)
{
    if (m_overflowed)
        return false;
    const qsizetype end = m_buffer.indexOf('\n', m_scanned);
    if (end < 0) {
        m_scanned = m_buffer.size();
        if (m_buffer.size() - m_start > m_maxLine) {
            m_overflowed = true;
            m_buffer.clear();
            m_start = m_scanned = 0;
            return false;
        }
        // Keep only the partial line, so that the buffer never holds more
        // than one line and one read.
        m_buffer.remove(0, m_start);
        m_scanned -= m_start;
        m_start = 0;
        return false;
    }
    const qsizetype length = end - m_start;
    if (length > m_maxLine) {
        m_overflowed = true;
        m_buffer.clear();
        m_start = m_scanned = 0;
        return false;
    }
    *out = m_buffer.mid(m_start, length > 0 && m_buffer.at(end - 1) == '\r' ? length - 1 : length);
    m_start = m_scanned = end + 1;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = m_scanned = 0;
    }
    return true;
}

bool RpcLineReader::takeRest(QByteArray *out)
{
    if (m_overflowed || buffered() == 0)
        return false;
    *out = m_buffer.mid(m_start);
    if (out->endsWith('\r'))
        out->chop(1);
    m_buffer.clear();
    m_start = m_scanned = 0;
    return true;
}
