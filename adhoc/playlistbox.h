#pragma once
// The two widgets of the ad-hoc window that are more than Qt's own: the
// playlist, whose lines are dragged and dropped by the window's rules, and
// the position bar, over which a dragged line seeks the playing file.
#include <QListWidget>
#include <QSlider>
#include <functional>

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
    // A line stays selected until the list is rebuilt: a click on blank
    // space, or a Ctrl+click on the selected line, keeps it.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;
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
