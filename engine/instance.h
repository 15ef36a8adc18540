#pragma once
// One engine per desktop. Two running copies would ring every bell twice,
// a few milliseconds apart (the two sounds partly cancel), and write every
// record twice. So a start first asks a running copy of this user to show
// its window, through a local socket in the user's runtime folder; then it
// takes an advisory lock on a file in data/, which also keeps a second
// account (fast user switching) from ringing the same list. The lock is
// taken twice on one descriptor: flock, which a second Instance in the same
// process meets too, and a whole-file fcntl write lock, through which the
// emergency command finds this process (enginefinder.h). A process that
// holds it must never open and close data/daling.lock elsewhere: closing
// any descriptor of the file drops the process's fcntl locks.
//
// The socket carries a small line protocol that later commands use too: one
// command per connection, a line "<word>[ <argument>]\n", answered by one
// line "ok[ <text>]\n" or "error <text>\n".
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

class Instance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        First,          // this process is the engine; the channel listens
        AlreadyRunning, // a copy of this user answered and was asked to show itself
        Refused,        // the data folder is held by another copy that does not answer
    };
    // What a command answers: "ok …" or "error …", without the line end.
    using Handler = std::function<QByteArray(const QByteArray &argument)>;
    // A command that answers later (once a sound has started): it calls
    // reply exactly once, at the latest before the client's timeout.
    using Reply = std::function<void(const QByteArray &answer)>;
    using AsyncHandler = std::function<void(const QByteArray &argument, Reply reply)>;

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
    // The user of the copy that holds the lock (from its process, else from
    // the name it wrote in the lock file).
    QString holder() const { return m_holderName; }

    // Answers the command word with handler (the engine's side).
    void handle(const QByteArray &command, Handler handler);
    void handleAsync(const QByteArray &command, AsyncHandler handler);

    // Sends one command line and returns the answer line without its end;
    // nothing when no copy answers in time.
    static std::optional<QByteArray> send(const QString &socketPath, const QByteArray &line,
                                          int timeoutMs = 2000);
    // $XDG_RUNTIME_DIR/daling.sock, or a private folder of this user in the
    // temporary folder; empty when neither is private to this user.
    static QString defaultSocketPath();
    static QString lockFileName() { return QStringLiteral("daling.lock"); }

private:
    bool takeLock();
    void readHolder();
    bool listen();
    void serve(QLocalSocket *socket);
    void answer(const QByteArray &line, const Reply &reply) const;

    QString m_dataFolder;
    QString m_socketPath;
    int m_lockFd = -1;
    QString m_holderName;
    qint64 m_holderUid = -1;
    QLocalServer *m_server = nullptr;
    QHash<QByteArray, AsyncHandler> m_handlers;
};
