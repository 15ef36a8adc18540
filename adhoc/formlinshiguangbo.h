#pragma once
// The ad-hoc broadcast window: the view of the ad-hoc playlist and player.
// Its handlers keep their names and forward to AdhocPlaylist and
// AdhocPlayer; the widgets mirror their state whenever it changes.
// It closes only by its close box: Escape does not cut a live broadcast.
// Modal, it covers the main window: the red 紧急广播 button is here too.
#include "adhocplayer.h"
#include "adhocplaylist.h"
#include "broadcastzones.h"
#include "playlistbox.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <memory>

class Ducking;

class TFormLinShiGuangBo : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHeight = 438; // without the row of zones
    // The player is the window's own MediaPlayer1, owned by the caller; the
    // store, boxes and dialogs are shared with the main window.
    TFormLinShiGuangBo(BellStore &store, AudioPlayer &player, Messages &messages,
                       FileDialogs &dialogs, QWidget *parent = nullptr);

    AdhocPlaylist &playlist() { return m_list; }
    AdhocPlayer &adhocPlayer() { return m_player; }

    PlaylistBox *ListBox1;     // the playlist's lines
    PositionBar *TrackBar1;    // how far the line that plays has got, 0–100
    QPushButton *ButtonPlay;   // 播放 / 停止
    QPushButton *ButtonPaused; // 暂停 / 继续
    QPushButton *ButtonOpen;   // 添加文件
    QPushButton *Button1; // 删除文件: deletes the selected line
    QPushButton *Button2; // 清空文件: clears the whole list
    AdhocPlayer::Advance *Timer1; // the player's advance (a switch: no clock runs)
    QTimer *TimerPostion; // the bar, while the window is seen
    AudioPlayer &MediaPlayer1;
    QLabel *playTime;   // "01:23 / 04:56" of the line that plays
    QLabel *duckedNote; // shown while a bell lowers the broadcast
    // Where it plays: 广播输出 or zones, one check box each. Shown only when
    // zones exist and the player can play in them.
    QLabel *zoneLabel;
    QListWidget *ListFenQu;
    QLabel *zoneNote; // the zones that stay silent, and why
    // The red 紧急广播 button, hidden until the program offers what it
    // does; while one lasts it reads 结束紧急广播.
    QPushButton *ButtonJinJi;
    void offerEmergency(std::function<void()> press);
    void showEmergency(const QString &caption);
    // Null when the player cannot play in zones.
    BroadcastZones *zoneChoice() { return m_zones.get(); }

    // Shows the ducking's state while the window is open.
    void watchDucking(const Ducking &ducking);

    // The selected line's index, −1 when none is selected.
    int selectedIndex() const { return m_list.selected(); }
    // The ids attached to the lines, in the order shown.
    QList<qint64> lineIds() const { return m_list.lineIds(); }

public slots:
    void Refresh();
    void ButtonOpenClick(); // 添加文件
    void Button1Click(); // 删除文件
    void Button2Click(); // 清空文件
    // pos in the coordinates of ListBox1's viewport.
    void ListBox1DragDrop(const QPoint &pos);
    bool ListBox1DragOver(QObject *source, const QPoint &pos);
    void FormShow();
    void FormClose();
    void ButtonPlayClick();
    void ButtonPausedClick();
    void ListBox1DblClick();
    void Timer1Timer();
    void TimerPostionTimer();
    // pos in the coordinates of TrackBar1.
    void TrackBar1DragOver(const QPoint &pos);

protected:
    void showEvent(QShowEvent *event) override;
    void done(int result) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void guarded(const std::function<void()> &body);
    int rowAt(const QPoint &pos) const;
    void showLines();
    void showSelection(int row);
    void showPlayer();
    void showZones();
    void showZoneNote();
    // A check box of ListFenQu changed: the choice follows the rule that
    // 广播输出 is checked exactly when no zone is.
    void zoneItemChanged(QListWidgetItem *item);

    AdhocPlaylist m_list;
    AdhocPlayer m_player;
    Messages &m_messages;
    std::unique_ptr<BroadcastZones> m_zones;
    std::function<void()> m_emergency;
    bool m_showing = false; // the widgets are being set from the state
};
