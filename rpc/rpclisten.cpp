// The listening socket of RpcServer and its upkeep: made private, watched,
// made again when it goes.
#include "rpclog.h"
#include "rpcpeer.h"
#include "rpcserver.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocalServer>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/stat.h>

namespace {

// Re-listening retries after these, growing to the last.
constexpr int kFirstRetryMs = 100;
constexpr int kLastRetryMs = 2000;
// Room for a burst of clients that connect at once (the window, the page,
// scripts after the engine's restart) before connect() has to wait.
constexpr int kBacklog = 256;

quint64 inodeAt(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return quint64(st.st_ino);
}

} // namespace

bool RpcServer::listen(const QString &path)
{
    static std::once_flag raised;
    std::call_once(raised, [] { rpcRaiseFileLimit(); });
    close();
    const QString folder = QFileInfo(path).absolutePath();
    if (!rpcPrivateFolder(folder)) {
        qCWarning(lcRpc).noquote() << "will not listen in" << folder
                                   << "because it is not private to this user";
        return false;
    }
    if (rpcPathAnswers(path)) {
        qCWarning(lcRpc).noquote() << "another server already answers at" << path;
        return false;
    }
    m_path = path;
    if (openListener())
        return true;
    m_path.clear();
    return false;
}

bool RpcServer::isListening() const
{
    return m_listener && m_listener->isListening();
}

bool RpcServer::openListener()
{
    // The old listener's close removes whatever is at the path; at this point
    // that is a dead file or nothing (a live server's path is left alone).
    delete m_listener;
    m_listener = nullptr;
    m_inode = 0;
    QLocalServer::removeServer(m_path);
    auto *listener = new QLocalServer(this);
    listener->setSocketOptions(QLocalServer::UserAccessOption); // the file is 0600
    listener->setListenBacklogSize(kBacklog);
    listener->setMaxPendingConnections(kBacklog);
    if (!listener->listen(m_path)) {
        const QString why = listener->errorString();
        delete listener;
        if (!m_retrying)
            qCWarning(lcRpc).noquote() << "cannot listen at" << m_path << ":" << why
                                       << "; retrying until it can";
        return false;
    }
    // Qt makes it 0700; a socket needs no execute right. The folder is
    // private, so nobody could use the moment before this.
    if (::chmod(QFile::encodeName(m_path).constData(), 0600) != 0)
        qCInfo(lcRpc) << "cannot make" << m_path << "0600:" << ::strerror(errno);
    m_listener = listener;
    m_inode = inodeAt(m_path);
    connect(listener, &QLocalServer::newConnection, this, &RpcServer::admit);
    if (!m_watcher->addPath(m_path))
        qCWarning(lcRpc).noquote() << "cannot watch" << m_path << "; a removed socket is found"
                                   << "only at the next client";
    if (m_retrying)
        qCInfo(lcRpc).noquote() << "listening again at" << m_path;
    else
        qCInfo(lcRpc).noquote() << "listening at" << m_path;
    m_retrying = false;
    m_retry->setInterval(kFirstRetryMs);
    return true;
}

void RpcServer::checkListener()
{
    if (m_path.isEmpty())
        return;
    const quint64 inode = inodeAt(m_path);
    if (isListening() && inode != 0 && inode == m_inode) {
        if (!m_watcher->files().contains(m_path))
            m_watcher->addPath(m_path); // an editor's save, a touch: watched again
        return;
    }
    if (!m_retrying) {
        qCWarning(lcRpc).noquote()
            << (isListening() ? QStringLiteral("the socket file %1 was removed or replaced")
                              : QStringLiteral("the listener at %1 was closed (a failed accept)"))
                   .arg(m_path)
            << "; listening again";
    }
    if (inode != 0 && inode != m_inode && rpcPathAnswers(m_path)) {
        if (!m_retrying)
            qCWarning(lcRpc).noquote() << "another server answers at" << m_path
                                       << "; waiting until it is gone";
        scheduleRetry();
        return;
    }
    if (!openListener())
        scheduleRetry();
}

void RpcServer::scheduleRetry()
{
    const int next = m_retrying ? qMin(m_retry->interval() * 2, kLastRetryMs) : kFirstRetryMs;
    m_retrying = true;
    m_retry->start(next);
}
