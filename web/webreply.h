#pragma once
// HTTP answers written straight to the client's socket, so that one can be
// given later (a login's hash, a method that answers once a sound starts)
// while the socket lives. Every answer forbids caching and framing.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>

class QTcpSocket;

namespace webreply {
using Headers = QList<QPair<QByteArray, QByteArray>>;
// Nothing happens when socket is null (the client has gone).
void send(QTcpSocket *socket, int status, const QByteArray &type, const QByteArray &body,
          const Headers &extra = {}, bool close = false);
void json(QTcpSocket *socket, int status, const QJsonObject &body, const Headers &extra = {});
// {"error": text}
void error(QTcpSocket *socket, int status, const QString &text, bool close = false);
} // namespace webreply
