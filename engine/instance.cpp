#include "instance.h"
#include "enginefinder.h"
#include "logging.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>


namespace {

// A command line longer than this is refused; none of ours comes near it.
constexpr qsizetype kMaxLine = 4096;
// A client that connects and says nothing is dropped after this long.
constexpr int kClientTimeoutMs = 5000;

QString userName(uid_t uid)
{
    return QString::fromLocal8Bit(enginefinder::userName(uid).c_str());
}

// A folder only this user (and root) can enter.
bool privateFolder(const QByteArray &dir)
{
    struct stat st {};
    return !dir.isEmpty() && ::lstat(dir.constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

} // namespace

Instance::Instance(QString dataFolder, QString socketPath, QObject *parent)
    : QObject(parent), m_dataFolder(std::move(dataFolder)), m_socketPath(std::move(socketPath))
{
}

Instance::~Instance()
{
    if (m_server)
        m_server->close(); // removes the socket file
    if (m_lockFd >= 0)
        ::close(m_lockFd); // and with it the lock
}

QString Instance::defaultSocketPath()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (privateFolder(runtime))
        return QFile::decodeName(runtime) + QStringLiteral("/daling.sock");
    // No runtime folder (a root shell, an old session): one of our own.
    const QByteArray own =
        QFile::encodeName(QDir::tempPath() + QStringLiteral("/daling-%1").arg(::geteuid()));
    ::mkdir(own.constData(), 0700);
    if (privateFolder(own))
        return QFile::decodeName(own) + QStringLiteral("/daling.sock");
    qCWarning(lcApp) << "no private folder for the command socket; a second start cannot"
                             " reach this one";
    return {};
}

Instance::Claim Instance::claim(int waitMs)
{
    const auto raised = [this](int timeoutMs) {
        if (m_socketPath.isEmpty())
            return false;
        const std::optional<QByteArray> reply = send(m_socketPath, "raise", timeoutMs);
        return reply && reply->startsWith("ok");
    };
    if (raised(2000)) {
        qCInfo(lcApp) << "already running: asked it to show its window";
        return Claim::AlreadyRunning;
    }
    QElapsedTimer waited;
    waited.start();
    while (!takeLock()) {
        // The same user may be starting it this very moment: give that copy
        // time to open its channel. Another account's copy never answers here.
        if (m_holderUid != qint64(::geteuid()) || waited.elapsed() > waitMs) {
            qCWarning(lcApp).noquote() << refusalText();
            return Claim::Refused;
        }
        QThread::msleep(100);
        if (raised(500))
            return Claim::AlreadyRunning;
    }
    listen();
    return Claim::First;
}

bool Instance::takeLock()
{
    QDir().mkpath(m_dataFolder);
    const QByteArray path = QFile::encodeName(QDir(m_dataFolder).filePath(lockFileName()));
    // Never through a symbolic link; O_NONBLOCK so that a planted pipe cannot hold the start.
    const int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | flags, 0664);
    if (fd >= 0)
        ::fchmod(fd, 0664); // the other operators (the folder's group) lock it too
    else if (errno == EEXIST && (fd = ::open(path.constData(), O_RDWR | flags)) < 0)
        fd = ::open(path.constData(), O_RDONLY | flags); // a lock needs no write right
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        qCWarning(lcApp).noquote()
            << QStringLiteral("cannot use the lock file %1 (%2); runs without it")
                   .arg(QFile::decodeName(path), QString::fromLocal8Bit(::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_lockFd = fd;
        readHolder();
        ::close(fd);
        m_lockFd = -1;
        return false;
    }
    // The same lock as a record lock, which the emergency command can see
    // with its holder's pid (flock keeps no pid). It needs the file open for
    // writing, as only root and the operators' group have it.
    struct flock record {};
    record.l_type = F_WRLCK;
    record.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &record) != 0)
        qCWarning(lcApp).noquote()
            << QStringLiteral("the emergency command cannot find this copy: no record lock on %1 (%2)")
                   .arg(QFile::decodeName(path), QString::fromLocal8Bit(::strerror(errno)));
    // Who holds it, for the message a second account gets.
    const QByteArray line = QStringLiteral("%1 %2 %3\n")
                                .arg(userName(::geteuid()))
                                .arg(::geteuid())
                                .arg(::getpid())
                                .toUtf8();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, line.constData(), line.size(), 0) != line.size())
        qCInfo(lcApp) << "lock taken, but the holder's name could not be written";
    m_lockFd = fd;
    m_holderName = userName(::geteuid());
    m_holderUid = ::geteuid();
    return true;
}

