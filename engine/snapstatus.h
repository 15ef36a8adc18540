#pragma once
// Who listens in the buildings: asks a snapserver (Snapcast) over its
// JSON-RPC control port (TCP, one JSON object a line) for Server.GetStatus
// and keeps, per stream, the clients connected to it.
//
// A zone is a Snapcast zone when its output is a PulseAudio sink
// ("pulse/<sink>") and the snapserver serves a stream whose name is that
// sink's name: the pipe sink "jiaoxuelou" feeds the stream
// "pipe:///…?name=jiaoxuelou".
//
// Never blocks: fetch() asks in the background and answers through
// updated(), giving up after kTimeoutMs. Any local account may bind the
// port while snapserver is down, so the answer is bounded: at most
// kMaxAnswerBytes are read (a larger answer drops the connection), its
// streams beyond kMaxStreams are left out, and its JSON is read on a
// thread of its own, never on the thread that rings. What the ring engine needs at a
// bell's second is answered from the last answer (unheardReason()), which
// is asked for a moment ahead of the bell; nothing polls while no bell is
// near (the zones dialog asks on its own timer while it is open).
#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

class QTcpSocket;
class QThread;
class RingEngine;
class Settings;

// One answer of the server, read from its JSON text.
struct SnapServerStatus {
    bool answered = false;
    QString error; // why there is no answer (for the log)
    // Stream name → names of the clients connected to it (their given name,
    // else their host's name, else their id). A stream nobody listens to is
    // present with an empty list.
    QHash<QString, QStringList> listeners;
    // Reads the "result" of a Server.GetStatus answer; false (with error set)
    // for a text that is not one. At most maxStreams streams are kept.
    bool parse(const QByteArray &line, int maxStreams = 256);
};

// What the zones dialog says of a zone's output.
struct SnapZoneView {
    QString text;        // empty: no Snapcast zone, nothing to say
    bool failed = false; // shown in the failed colour
    int listeners = -1;  // connected clients; -1 when unknown
};

class SnapStatus : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 1000;
    // A school's status answer is a few kilobytes.
    static constexpr qsizetype kMaxAnswerBytes = 1 << 20;
    static constexpr int kMaxStreams = 256;
    static inline const QString kTooLarge = QStringLiteral("answer larger than 1 MB; connection dropped");
    // An answer older than this is not trusted at a bell's second.
    static constexpr int kFreshMs = 15000;
    static constexpr quint16 kDefaultPort = 1705;
    static inline const QString kDefaultHost = QStringLiteral("127.0.0.1");
    // Settings: where the school's snapserver answers.
    static inline const QString kHostSetting = QStringLiteral("Snapcast服务器");
    static inline const QString kPortSetting = QStringLiteral("Snapcast端口");
    // What a bell's record says of a Snapcast zone that nobody heard.
    static inline const QString kNobodyListens = QStringLiteral("没有楼栋在收听");
    static QString noAnswerText(const QString &host, quint16 port)
    {
        return QStringLiteral("Snapcast 服务器 %1:%2 没有响应").arg(host).arg(port);
    }

    explicit SnapStatus(QObject *parent = nullptr);
    ~SnapStatus() override;

    // Host and port from the settings (the defaults when none are kept).
    void load(const Settings &settings);
    // Checks and keeps them; throws AppError with the operator's message
    // for an empty host or a port of 0.
    void save(Settings &settings, const QString &host, int port);
    void setServer(const QString &host, quint16 port);
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }

    // Asks the server; a question already on its way is not asked twice.
    void fetch();
    bool fetching() const { return m_socket != nullptr || m_parser != nullptr; }
    // The last answer (or why there was none); nothing before the first fetch.
    const SnapServerStatus &last() const { return m_last; }
    bool hasAnswer() const { return m_fetchedOnce; }

    // The stream a zone's output would feed: the sink's name of a
    // "pulse/<sink>" output, empty for any other output.
    static QString streamOf(const QString &output);
    // Whether the output is a Snapcast zone's as far as the last answers
    // tell (a stream of that name was seen).
    bool isSnapcast(const QString &output) const;
    // Why nobody hears what plays on this output, from a fresh answer only:
    // kNobodyListens for a stream without a connected client, the no-answer
    // text for a stream seen before whose server stopped answering, empty
    // when someone listens or nothing is known. Never waits.
    QString unheardReason(const QString &output) const;

    // From the last answer, however old (the dialog asks every few seconds):
    // a Snapcast zone's buildings, and the server's own state.
    SnapZoneView zoneView(const QString &output) const;
    QString serverText() const;

    // The engine asks ahead when a bell in a zone with a PulseAudio output
    // is near, and counts a zone nobody hears as silent.
    void attach(RingEngine &engine);

signals:
    void updated();

private:
    void finish(SnapServerStatus status);
    void onReadyRead();
    void parseAside(QByteArray line);
    void dropSocket();

    QString m_host = kDefaultHost;
    quint16 m_port = kDefaultPort;
    QTcpSocket *m_socket = nullptr;
    QByteArray m_buffer;
    qsizetype m_received = 0;      // bytes read on this connection
    QThread *m_parser = nullptr;   // reading the answer's JSON
    int m_generation = 0;          // a parse for an older question is dropped
    QTimer m_timeout;
    SnapServerStatus m_last;
    bool m_fetchedOnce = false;
    QDeadlineTimer m_fresh;        // until when the last answer counts
    QSet<QString> m_knownStreams;  // every stream seen on this server
    QString m_loggedError;         // a failure is logged once, not at every bell
};
