#include "rpcpeer.h"
#include "rpclog.h"

#include <QFile>
#include <QLocalSocket>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

RpcPeer rpcPeer(qintptr socketDescriptor)
{
    RpcPeer peer;
    ucred cred{};
    socklen_t length = sizeof cred;
    if (socketDescriptor < 0
        || ::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0
        || length != sizeof cred) {
        qCWarning(lcRpc) << "cannot read the peer of socket" << socketDescriptor << ::strerror(errno);
        return peer;
    }
    peer.valid = true;
    peer.uid = cred.uid;
    peer.gid = cred.gid;
    peer.pid = cred.pid;
    return peer;
}

RpcPeer rpcPeer(const QLocalSocket &socket)
{
    return rpcPeer(socket.socketDescriptor());
}

qint64 rpcRaiseFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        qCWarning(lcRpc) << "cannot read the open files limit:" << ::strerror(errno);
        return -1;
    }
    if (limit.rlim_cur == limit.rlim_max)
        return qint64(limit.rlim_cur);
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        qCWarning(lcRpc) << "cannot raise the open files limit from" << qint64(before) << "to"
                         << qint64(limit.rlim_max) << ::strerror(errno);
        return qint64(before);
    }
    qCInfo(lcRpc) << "open files limit raised from" << qint64(before) << "to"
                  << qint64(limit.rlim_cur);
    return qint64(limit.rlim_cur);
}

bool rpcPrivateFolder(const QString &path)
{
    const QByteArray dir = QFile::encodeName(path);
    struct stat st {};
    return !dir.isEmpty() && ::lstat(dir.constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

bool rpcPathAnswers(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    if (name.isEmpty() || size_t(name.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    const bool answers = rc == 0 || errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return answers;
}
