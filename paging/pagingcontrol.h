#pragma once
// The window's live announcement, without widgets: which zones to reach,
// the button's start and end, the elapsed time, the level meter, and the
// window's own ad-hoc broadcast paused while an announcement shares its
// zones (and continued after). Everything goes through the engine's
// channel (Paging.*), so it works the same whoever started the
// announcement (this window, the remote control, a command).
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <functional>

class RpcClient;
class QTimer;

// What the control needs of the engine: its calls and its notifications.
class PagingLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // error: empty when the engine did it, else the text the operator reads.
    using Done = std::function<void(const QString &error, const QJsonObject &answer)>;
    virtual void call(const QString &method, const QJsonObject &params, Done done) = 0;

signals:
    void connected();
    void notified(const QString &method, const QJsonObject &params);
};

// The link on the engine's socket, connected again while the engine is away.
class RpcPagingLink : public PagingLink {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 2000;
    explicit RpcPagingLink(QString socketPath, QObject *parent = nullptr);
    void call(const QString &method, const QJsonObject &params, Done done) override;

private:
    void connectNow();
    QString m_path;
    RpcClient *m_client = nullptr;
    QTimer *m_retry;
};

class PagingControl : public QObject {
    Q_OBJECT
public:
    static inline const QString kStartText = QStringLiteral("实时喊话");
    static inline const QString kStopText = QStringLiteral("结束喊话");
    static inline const QString kBy = QStringLiteral("主窗口");
    // The meter shows this many decibels below full scale as empty.
    static constexpr double kMeterFloorDb = 60;

    explicit PagingControl(PagingLink &link, QObject *parent = nullptr);

    // The zones that may be chosen (or 广播输出 alone), as the engine names them.
    QStringList choices() const { return m_choices; }
    // Chosen ones; none: everywhere.
    QStringList chosen() const { return m_chosen; }
    void setChosen(const QStringList &zones) { m_chosen = zones; }

    bool active() const { return m_active; }
    bool busy() const { return m_busy; }
    QString buttonText() const { return m_active ? kStopText : kStartText; }
    QStringList zones() const { return m_zones; }
    // "喊话中 00:12 · 一号楼、二号楼"; empty when none is going on.
    QString statusText(const QDateTime &now) const;
    int meter() const { return m_meter; }

    // Starts or ends, as the button and the hotkey do.
    void toggle();
    // Reads the engine's state (at start and after the link came back).
    void refresh();

    // The window's ad-hoc broadcast: the ids of its zones (none: 广播输出),
    // pausing it (true when it was playing) and continuing it.
    std::function<QList<qint64>()> broadcastZones;
    std::function<bool()> pauseBroadcast;
    std::function<void()> resumeBroadcast;

    // Whether an announcement in `paged` (every zone: everywhere) is heard
    // where a broadcast in `broadcast` plays: 广播输出 is heard everywhere.
    static bool touches(const QList<qint64> &broadcast, const QList<qint64> &paged, bool everywhere);
    // 0 … 100 for a peak of 0 … 1, on a decibel scale.
    static int meterPercent(double peak);

signals:
    void changed();
    // What the operator should read (a refusal, zones that stay silent).
    void message(const QString &text);

private:
    void onNotified(const QString &method, const QJsonObject &params);
    void apply(const QJsonObject &status);

    PagingLink &m_link;
    QStringList m_choices, m_chosen, m_zones;
    bool m_active = false;
    bool m_busy = false;
    bool m_paused = false; // this window's broadcast was paused for it
    QDateTime m_started;
    int m_meter = 0;
};
