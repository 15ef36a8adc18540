#include "webreply.h"

#include <QJsonDocument>
#include <QTcpSocket>

namespace {

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 413: return "Payload Too Large";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

namespace webreply {

void send(QTcpSocket *socket, int status, const QByteArray &type, const QByteArray &body, const Headers &extra,
          bool close)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    if (!type.isEmpty())
        out += "Content-Type: " + type + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\n"
           "Referrer-Policy: no-referrer\r\n"
           "Content-Security-Policy: default-src 'self'; connect-src 'self'; img-src 'self' data:; "
           "frame-ancestors 'none'\r\n";
    for (const auto &[key, value] : extra)
        out += key + ": " + value + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    out += "\r\n";
    out += body;
    socket->write(out);
    if (close)
        socket->disconnectFromHost();
}

void json(QTcpSocket *socket, int status, const QJsonObject &body, const Headers &extra)
{
    send(socket, status, "application/json; charset=utf-8", QJsonDocument(body).toJson(QJsonDocument::Compact),
         extra);
}

void error(QTcpSocket *socket, int status, const QString &text, bool close)
{
    send(socket, status, "application/json; charset=utf-8",
         QJsonDocument(QJsonObject{{QStringLiteral("error"), text}}).toJson(QJsonDocument::Compact), {}, close);
}

} // namespace webreply