void Instance::readHolder()
{
    // The process that holds the record lock is surer than the file's text,
    // which any operator may rewrite; the text names a holder of an older
    // version, which took no record lock.
    std::string why;
    if (const auto h = enginefinder::holderOf(m_lockFd, &why); h && h->pid > 0) {
        m_holderName = userName(h->uid);
        m_holderUid = h->uid;
        return;
    }
    char buf[256];
    const ssize_t n = ::pread(m_lockFd, buf, sizeof buf - 1, 0);
    const QList<QByteArray> parts =
        QByteArray(buf, n > 0 ? n : 0).trimmed().split(' ');
    m_holderName = parts.value(0).isEmpty() ? QString() : QString::fromUtf8(parts.value(0));
    bool ok = false;
    const qint64 uid = parts.value(1).toLongLong(&ok);
    m_holderUid = ok ? uid : -1;
}

QString Instance::refusalText() const
{
    const QString who = m_holderName.isEmpty() ? QStringLiteral("另一个用户")
                                               : QStringLiteral("用户「%1」").arg(m_holderName);
    return QStringLiteral("铃声系统已经在运行：%1正在用同一个铃声列表打铃（%2）。\n"
                          "同时运行两份会让每个铃声响两次，所以这一份不再启动。"
                          "请到该用户的桌面操作铃声系统，或请其先退出。")
        .arg(who, QDir::toNativeSeparators(m_dataFolder));
}

bool Instance::listen()
{
    if (m_socketPath.isEmpty())
        return false;
    m_server = new QLocalServer(this);
    // The runtime folder is private already; the socket is made so as well.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a copy that ended without closing: nobody answered on
    // it above, and the data folder's lock is ours.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath)) {
        qCWarning(lcApp) << "cannot listen on" << m_socketPath << m_server->errorString();
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *s = m_server->nextPendingConnection())
            serve(s);
    });
    return true;
}

void Instance::handle(const QByteArray &command, Handler handler)
{
    m_handlers.insert(command, [handler = std::move(handler)](const QByteArray &argument, Reply reply) {
        reply(handler(argument));
    });
}

void Instance::handleAsync(const QByteArray &command, AsyncHandler handler)
{
    m_handlers.insert(command, std::move(handler));
}

void Instance::serve(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kClientTimeoutMs, socket, [socket] { socket->abort(); });
    struct Pending {
        QByteArray text;
        bool answered = false; // one command per connection
    };
    auto pending = std::make_shared<Pending>();
    auto read = [this, socket, pending] {
        if (pending->answered)
            return;
        pending->text += socket->readAll();
        const qsizetype end = pending->text.indexOf('\n');
        if (end < 0 && pending->text.size() <= kMaxLine)
            return;
        pending->answered = true;
        const QPointer<QLocalSocket> to(socket);
        const Reply reply = [to](const QByteArray &text) {
            if (!to)
                return; // the client went away meanwhile
            to->write(text + '\n');
            to->disconnectFromServer();
        };
        if (end < 0 || end > kMaxLine)
            reply("error line too long");
        else
            answer(pending->text.left(end), reply);
    };
    connect(socket, &QLocalSocket::readyRead, socket, read);
    if (socket->bytesAvailable() > 0)
        read();
}

void Instance::answer(const QByteArray &line, const Reply &reply) const
{
    const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
    const qsizetype space = text.indexOf(' ');
    const QByteArray word = space < 0 ? text : text.left(space);
    const QByteArray argument = space < 0 ? QByteArray() : text.mid(space + 1);
    const auto it = m_handlers.constFind(word);
    if (it == m_handlers.constEnd()) {
        qCInfo(lcApp) << "unknown command on the socket:" << word.left(64);
        reply("error unknown command");
        return;
    }
    try {
        (*it)(argument, reply);
    } catch (const std::exception &e) {
        qCWarning(lcApp) << "command" << word << "failed:" << e.what();
        reply(QByteArray("error ") + e.what());
    }
}

std::optional<QByteArray> Instance::send(const QString &socketPath, const QByteArray &line,
                                         int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    QLocalSocket s;
    s.connectToServer(socketPath);
    if (!s.waitForConnected(timeoutMs))
        return std::nullopt;
    s.write(line.endsWith('\n') ? line : line + '\n');
    QByteArray reply;
    while (!reply.contains('\n')) {
        const int left = timeoutMs - int(t.elapsed());
        if (left <= 0 || !s.waitForReadyRead(left))
            break;
        reply += s.readAll();
    }
    const qsizetype end = reply.indexOf('\n');
    if (end < 0)
        return std::nullopt;
    return reply.left(end);
}
