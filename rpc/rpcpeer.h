#pragma once
// Who is at the other end of a local socket, and the process-wide facts the
// channel depends on. The kernel reports the peer (SO_PEERCRED) as it was
// when the connection was made; it cannot be forged by the client.
#include <QString>
#include <sys/types.h>

class QLocalSocket;

struct RpcPeer {
    bool valid = false;
    uid_t uid = uid_t(-1);
    gid_t gid = gid_t(-1);
    pid_t pid = 0;
};

RpcPeer rpcPeer(qintptr socketDescriptor);
RpcPeer rpcPeer(const QLocalSocket &socket);

// Raises this process's soft limit of open files to its hard limit, so that
// many clients do not make accept() fail; logged. Returns the soft limit now
// in force, or -1 when it cannot be read.
qint64 rpcRaiseFileLimit();

// A folder only this user (and root) can enter: owned by the effective user,
// no rights for group or others, not a symbolic link.
bool rpcPrivateFolder(const QString &path);

// Whether a server accepts connections at this socket path now (without
// waiting: a full backlog counts as answering).
bool rpcPathAnswers(const QString &path);
