#include "playlistbox.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

// ---------------------------------------------------------------- PlaylistBox

PlaylistBox::PlaylistBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false);
    setUniformItemSizes(true); // a playlist of thousands stays quick
}

const char *PlaylistBox::mimeType()
{
    return "application/x-daling-playlist-line";
}

void PlaylistBox::startDrag(Qt::DropActions)
{
    const QList<QListWidgetItem *> sel = selectedItems();
    if (sel.isEmpty())
        return;
    auto *mime = new QMimeData;
    mime->setData(QString::fromLatin1(mimeType()),
                  QByteArray::number(sel.first()->data(Qt::UserRole).toLongLong()));
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    // The drop handler has already moved the line; nothing to remove here.
    drag->exec(Qt::MoveAction, Qt::MoveAction);
}

void PlaylistBox::dragEnterEvent(QDragEnterEvent *event)
{
    // Enter is accepted for our own drags so that move events follow; each
    // move then decides whether a drop may happen there.
    if (event->source() == this)
        event->acceptProposedAction();
    else
        event->ignore();
}

void PlaylistBox::dragMoveEvent(QDragMoveEvent *event)
{
    QListWidget::dragMoveEvent(event); // keeps the automatic scrolling
    const bool ok = onDragOver && onDragOver(event->source(), event->position().toPoint());
    if (ok) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void PlaylistBox::dropEvent(QDropEvent *event)
{
    if (event->source() != this) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    if (onDrop)
        onDrop(event->position().toPoint());
}

void PlaylistBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    QListWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && onDoubleClick)
        onDoubleClick();
}

QItemSelectionModel::SelectionFlags PlaylistBox::selectionCommand(const QModelIndex &index,
                                                                  const QEvent *event) const
{
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags flags = QListWidget::selectionCommand(index, event);
    if (flags & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::ClearAndSelect;
    return flags;
}

// ---------------------------------------------------------------- PositionBar

PositionBar::PositionBar(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    setRange(0, 100);
    setAcceptDrops(true);
}

int PositionBar::valueAt(const QPoint &pos) const
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const int span = std::max(1, groove.width() - handle.width());
    const int x = std::clamp(pos.x() - groove.x() - handle.width() / 2, 0, span);
    return QStyle::sliderValueFromPosition(minimum(), maximum(), x, span, opt.upsideDown);
}

void PositionBar::dragEnterEvent(QDragEnterEvent *event)
{
    m_dragValue = -1;
    if (dragSource && event->source() == dragSource)
        event->acceptProposedAction();
    else
        event->ignore();
}

void PositionBar::dragMoveEvent(QDragMoveEvent *event)
{
    if (!dragSource || event->source() != dragSource) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    const int v = valueAt(event->position().toPoint());
    if (v != m_dragValue && onDragOver) {
        m_dragValue = v;
        onDragOver(event->position().toPoint());
    }
}

void PositionBar::dropEvent(QDropEvent *event)
{
    // Dropping a line on the bar changes nothing.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
}
