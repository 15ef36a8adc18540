#pragma once
// A client's connection to the engine that runs the bells of one data
// folder, over the engine's JSON-RPC API (docs/api.md) on its local socket
// (the window passes Instance::defaultSocketPath(); this library links no
// engine part).
//
// start() connects and asks Engine.GetStatus which data folder the engine
// serves: only the engine of this folder is used; another one is refused
// with a text naming its folder (refused()). Once it is ours, ready() tells
// the status; the notifications then come as typed signals. When the
// connection ends, lost() tells it (once), and the link connects again by
// itself, 0.1 s later and then less often, up to every 2 s; each new
// connection sends ready() again, after which a client reads the state anew
// (notifications of the time between are lost).
//
// Each call answers its callback exactly once, on this object's thread:
// with the result, or with an error whose text is what the operator is told
// (the engine's own Chinese text for code 1 and 2, kLostText and kNotReady
// when there is no engine to ask). A call made while no engine is ready is
// answered with an error at once (from the event loop, never inside the call).
// A call the engine does not answer in time ends the connection as lost: a
// hung engine is told like a gone one, and a new connection finds out
// whether it answers again (DayFeed's reading of the clock each minute makes
// sure there is such a call).
#include "enginetypes.h"
#include "rpcmessage.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

class RpcClient;

struct LinkError {
    int code = 0; // RpcCode, or the engine's own (1: refused or failed, 2: no window)
    QString text;
};

// A result or an error.
template <typename T> struct LinkResult {
    T value{};
    std::optional<LinkError> error;
    bool ok() const { return !error; }
};
struct LinkDone {}; // a result that carries nothing

class EngineLink : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,       // not started, or stopped
        Connecting, // waiting for the socket or for Engine.GetStatus
        Ready,      // the engine of this data folder answers
        Waiting,    // no engine, or it was lost: the next try is scheduled
        Refused,    // the engine there serves another folder: tried again later
    };
    // Application errors of the API.
    static constexpr int kRefusedCode = 1;
    static constexpr int kNoWindowCode = 2;

    static inline const QString kLostText = QStringLiteral("与铃声引擎的连接断开了，正在重新连接…");
    static inline const QString kNotReady = QStringLiteral("铃声引擎没有运行，或还没有连上。");
    static inline const QString kOtherFolder = QStringLiteral("这个铃声引擎服务的是另一个数据文件夹：%1");

    // The pace of reconnecting: the first try soon, then doubling up to the last.
    static constexpr int kFirstRetryMs = 100;
    static constexpr int kMaxRetryMs = 2000;
    // How long a call may wait for its answer (Emergency.Start waits for its
    // sound to settle, so its own limit is longer).
    static constexpr int kCallTimeoutMs = 10000;
    static constexpr int kEmergencyTimeoutMs = 30000;

    // dataFolder: this client's data folder (with or without its final '/').
    EngineLink(QString dataFolder, QString socketPath, QObject *parent = nullptr);
    ~EngineLink() override;

    void start();
    void stop();
    State state() const { return m_state; }
    bool isReady() const { return m_state == State::Ready; }
    // What the window's band says of the link: empty while ready, else why
    // there is no engine to ask (the same text a call is answered with).
    QString stateText() const;
    // The engine's last status: from ready() on, what Engine.GetStatus said.
    const EngineStatus &status() const { return m_status; }
    QString socketPath() const { return m_socketPath; }
    // The delay before the next try while Waiting or Refused.
    int retryDelayMs() const { return m_retryMs; }

    template <typename T> using Done = std::function<void(const LinkResult<T> &)>;

    void rpcVersion(Done<QJsonObject> done); // Server.GetRPCVersion
    void getStatus(Done<EngineStatus> done);
    void getBells(Done<EngineDay> done);
    void setMode(bool running, Done<bool> done);       // the mode now: true = running
    void reloadBells(Done<LinkDone> done);
    void testPlay(qint64 bellId, Done<LinkDone> done);
    void testStop(Done<LinkDone> done);
    void startEmergency(const EmergencyRequest &request, Done<QString> done);
    // origin: a window's "button", "tray" or "adhoc" (the record names it).
    void stopEmergency(Done<QString> done, const QString &origin = {});
    void raiseWindow(Done<LinkDone> done);
    // Any method, untyped: for what this link does not know yet.
    void call(const QString &method, const QJsonValue &params, Done<QJsonValue> done,
              int timeoutMs = kCallTimeoutMs);

    // The text for an error of the channel or of the engine.
    static QString errorText(const RpcError &error);
    // Whether two data folders are the same (links and a final '/' aside).
    static bool sameFolder(const QString &a, const QString &b);

signals:
    void stateChanged(EngineLink::State state);
    void ready(const EngineStatus &status);
    void lost(const QString &text);
    void refused(const QString &text);

    void bellStatus(const EngineBellStatus &status);
    void dayChanged(const QDate &date, bool running);
    void modeChanged(bool running);
    void emergencyChanged(bool active);
    void bandsChanged(const QList<EngineBand> &bands);
    void testChanged(bool testing);
    void playbackChanged(const EnginePlaying &playing);

private:
    void attempt();
    void checkStatus(const RpcResult &result);
    void connectionEnded();
    void scheduleRetry(State s);
    void setState(State s);
    void onNotification(const QString &method, const QJsonValue &params);
    template <typename T>
    void typed(const QString &method, const QJsonValue &params, Done<T> done,
               std::function<T(const QJsonValue &)> read, int timeoutMs = kCallTimeoutMs);

    QString m_dataFolder;
    QString m_socketPath;
    State m_state = State::Idle;
    EngineStatus m_status;
    RpcClient *m_client = nullptr; // one per connection
    QTimer m_retry;
    int m_retryMs = kFirstRetryMs;
    QString m_refusal; // the last refusal told, so that a retry does not tell it again
    bool m_everReady = false; // a call without an engine then says the link was lost
};

Q_DECLARE_METATYPE(EngineStatus)
Q_DECLARE_METATYPE(EngineBellStatus)
Q_DECLARE_METATYPE(EnginePlaying)
