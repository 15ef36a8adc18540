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
#include <functional>
#include <mutex>
#include <sys/stat.h>

namespace {

// Re-listening retries after these, growing to the last.
constexpr int kFirstRetryMs = 100;
constexpr int kLastRetryMs = 2000;
// Room for a burst of clients that connect at once (the window, the page,
// scripts after the engine's restart) before connect() has to wait.
constexpr int kBacklog = 256;

// Hands each accepted descriptor to the server as it is, without a
// QLocalSocket (see rpcconnection.h).
class Listener final : public QLocalServer {
public:
    Listener(std::function<void(int)> admit, QObject *parent)
        : QLocalServer(parent), m_admit(std::move(admit))
    {
    }

protected:
    void incomingConnection(quintptr socketDescriptor) override { m_admit(int(socketDescriptor)); }

private:
    std::function<void(int)> m_admit;
};

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
    // Clients already in the old socket's backlog are taken first. Then the
    // old listener's close removes whatever is at the path; at this point
    // that is a dead file or nothing (a live server's path is left alone).
    bool none = false;
    for (int i = 0; i < kBacklog && !none && m_listener && m_listener->isListening(); ++i)
        m_listener->waitForNewConnection(0, &none);
    delete m_listener;
    m_listener = nullptr;
    m_inode = 0;
    // The folder may have been made again since (a session's runtime folder).
    if (!rpcPrivateFolder(QFileInfo(m_path).absolutePath())) {
        if (!m_retrying)
            qCWarning(lcRpc).noquote()
                << QStringLiteral("cannot listen at %1: its folder is missing or not private")
                       .arg(m_path);
        return false;
    }
    QLocalServer::removeServer(m_path);
    auto *listener = new Listener([this](int fd) { admit(fd); }, this);
    listener->setSocketOptions(QLocalServer::UserAccessOption); // the file is 0600
    listener->setListenBacklogSize(kBacklog);
    if (!listener->listen(m_path)) {
        const QString why = listener->errorString();
        delete listener;
        if (!m_retrying)
            qCWarning(lcRpc).noquote()
                << QStringLiteral("cannot listen at %1: %2").arg(m_path, why);
        return false;
    }
    // Qt makes it 0700; a socket needs no execute right. The folder is
    // private, so nobody could use the moment before this.
    if (::chmod(QFile::encodeName(m_path).constData(), 0600) != 0)
        qCInfo(lcRpc) << "cannot make" << m_path << "0600:" << ::strerror(errno);
    m_listener = listener;
    m_inode = inodeAt(m_path);
    // The old file's watch (a removed socket's inode lives on while bound)
    // is left for the new file's.
    if (m_watcher->files().contains(m_path))
        m_watcher->removePath(m_path);
    if (!m_watcher->addPath(m_path))
        qCWarning(lcRpc).noquote()
            << QStringLiteral("cannot watch %1; its removal goes unnoticed").arg(m_path);
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
            << (isListening() ? QStringLiteral("the socket file %1 was removed or replaced; listening again")
                              : QStringLiteral("the listener at %1 was closed (a failed accept); listening again"))
                   .arg(m_path);
    }
    if (inode != 0 && inode != m_inode && rpcPathAnswers(m_path)) {
        if (!m_retrying)
            qCWarning(lcRpc).noquote()
                << QStringLiteral("another server answers at %1; waiting until it is gone").arg(m_path);
        scheduleRetry();
        return;
    }
    if (!openListener())
        scheduleRetry();
}

void RpcServer::scheduleRetry()
{
    if (!m_retrying)
        qCInfo(lcRpc).noquote() << "retrying every" << kFirstRetryMs << "to" << kLastRetryMs
                                << "ms until it can listen";
    const int next = m_retrying ? qMin(m_retry->interval() * 2, kLastRetryMs) : kFirstRetryMs;
    m_retrying = true;
    m_retry->start(next);
}
