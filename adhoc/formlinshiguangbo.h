#pragma once
// The ad-hoc broadcast window: a persistent playlist (table linshi) that the
// operator fills from any folder, reorders by dragging and plays on demand
// through the window's own player, apart from the bells.
//
// The player's state lives in the controls themselves (the captions of
// ButtonPlay and ButtonPaused, Timer1, the bar and the selected line), so
// every step reads and writes them; there is no shadow state to drift.
#include "audioplayer.h"
#include "bellstore.h"
#include "seams.h"

#include <QDialog>
#include <QListWidget>
#include <QSlider>
#include <functional>

#include <QPushButton>
#include <QTimer>

// The playlist: a press and move on a line starts a drag of that line.
// Qt's own internal move rearranges by its own rules and removes the source
// row after a move drop; the window wants "take the selected line out and
// insert it at the line under the drop point", so drags are started and
// dropped here and the window decides.
class PlaylistBox : public QListWidget {
    Q_OBJECT
public:
    explicit PlaylistBox(QWidget *parent = nullptr);
    static const char *mimeType();

    std::function<bool(QObject *source, const QPoint &pos)> onDragOver;
    std::function<void(const QPoint &pos)> onDrop;
    std::function<void()> onDoubleClick;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};

// The position bar; a line of the playlist dragged over it seeks the
// playing file to the per cent under the pointer.
class PositionBar : public QSlider {
    Q_OBJECT
public:
    explicit PositionBar(QWidget *parent = nullptr);
    // The bar value that a click at pos (bar coordinates) would choose.
    int valueAt(const QPoint &pos) const;

    QObject *dragSource = nullptr; // the only widget whose drags count here
    // Runs when the pointer of a drag reaches another value of the bar, so
    // that a still pointer does not seek the file back over and over.
    std::function<void(const QPoint &pos)> onDragOver;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    int m_dragValue = -1;
};

class TFormLinShiGuangBo : public QDialog {
    Q_OBJECT
public:
    // The player is the window's own MediaPlayer1, owned by the caller; the
    // store, boxes and dialogs are shared with the main window.
    TFormLinShiGuangBo(BellStore &store, AudioPlayer &player, Messages &messages,
                       FileDialogs &dialogs, QWidget *parent = nullptr);

    // Texts the window shows and compares.
    static const QString kPlay;     // "播  放"
    static const QString kStop;     // "停  止"
    static const QString kPause;    // "暂  停"
    static const QString kContinue; // "继  续"
    static const QString kNoMusic;  // "无音乐文件！"
    static const QString kChoose;   // "请选择音乐文件！"
    // "找不到    " + path + "，  或系统不支持该音乐文件！"
    static QString fileMessage(const QString &path);

    PlaylistBox *ListBox1;
    PositionBar *TrackBar1;
    QPushButton *ButtonPlay;
    QPushButton *ButtonPaused;
    QPushButton *ButtonOpen;
    QPushButton *Button1;
    QPushButton *Button2;
    QTimer *Timer1;
    QTimer *TimerPostion;
    AudioPlayer &MediaPlayer1;

    // The selected line's index, −1 when none is selected.
    int selectedIndex() const;
    // The ids attached to the lines, in the order shown.
    QList<qint64> lineIds() const;

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

private:
    // Runs one handler's body; a failure it does not handle ends the body
    // there and goes to the general error box, never out of the slot.
    void guarded(const std::function<void()> &body);
    void refreshList();
    // Opens the selected line's file, then runs `then`; a failure of either
    // shows the file message and returns false.
    bool openSelectedItem(const std::function<void()> &then,
                          const std::function<void()> &beforeMessage = {});
    qint64 startFromBar() const;
    void enableTimer1();
    void selectLine(int row);
    // Whether the player has a file open at all (after a failed open it has
    // none, and stopping or pausing nothing is nothing to do).
    bool playerHasFile() const;

    BellStore &m_store;
    Messages &m_messages;
    FileDialogs &m_dialogs;
    bool m_inAdvance = false;
    int m_barAtPause = -1; // bar value when "暂  停" paused a playing file
};
