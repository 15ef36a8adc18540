#pragma once
// The engine's methods and notifications on its JSON-RPC channel (the
// socket of Instance; docs/api.md lists them). It works on an EngineCore's
// typed parts, never on a window: the bells of the day, the mode, test
// playback, the emergency broadcast, the bands. Its errors carry the
// Chinese text the window would show for the same refusal.
//
// It is registered as soon as the channel listens, before the core is
// built (the window's start-up boxes may still be open): until setCore(),
// Engine.GetStatus answers what it knows without the core, Window.Raise
// works, and every other method answers kStarting. setCore(nullptr) cuts
// it from a core that is about to go.
#include "bellstatus.h"
#include "clienttext.h"
#include "dayschedule.h"
#include "rpcmessage.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <functional>
#include <optional>

class EngineCore;
class PagingApi;
class QTimer;
class RpcServer;

class EngineApi : public QObject {
    Q_OBJECT
public:
    // Application error codes.
    static constexpr int kRefused = 1;  // the engine refused or failed the action
    static constexpr int kNoWindow = 2; // Window.Raise where there is none

    // The emergency command that started the engine asks again on it.
    static inline const QString kStarting = QString::fromUtf8(clienttext::kEngineStarting);
    static inline const QString kServiceNoWindow = QStringLiteral("铃声系统以服务运行，没有窗口。");
    static inline const QString kEmergencyGoingOn = QStringLiteral("紧急广播已经在进行。");
    static inline const QString kNoEmergency = QStringLiteral("现在没有紧急广播。");
    static inline const QString kModeWhileTesting =
        QStringLiteral("正在测试铃声，不能切换打铃状态。请先按“停止测试”。");
    static inline const QString kTestWhileRunning =
        QStringLiteral("打铃运行中不能测试铃声。请先按“停  止”。");
    static inline const QString kNoSuchBell = QStringLiteral("列表里没有这个铃声，请刷新后再试。");
    static inline const QString kTestNotStarted = QStringLiteral("测试播放没有开始。");
    // The 说明 of a test playback asked by someone named (the remote control).
    static QString testRecordText(const QString &by) { return QStringLiteral("由%1测试播放").arg(by); }

    struct Options {
        QString dataFolder;  // absolute; a trailing '/' is dropped
        bool service = false; // dalingd: no window
        // Shows the window (the window's process); unset: error kNoWindow.
        std::function<void()> raise;
    };

    EngineApi(RpcServer &server, Options options, QObject *parent = nullptr);
    ~EngineApi() override;

    void setCore(EngineCore *core);

    // What the methods answer, for the channel and for tests.
    QJsonObject status() const;
    QJsonObject day() const;
    QJsonArray bands() const;
    // The bell sounding or the test playing; null when nothing plays.
    QJsonValue playing() const;
    // A bell's status as the list shows it with the blink on.
    BellStatus shownStatus(int index) const;

    // "HH:MM:SS" for a second of the day; "" for one that is none.
    static QString timeText(qint64 seconds);
    static QString folderText(const QString &folder);

private:
    void registerMethods();
    void registerZones(); // engineapizones.cpp
    void connectCore();
    QJsonObject bellJson(int index) const;
    QJsonArray zoneNames(const QList<qint64> &zones) const;
    std::optional<qint64> delayOf(int index) const;
    // Notifications.
    void tellBells(); // each bell whose shown status changed since last told
    void tellDay();
    void tellBands();
    void tellPlayback();
    void rememberShown();
    RpcResult needCore() const;
    // A test playback asked by someone named goes on record (the page's
    // "a bell now"); the window's own tests do not.
    void recordTest(int index, const QString &by);

    RpcServer &m_server;
    Options m_options;
    EngineCore *m_core = nullptr;
    QObject *m_link = nullptr; // the connections to the core's parts
    // The bell sounding now (from rang to bellEnded) and the start delays of
    // today's bells this run has heard of.
    std::optional<BellKey> m_sounding;
    mutable QHash<BellKey, qint64> m_delays;
    mutable qint64 m_delaysDay = -1;
    // What each bell showed when last told, so that only changes are told.
    QHash<BellKey, BellStatus> m_told;
    QJsonArray m_lastBands;
    QTimer *m_progress = nullptr; // Playback.OnChanged once a second while one plays
    PagingApi *m_paging = nullptr; // the live announcement's methods
};
