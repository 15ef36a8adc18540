#pragma once
// Helpers of the channel's tests: a private socket folder, a raw client that
// misbehaves on purpose (the server runs in the test's own event loop, so
// every wait here keeps that loop turning), and a server on a thread of its
// own for the blocking calls.
#include "rpcserver.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// A folder private to this user (QTemporaryDir makes it 0700) with the path
// of the socket in it.
struct SocketFolder {
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("daling.sock")); }
};

inline void spin(int ms = 10)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
}

// A client on a bare file descriptor: reads only when told to.
class RawClient {
public:
    RawClient() = default;
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;
    ~RawClient() { close(); }

    // Non-blocking, so that a full backlog never blocks the test's thread
    // (the server that would empty it runs on this thread).
    bool connectTo(const QString &path, int timeoutMs = 5000)
    {
        const QByteArray name = QFile::encodeName(path);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (m_fd < 0)
                return false;
            if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
                return true;
            close();
            if (errno != EAGAIN)
                return false;
            spin(5);
        }
        return false;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int fd() const { return m_fd; }

    // Writes everything, turning the event loop while the server's side is full.
    bool send(const QByteArray &bytes, int timeoutMs = 10000)
    {
        qsizetype done = 0;
        const QDeadlineTimer deadline(timeoutMs);
        while (done < bytes.size() && !deadline.hasExpired()) {
            const ssize_t n = ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done),
                                     MSG_NOSIGNAL);
            if (n > 0)
                done += n;
            else if (n < 0 && errno != EAGAIN)
                return false;
            else
                spin(1);
        }
        return done == bytes.size();
    }
    // Takes what has arrived; false once the server has closed (or on error).
    bool pump()
    {
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n > 0) {
                m_in.append(chunk, n);
                continue;
            }
            if (n == 0)
                m_closed = true;
            return n < 0 && errno == EAGAIN;
        }
    }
    // The next line without its end; empty on timeout or when closed first.
    QByteArray readLine(int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            pump();
            const qsizetype end = m_in.indexOf('\n');
            if (end >= 0) {
                const QByteArray line = m_in.left(end);
                m_in.remove(0, end + 1);
                return line;
            }
            if (m_closed || deadline.hasExpired())
                return {};
            spin(5);
        }
    }
    // Waits for the server to close this connection.
    bool waitClosed(int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_closed && !deadline.hasExpired()) {
            pump();
            spin(5);
        }
        return m_closed;
    }
    QByteArray &received() { return m_in; }

private:
    int m_fd = -1;
    QByteArray m_in;
    bool m_closed = false;
};

// An RpcServer living on a thread of its own, for clients that block.
class ServerThread {
public:
    ServerThread(const QString &path, const std::function<void(RpcServer &)> &setup)
    {
        m_thread.start();
        m_server = new RpcServer;
        m_server->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_server,
            [this, path, setup] {
                setup(*m_server);
                m_listening = m_server->listen(path);
            },
            Qt::BlockingQueuedConnection);
    }
    ~ServerThread()
    {
        QMetaObject::invokeMethod(m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    bool listening() const { return m_listening; }
    // Runs f on the server's thread and waits for it.
    void run(const std::function<void(RpcServer &)> &f)
    {
        QMetaObject::invokeMethod(m_server, [this, f] { f(*m_server); }, Qt::BlockingQueuedConnection);
    }

private:
    QThread m_thread;
    RpcServer *m_server = nullptr;
    bool m_listening = false;
};

inline QByteArray request(int id, const QString &method, const QJsonValue &params = QJsonValue())
{
    return rpcRequestLine(id, method, params);
}

inline QJsonObject parsed(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object();
}

// A server with the methods the robustness tests call, at a private path.
struct ServerFixture {
    SocketFolder folder;
    RpcServer *server = nullptr;

    bool start()
    {
        server = new RpcServer;
        server->registerMethod("Engine.Ping", [](const QJsonValue &) { return QJsonValue("pong"); });
        server->registerMethod("Test.Big", [](const QJsonValue &) {
            return QJsonValue(QString(100 * 1024, QLatin1Char('x')));
        });
        server->registerMethod("Test.Echo", [](const QJsonValue &p) { return p; });
        return server->listen(folder.path());
    }
    void stop()
    {
        delete server;
        server = nullptr;
        ::chmod(QFile::encodeName(folder.dir.path()).constData(), 0700); // opened by a test
    }
    // One Engine.Ping on a connection of its own.
    bool pingAnswers()
    {
        RawClient raw;
        if (!raw.connectTo(folder.path(), 1000) || !raw.send(request(1, "Engine.Ping")))
            return false;
        return parsed(raw.readLine(3000)).value("result") == QJsonValue("pong");
    }
};
