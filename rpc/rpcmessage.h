#pragma once
// JSON-RPC 2.0 as this channel frames it: one JSON object per line, UTF-8,
// ended by '\n' (a '\r' before it is ignored, blank lines are skipped), so a
// session can be typed by hand. Shared by the server and the client.
//
// Error codes: the protocol's own (-32700 … -32603), the channel's
// (-32000 … -32099) and the methods' application errors (positive codes, each
// with a message in Chinese, the text the window shows the operator).
#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <concepts>
#include <utility>

namespace RpcCode {
constexpr int ParseError = -32700;     // not JSON
constexpr int InvalidRequest = -32600; // JSON, but not a request (batches included)
constexpr int MethodNotFound = -32601;
constexpr int InvalidParams = -32602;
constexpr int InternalError = -32603;  // the method failed or never answered
constexpr int TooManyConnections = -32000; // sent before the server closes a refused connection
constexpr int Forbidden = -32003;      // the remote control's account may not call the method
// Made by the client itself, never sent by the server.
constexpr int NoAnswer = -32001;       // no answer within the time given
constexpr int NotConnected = -32002;   // no engine at the socket, or the connection ended
} // namespace RpcCode

struct RpcError {
    int code = 0;
    QString message;
    QJsonValue data = QJsonValue::Undefined; // left out of the message when undefined

    static RpcError parseError();
    static RpcError invalidRequest(const QString &why = {});
    static RpcError methodNotFound(const QString &method);
    static RpcError invalidParams(const QString &why = {});
    static RpcError internalError(const QString &why = {});
    static RpcError tooManyConnections();
    static RpcError noAnswer();
    static RpcError notConnected();

    QJsonObject toJson() const;
    // A malformed error object becomes an internal error that says so.
    static RpcError fromJson(const QJsonValue &value);
};

// What a method answers: a result or an error.
class RpcResult {
public:
    RpcResult() = default; // a null result
    RpcResult(RpcError error) : m_error(std::move(error)), m_isError(true) {}
    template <typename T>
        requires(std::constructible_from<QJsonValue, T> && !std::same_as<std::decay_t<T>, RpcError>
                 && !std::same_as<std::decay_t<T>, RpcResult>)
    RpcResult(T &&value) : m_value(QJsonValue(std::forward<T>(value)))
    {
    }

    bool isError() const { return m_isError; }
    const QJsonValue &value() const { return m_value; }
    const RpcError &error() const { return m_error; }

private:
    QJsonValue m_value;
    RpcError m_error;
    bool m_isError = false;
};

// One line read from the channel.
struct RpcMessage {
    enum class Kind {
        Empty,        // a blank line: nothing to do
        Request,      // has an id: answered
        Notification, // no id: never answered
        Response,     // a result or an error for an id
        Invalid,      // answered with problem (parse error or invalid request)
    };
    Kind kind = Kind::Empty;
    QJsonValue id;     // Request, Response; null where it could not be read
    QString method;    // Request, Notification
    QJsonValue params; // Request, Notification: object, array, or null when absent
    RpcResult result;  // Response
    RpcError problem;  // Invalid
};

RpcMessage rpcParseLine(const QByteArray &line);

// The lines themselves, each ended by '\n'.
QByteArray rpcRequestLine(const QJsonValue &id, const QString &method, const QJsonValue &params);
QByteArray rpcNotificationLine(const QString &method, const QJsonValue &params);
QByteArray rpcResponseLine(const QJsonValue &id, const RpcResult &result);

// Splits what a socket delivers into lines: partial lines wait for their
// end, several lines in one read come out one by one. A line longer than
// maxLine bytes (its end not counted) marks the reader overflowed; it then
// gives no more lines. Scans each byte once, however slowly it arrives.
class RpcLineReader {
public:
    explicit RpcLineReader(qsizetype maxLine) : m_maxLine(maxLine) {}
    void append(const QByteArray &bytes)
    {
        if (!m_overflowed)
            m_buffer.append(bytes);
    }
    // The next complete line without its end; false when none is complete.
    bool takeLine(QByteArray *line);
    // What is left after the last complete line, as a line of its own (for
    // a stream that has ended); false when nothing is left.
    bool takeRest(QByteArray *line);
    bool overflowed() const { return m_overflowed; }
    qsizetype buffered() const { return m_buffer.size() - m_start; }

private:
    qsizetype m_maxLine;
    QByteArray m_buffer;
    qsizetype m_start = 0;   // where the current line begins
    qsizetype m_scanned = 0; // bytes before this hold no line end
    bool m_overflowed = false;
};
