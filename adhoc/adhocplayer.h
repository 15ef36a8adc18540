#pragma once
// The ad-hoc player without widgets: plays the playlist's selected line
// through the window's own AudioPlayer, with play and stop, pause and
// continue, the position bar, the advance to the next line when a file ends
// and the double-click. Its state is the window's: the captions of the play
// and pause buttons, whether pause may be pressed, Timer1 and the bar; the
// window mirrors it whenever changed() fires and forwards its handlers here.
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

    // Automatic advance: 1000 ms, running from creation. Its state says
    // whether the advance is on; the advance itself runs when the player
    // tells that its file ended (nothing looks at the player in between).
    QTimer Timer1;

    // The window's handlers. Each ends at a failure it does not handle and
    // shows it in the general error box.
    void ButtonPlayClick();
    void ButtonPausedClick();
    void ListBox1DblClick();
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
    void guarded(const std::function<void()> &body);
    // Opens the selected line's file, then runs `then`; a failure of either
    // runs beforeMessage, shows the file (or output) message and returns false.
    bool openSelectedItem(const std::function<void()> &then,
                          const std::function<void()> &beforeMessage = {});
    // Play mode on or off, as the play button and the double-click share it.
    void startPlayMode(bool fromBar);
    void stopPlayMode();
    qint64 startFromBar() const;
    void enableTimer1();
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
    // After a line failed to start in play mode, the advance moves on to
    // the next line a tick later, as if the file had ended.
    QTimer m_moveOn;
};
