#pragma once
// The ad-hoc broadcast window: the view of the ad-hoc playlist and player.
// Its handlers keep their names and forward to AdhocPlaylist and
// AdhocPlayer; the widgets mirror their state whenever it changes.
// It closes only by its close box: Escape does not cut a live broadcast.
#include "adhocplayer.h"
#include "adhocplaylist.h"
#include "playlistbox.h"

#include <QDialog>
#include <QPushButton>
#include <QTimer>

class TFormLinShiGuangBo : public QDialog {
    Q_OBJECT
public:
    // The player is the window's own MediaPlayer1, owned by the caller; the
    // store, boxes and dialogs are shared with the main window.
    TFormLinShiGuangBo(BellStore &store, AudioPlayer &player, Messages &messages,
                       FileDialogs &dialogs, QWidget *parent = nullptr);

    AdhocPlaylist &playlist() { return m_list; }
    AdhocPlayer &adhocPlayer() { return m_player; }

    PlaylistBox *ListBox1;
    PositionBar *TrackBar1;
    QPushButton *ButtonPlay;
    QPushButton *ButtonPaused;
    QPushButton *ButtonOpen;
    QPushButton *Button1;
    QPushButton *Button2;
    QTimer *Timer1;       // the player's advance
    QTimer *TimerPostion; // the bar, while the window is seen
    AudioPlayer &MediaPlayer1;

    // The selected line's index, −1 when none is selected.
    int selectedIndex() const { return m_list.selected(); }
    // The ids attached to the lines, in the order shown.
    QList<qint64> lineIds() const { return m_list.lineIds(); }

public slots:
    void Refresh();
    void ButtonOpenClick();
    void Button1Click();
    void Button2Click();
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
    void keyPressEvent(QKeyEvent *event) override;

private:
    void guarded(const std::function<void()> &body);
    int rowAt(const QPoint &pos) const;
    void showLines();
    void showSelection(int row);
    void showPlayer();

    AdhocPlaylist m_list;
    AdhocPlayer m_player;
    Messages &m_messages;
    bool m_showing = false; // the widgets are being set from the state
};
