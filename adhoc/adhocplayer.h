#pragma once
// The ad-hoc player without widgets: plays the playlist's selected line
// through the window's own AudioPlayer, with play and stop, pause and
// continue, the position bar, the advance to the next line when a file ends
// and the double-click. Its state is the window's: the captions of the play
// and pause buttons, whether pause may be pressed, the advance's switch
// (Timer1) and the bar; the window mirrors it whenever changed() fires and
// forwards its handlers here. Nothing here polls the player: its ended(),
// opened() and openFailed() drive the advance; only the window's bar asks
// for the position while it is seen.
#include "adhocplaylist.h"
#include "audioplayer.h"
#include "broadcastplayer.h"

#include <QObject>
#include <QTimer>
#include <functional>

class AdhocPlayer : public QObject {
    Q_OBJECT
public:
    static inline const QString kPlay = QStringLiteral("播  放");
    static inline const QString kStop = QStringLiteral("停  止");
    static inline const QString kPause = QStringLiteral("暂  停");
    static inline const QString kContinue = QStringLiteral("继  续");
    // "找不到    " + path + "，  或系统不支持该音乐文件！"
    static QString fileMessage(const QString &path);
    // The file may be fine: no sound output could be opened for it.
    static inline const QString kNoOutput =
        QStringLiteral("没有可用的声音输出设备，临时广播没有播出！请检查音箱、声卡和音量设置。");

    // Asked when the window is closed while a line plays: closing stops it.
    static inline const QString kCloseWhilePlaying =
        QStringLiteral("正在播放，确定关闭并停止广播吗？");
    // "01:23 / 04:56"; hours are shown only when the file has some.
    static QString timeText(qint64 elapsedMs, qint64 totalMs);

    AdhocPlayer(AdhocPlaylist &list, AudioPlayer &player, Messages &messages,
                QObject *parent = nullptr);

    AdhocPlaylist &list() { return m_list; }
    AudioPlayer &audio() { return m_player; }
    // The player when it can play in zones, else nullptr.
    BroadcastPlayer *zoned() { return m_zoned; }

    QString playCaption() const { return m_playCaption; }
    QString pauseCaption() const { return m_pauseCaption; }
    bool pauseEnabled() const { return m_pauseEnabled; }
    bool playMode() const { return m_playCaption == kStop; }
    // The position bar, 0–100. The operator moves it through setBar().
    int bar() const { return m_bar; }
    void setBar(int value);
    // Elapsed and total time of the line that plays (kept while paused),
    // empty when nothing plays. Follows the bar's tick.
    QString playTime() const { return m_playTime; }
    // Whether the window may close: while a line plays (or is still being
    // opened to play) the operator is asked once, No being the default.
    bool mayClose();

    // Whether the automatic advance to the next line is on: off while
    // paused and after a line failed in the advance, on again with play
    // or continue. Named after the form's timer it once was; no clock
    // runs for it: the advance runs when the player says its file ended.
    class Advance {
    public:
        bool isActive() const { return m_on; }
        void start() { m_on = true; }
        void stop() { m_on = false; }

    private:
        bool m_on = true;
    };
    Advance Timer1;

    // After a line failed to start in play mode the advance moves on by
    // itself kMoveOnMs later, as if the file had ended; moveOn() is that
    // moment (the only clock of the player, and only then).
    static constexpr int kMoveOnMs = 1000;
    bool movingOn() const { return m_moveOn.isActive(); }
    void moveOn();

    // The window's handlers. Each ends at a failure it does not handle and
    // shows it in the general error box.
    void ButtonPlayClick();
    void ButtonPausedClick();
    void ListBox1DblClick();
    // The advance: the next line once the one that played has ended; past
    // the last line the player returns to its stopped state.
    void Timer1Timer();
    void TimerPostionTimer();
    // For a broadcast that cuts in: pauses what plays, in every zone, as
    // "暂  停" does, and says whether it did (idle, or already paused by the
    // operator: nothing). continueIfPaused() is "继  续" when paused.
    bool pauseIfPlaying();
    void continueIfPaused();
    // While it answers a text (an emergency broadcast has the speakers),
    // nothing starts or continues; the operator is told why.
    std::function<QString()> refusal;
    // A line dragged over the bar at value: the playing file goes on from there.
    void dragOverBar(int value);
    // The window opens: rebuild the list, select and open the first line.
    void FormShow();
    // The window closes: a playing file stops, the shown order is kept.
    void FormClose();

signals:
    void changed();

private:
    // Runs a step: what it throws is logged (daling.audio) and shown in the
    // general error box; nothing escapes to a signal or a timer.
    void guarded(const std::function<void()> &body);
    // Opens the selected line's file, then runs `then`; a failure of either
    // runs beforeMessage, shows the file (or output) message and returns false.
    bool openSelectedItem(const std::function<void()> &then,
                          const std::function<void()> &beforeMessage = {});
    // Play mode on or off, as the play button and the double-click share it.
    void startPlayMode(bool fromBar);
    void stopPlayMode();
    // Play mode off, the bar back at its start, as 停  止 leaves it.
    void toStopped();
    qint64 startFromBar() const;
    // After a failed open nothing is open; stopping or pausing it is nothing.
    bool playerHasFile() const { return m_player.mode() != AudioPlayer::Mode::NotReady; }
    void message(const QString &text);
    bool refused();
    // The player's news: a file ended, an open left to the background
    // finished or failed.
    void playerEnded();
    void backgroundOpened();
    void backgroundOpenFailed(AudioError::Cause cause);
    void cancelOpening();
    void setPlayTime(const QString &text);

    AdhocPlaylist &m_list;
    AudioPlayer &m_player;
    BroadcastPlayer *m_zoned;
    Messages &m_messages;
    QString m_playCaption = kPlay;
    QString m_pauseCaption = kPause;
    bool m_pauseEnabled = false;
    int m_bar = 0;
    QString m_playTime;
    bool m_inAdvance = false;
    int m_barAtPause = -1; // bar value when "暂  停" paused a playing file
    // An open of the selected line still going on in the background: what
    // follows it, and the path to name should it fail.
    std::function<void()> m_afterOpen, m_beforeFailure;
    QString m_openingPath;
    bool m_opening = false;
    QString m_lastBarError; // logged once, not ten times a second
    QTimer m_moveOn; // single shot, kMoveOnMs
};
