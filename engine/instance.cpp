#include "instance.h"
#include "enginefinder.h"
#include "logging.h"
#include "rpcclient.h"
#include "rpcpeer.h"
#include "rpcserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>


namespace {

QString userName(uid_t uid)
{
    return QString::fromLocal8Bit(enginefinder::userName(uid).c_str());
}

} // namespace

Instance::Instance(QString dataFolder, QString socketPath, QObject *parent)
    : QObject(parent), m_dataFolder(std::move(dataFolder)), m_socketPath(std::move(socketPath)),
      m_server(new RpcServer(this))
{
    // A thousand clients of one user (the window, scripts, pages) stay
    // within the open files limit it raises.
    RpcServer::Bounds bounds = m_server->bounds();
    bounds.maxPerUser = kMaxClientsPerUser;
    m_server->setBounds(bounds);
}

Instance::~Instance()
{
    m_server->close(); // removes the socket file
    if (m_lockFd >= 0)
        ::close(m_lockFd); // and with it the lock
}

QString Instance::windowSocketPath(const QString &engineSocket)
{
    if (engineSocket.isEmpty())
        return {};
    const QString base = engineSocket.endsWith(QLatin1String(".sock")) ? engineSocket.chopped(5) : engineSocket;
    return base + QStringLiteral("-window.sock");
}

QString Instance::defaultSocketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && rpcPrivateFolder(runtime))
        return runtime + QStringLiteral("/daling.sock");
    // No runtime folder (a root shell, an old session): one of our own.
    const QByteArray own =
        QFile::encodeName(QDir::tempPath() + QStringLiteral("/daling-%1").arg(::geteuid()));
    ::mkdir(own.constData(), 0700);
    if (rpcPrivateFolder(QFile::decodeName(own)))
        return QFile::decodeName(own) + QStringLiteral("/daling.sock");
    qCWarning(lcApp) << "no private folder for the command socket; a second start cannot"
                             " reach this one";
    return {};
}

bool Instance::askRunning(int timeoutMs, Claim *claim)
{
    if (m_socketPath.isEmpty())
        return false;
    const RpcResult r = rpcCall(m_socketPath, QStringLiteral("Engine.GetStatus"), QJsonValue(), timeoutMs);
    if (r.isError())
        return false;
    const QString folder = r.value().toObject().value(QStringLiteral("dataFolder")).toString();
    const auto clean = [](const QString &f) { return QDir::cleanPath(QDir(f).absolutePath()); };
    if (clean(folder) == clean(m_dataFolder)) {
        qCInfo(lcApp) << "already running on this data folder";
        *claim = Claim::AlreadyRunning;
        return true;
    }
    m_otherFolder = folder.isEmpty() ? QStringLiteral("?") : folder;
    qCWarning(lcApp).noquote() << refusalText();
    *claim = Claim::Refused;
    return true;
}

Instance::Claim Instance::claim(int waitMs)
{
    Claim answered = Claim::First;
    if (askRunning(2000, &answered))
        return answered;
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
        if (askRunning(500, &answered))
            return answered;
    }
    // A socket left by a copy that ended without closing: nobody answered on
    // it above, and the data folder's lock is ours.
    if (!m_socketPath.isEmpty() && !m_server->listen(m_socketPath))
        qCWarning(lcApp) << "the channel does not listen at" << m_socketPath
                         << "; a second start or a script cannot reach this one";
    return Claim::First;
}

bool Instance::takeLock()
{
    QDir().mkpath(m_dataFolder);
    const QByteArray path = QFile::encodeName(QDir(m_dataFolder).filePath(m_lockName));
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

QString Instance::alreadyRunningText()
{
    return QStringLiteral("这个数据文件夹的铃声系统已经在运行。");
}

QString Instance::refusalText() const
{
    if (!m_otherFolder.isEmpty())
        return QStringLiteral("铃声系统已经在运行，但用的是另一个数据文件夹（%1）。\n"
                              "同一个用户同时只能运行一份铃声系统，所以这一份不再启动。"
                              "请先退出那一份，或从那个文件夹的程序操作。")
            .arg(QDir::toNativeSeparators(m_otherFolder));
    const QString who = m_holderName.isEmpty() ? QStringLiteral("另一个用户")
                                               : QStringLiteral("用户「%1」").arg(m_holderName);
    return QStringLiteral("铃声系统已经在运行：%1正在用同一个铃声列表打铃（%2）。\n"
                          "同时运行两份会让每个铃声响两次，所以这一份不再启动。"
                          "请到该用户的桌面操作铃声系统，或请其先退出。")
        .arg(who, QDir::toNativeSeparators(m_dataFolder));
}
