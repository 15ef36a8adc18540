#pragma once
// One engine per desktop. Two running copies would ring every bell twice,
// a few milliseconds apart (the two sounds partly cancel), and write every
// record twice. So a start first asks a running copy of this user, through
// a local socket in the user's runtime folder (below); then it takes an advisory lock on a file in data/, which also keeps a second
// account (fast user switching) from ringing the same list. The lock is
// taken twice on one descriptor: flock, which a second Instance in the same
// process meets too, and a whole-file fcntl write lock, through which the
// emergency command finds this process (enginefinder.h). A process that
// holds it must never open and close data/daling.lock elsewhere: closing
// any descriptor of the file drops the process's fcntl locks.
//
// The process that holds the lock serves the engine's JSON-RPC channel
// (server(); EngineApi registers its methods there) at defaultSocketPath().
// A later start asks it Engine.GetStatus: a copy of the same data folder
// means this one is not needed (the window then asks it Window.Raise); a
// copy of another folder holds the user's one socket, and this start is
// refused with that folder's name.
#include <QObject>
#include <QString>

class RpcServer;

class Instance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        First,          // this process is the engine; the channel listens
        AlreadyRunning, // a copy of this user runs this data folder and answers
        Refused,        // the folder is held by a copy that does not answer, or the
                        // copy that answers runs another folder
    };

    // dataFolder: where the lock file lives; socketPath: the channel (empty:
    // no channel, as where the user has no private runtime folder).
    explicit Instance(QString dataFolder, QString socketPath = defaultSocketPath(),
                      QObject *parent = nullptr);
    ~Instance() override;

    // waitMs: how long a copy of this same user that holds the lock but does
    // not answer yet (it is starting) is given to answer.
    Claim claim(int waitMs = 5000);
    // For Refused: who runs the bells, in the operator's words.
    QString refusalText() const;
    // For AlreadyRunning, in the operator's words.
    static QString alreadyRunningText();
    // The user of the copy that holds the lock (from its process, else from
    // the name it wrote in the lock file).
    QString holder() const { return m_holderName; }

    // The channel: listening once claim() has answered First.
    RpcServer &server() { return *m_server; }
    QString socketPath() const { return m_socketPath; }
    // $XDG_RUNTIME_DIR/daling.sock, or a private folder of this user in the
    // temporary folder; empty when neither is private to this user.
    static QString defaultSocketPath();
    static QString lockFileName() { return QStringLiteral("daling.lock"); }
    // The window keeps a lock and a channel of its own (one window per
    // desktop) beside the engine's: another file, another socket.
    void setLockName(const QString &name) { m_lockName = name; }
    static QString windowLockFileName() { return QStringLiteral("daling-window.lock"); }
    // The window's channel beside the engine's socket; empty when that is.
    static QString windowSocketPath(const QString &engineSocket);
    // Connections the channel keeps open per user at once.
    static constexpr int kMaxClientsPerUser = 2000;

private:
    bool takeLock();
    void readHolder();
    // Asks the copy at the socket which folder it runs; false when none answers.
    bool askRunning(int timeoutMs, Claim *claim);

    QString m_dataFolder;
    QString m_socketPath;
    QString m_lockName = lockFileName();
    int m_lockFd = -1;
    QString m_holderName;
    qint64 m_holderUid = -1;
    QString m_otherFolder; // the folder of the copy that answered, when not ours
    RpcServer *m_server;
};
