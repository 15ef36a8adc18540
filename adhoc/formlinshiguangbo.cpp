#include "formlinshiguangbo.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

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

// --------------------------------------------------------- TFormLinShiGuangBo

const QString TFormLinShiGuangBo::kPlay = QStringLiteral("播  放");
const QString TFormLinShiGuangBo::kStop = QStringLiteral("停  止");
const QString TFormLinShiGuangBo::kPause = QStringLiteral("暂  停");
const QString TFormLinShiGuangBo::kContinue = QStringLiteral("继  续");
const QString TFormLinShiGuangBo::kNoMusic = QStringLiteral("无音乐文件！");
const QString TFormLinShiGuangBo::kChoose = QStringLiteral("请选择音乐文件！");

QString TFormLinShiGuangBo::fileMessage(const QString &path)
{
    return QStringLiteral("找不到    ") + path + QStringLiteral("，  或系统不支持该音乐文件！");
}

TFormLinShiGuangBo::TFormLinShiGuangBo(BellStore &store, AudioPlayer &player,
                                       Messages &messages, FileDialogs &dialogs,
                                       QWidget *parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                  | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      MediaPlayer1(player), m_store(store), m_messages(messages), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("FormLinShiGuangBo"));
    setWindowTitle(QStringLiteral("临时播放广播"));
    QFont f(QStringLiteral("宋体"));
    f.setPixelSize(16);
    setFont(f);
    setFixedSize(624, 438);

    ListBox1 = new PlaylistBox(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(16, 16, 465, 345);

    TrackBar1 = new PositionBar(this);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setGeometry(10, 372, 476, 36);
    TrackBar1->dragSource = ListBox1;

    auto button = [this](const char *name, const QString &text, int y) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(504, y, 97, 27);
        b->setAutoDefault(false); // Enter in the list must not start playing
        return b;
    };
    ButtonPlay = button("ButtonPlay", kPlay, 16);
    ButtonPaused = button("ButtonPaused", kPause, 56);
    ButtonOpen = button("ButtonOpen", QStringLiteral("添加文件"), 136);
    Button1 = button("Button1", QStringLiteral(" 删除文件"), 176);
    Button2 = button("Button2", QStringLiteral("清空文件"), 216);
    ButtonPaused->setEnabled(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    TimerPostion = new QTimer(this);
    TimerPostion->setObjectName(QStringLiteral("TimerPostion"));
    TimerPostion->setInterval(100);

    connect(ButtonPlay, &QPushButton::clicked, this, &TFormLinShiGuangBo::ButtonPlayClick);
    connect(ButtonPaused, &QPushButton::clicked, this, &TFormLinShiGuangBo::ButtonPausedClick);
    connect(ButtonOpen, &QPushButton::clicked, this, &TFormLinShiGuangBo::ButtonOpenClick);
    connect(Button1, &QPushButton::clicked, this, &TFormLinShiGuangBo::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFormLinShiGuangBo::Button2Click);
    connect(Timer1, &QTimer::timeout, this, &TFormLinShiGuangBo::Timer1Timer);
    connect(TimerPostion, &QTimer::timeout, this, &TFormLinShiGuangBo::TimerPostionTimer);
    ListBox1->onDragOver = [this](QObject *source, const QPoint &pos) {
        return ListBox1DragOver(source, pos);
    };
    ListBox1->onDrop = [this](const QPoint &pos) { ListBox1DragDrop(pos); };
    ListBox1->onDoubleClick = [this] { ListBox1DblClick(); };
    TrackBar1->onDragOver = [this](const QPoint &pos) { TrackBar1DragOver(pos); };

    Timer1->start();
    // The bar is only seen while the window is: its 100 ms tick sleeps while
    // the window is hidden, so that an idle program wakes once a second.
}

void TFormLinShiGuangBo::guarded(const std::function<void()> &body)
{
    try {
        body();
    } catch (const AppError &e) {
        m_messages.generalError(e.text());
    } catch (const std::exception &e) {
        m_messages.generalError(QString::fromLocal8Bit(e.what()));
    }
}

int TFormLinShiGuangBo::selectedIndex() const
{
    const QList<QListWidgetItem *> sel = ListBox1->selectedItems();
    return sel.isEmpty() ? -1 : ListBox1->row(sel.first());
}

QList<qint64> TFormLinShiGuangBo::lineIds() const
{
    QList<qint64> ids;
    ids.reserve(ListBox1->count());
    for (int i = 0; i < ListBox1->count(); ++i)
        ids << ListBox1->item(i)->data(Qt::UserRole).toLongLong();
    return ids;
}

void TFormLinShiGuangBo::selectLine(int row)
{
    ListBox1->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    ListBox1->scrollToItem(ListBox1->item(row));
}

void TFormLinShiGuangBo::enableTimer1()
{
    // Enabling a running timer must not restart its second.
    if (!Timer1->isActive())
        Timer1->start();
}

bool TFormLinShiGuangBo::playerHasFile() const
{
    return MediaPlayer1.mode() != AudioPlayer::Mode::NotReady;
}

qint64 TFormLinShiGuangBo::startFromBar() const
{
    // 64 bits: a file of some hours times 100 overflows 32.
    return MediaPlayer1.length() * qint64(TrackBar1->value()) / 100;
}

// ------------------------------------------------------------------ playlist

void TFormLinShiGuangBo::refreshList()
{
    ListBox1->clear();
    const QList<PlaylistItem> items = m_store.refreshPlaylist();
    ListBox1->setUpdatesEnabled(false);
    for (const PlaylistItem &it : items) {
        auto *line = new QListWidgetItem(it.music);
        line->setData(Qt::UserRole, it.id);
        ListBox1->addItem(line);
    }
    ListBox1->setUpdatesEnabled(true);
}

void TFormLinShiGuangBo::Refresh()
{
    guarded([this] { refreshList(); });
}

void TFormLinShiGuangBo::ButtonOpenClick()
{
    guarded([this] {
        const QStringList files = m_dialogs.openFiles();
        if (files.isEmpty())
            return;
        m_store.addPlaylistFiles(files);
        refreshList();
    });
}

void TFormLinShiGuangBo::Button1Click()
{
    guarded([this] {
        if (ListBox1->count() == 0) {
            m_messages.plain(kNoMusic);
            return;
        }
        const int k = selectedIndex();
        if (k < 0) {
            m_messages.plain(kChoose);
            return;
        }
        m_store.deletePlaylistItem(ListBox1->item(k)->data(Qt::UserRole).toLongLong());
        refreshList();
    });
}

void TFormLinShiGuangBo::Button2Click()
{
    guarded([this] {
        m_store.clearPlaylist();
        refreshList();
    });
}

bool TFormLinShiGuangBo::ListBox1DragOver(QObject *source, const QPoint &pos)
{
    return source == ListBox1 && selectedIndex() >= 0 && ListBox1->itemAt(pos) != nullptr;
}

void TFormLinShiGuangBo::ListBox1DragDrop(const QPoint &pos)
{
    QListWidgetItem *target = ListBox1->itemAt(pos);
    const int from = selectedIndex();
    if (!target || from < 0)
        return;
    const int to = ListBox1->row(target);
    if (to == from)
        return;
    QListWidgetItem *line = ListBox1->takeItem(from);
    ListBox1->insertItem(to, line);
    selectLine(to);
}

void TFormLinShiGuangBo::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        TimerPostion->start();
        FormShow();
    }
}

void TFormLinShiGuangBo::done(int result)
{
    // Close box, Escape, close(), reject() and accept() all end here.
    if (isVisible())
        FormClose();
    TimerPostion->stop();
    QDialog::done(result);
}

void TFormLinShiGuangBo::FormShow()
{
    guarded([this] {
        refreshList();
        if (ListBox1->count() == 0)
            return;
        selectLine(0);
        openSelectedItem({});
    });
}

void TFormLinShiGuangBo::FormClose()
{
    guarded([this] {
        if (MediaPlayer1.mode() == AudioPlayer::Mode::Playing) {
            MediaPlayer1.stop();
            Timer1->stop();
        }
    });
    // Saved even when stopping failed: the operator's order is not lost.
    guarded([this] { m_store.savePlaylistOrder(lineIds()); });
}

// -------------------------------------------------------------------- player

bool TFormLinShiGuangBo::openSelectedItem(const std::function<void()> &then,
                                          const std::function<void()> &beforeMessage)
{
    const int k = selectedIndex();
    if (k < 0)
        return false;
    QListWidgetItem *line = ListBox1->item(k);
    const std::optional<PlaylistItem> item
        = m_store.playlistItem(line->data(Qt::UserRole).toLongLong());
    // Without a row the line's own text is the best name to report.
    const QString path = item ? item->path() : line->text();
    try {
        MediaPlayer1.close();
        if (!item)
            throw AudioError(path);
        MediaPlayer1.setFileName(path);
        MediaPlayer1.open();
        if (then)
            then();
        return true;
    } catch (const std::exception &) {
        if (beforeMessage)
            beforeMessage();
        m_messages.plain(fileMessage(path));
        return false;
    }
}

void TFormLinShiGuangBo::ButtonPlayClick()
{
    guarded([this] {
        if (ListBox1->count() == 0) {
            m_messages.plain(kNoMusic);
            return;
        }
        if (selectedIndex() < 0) {
            m_messages.plain(kChoose);
            return;
        }
        if (ButtonPlay->text() != kStop) {
            ButtonPlay->setText(kStop);
            ButtonPaused->setText(kPause);
            m_barAtPause = -1;
            openSelectedItem([this] {
                MediaPlayer1.setStartPosition(startFromBar());
                MediaPlayer1.play();
                ButtonPaused->setEnabled(true);
                enableTimer1();
            });
        } else {
            ButtonPlay->setText(kPlay);
            if (playerHasFile())
                MediaPlayer1.stop();
            ButtonPaused->setEnabled(false);
            TrackBar1->setValue(0);
            ButtonPaused->setText(kPause);
        }
        // After a failed start this lets the next tick move on to the next line.
        enableTimer1();
    });
}

void TFormLinShiGuangBo::ButtonPausedClick()
{
    guarded([this] {
        if (ButtonPaused->text() == kPause) {
            ButtonPaused->setText(kContinue);
            m_barAtPause = MediaPlayer1.mode() == AudioPlayer::Mode::Playing ? TrackBar1->value() : -1;
            if (playerHasFile())
                MediaPlayer1.pause();
            Timer1->stop();
        } else {
            ButtonPaused->setText(kPause);
            const bool untouched = m_barAtPause >= 0 && m_barAtPause == TrackBar1->value()
                && MediaPlayer1.mode() == AudioPlayer::Mode::Paused;
            m_barAtPause = -1;
            if (untouched) {
                // The bar was left alone: go on from the exact point of the
                // pause rather than jumping back to its whole per cent.
                MediaPlayer1.pause();
            } else if (playerHasFile()) {
                MediaPlayer1.setStartPosition(startFromBar());
                MediaPlayer1.play();
            }
            enableTimer1();
        }
    });
}

void TFormLinShiGuangBo::ListBox1DblClick()
{
    guarded([this] {
        // The empty area below the lines leaves nothing selected after an
        // add, delete or clear: there is no line to play or stop then.
        if (ListBox1->count() == 0 || selectedIndex() < 0)
            return;
        if (ButtonPlay->text() != kStop) {
            ButtonPlay->setText(kStop);
            ButtonPaused->setEnabled(true);
            m_barAtPause = -1;
            openSelectedItem([this] {
                MediaPlayer1.play();
                enableTimer1();
            });
        } else {
            ButtonPlay->setText(kPlay);
            if (playerHasFile())
                MediaPlayer1.stop();
            ButtonPaused->setEnabled(false);
        }
    });
}

void TFormLinShiGuangBo::Timer1Timer()
{
    // A box this tick opened lets further ticks run; they wait for it.
    if (m_inAdvance)
        return;
    m_inAdvance = true;
    guarded([this] {
        if (MediaPlayer1.mode() == AudioPlayer::Mode::Playing)
            return;
        if (ButtonPlay->text() != kStop)
            return;
        const int k = selectedIndex();
        if (k + 1 >= ListBox1->count())
            return;
        selectLine(k + 1);
        // The advance stops before the message shows, so that ticks during
        // the open box do not run on through the rest of the list.
        openSelectedItem([this] { MediaPlayer1.play(); }, [this] { Timer1->stop(); });
    });
    m_inAdvance = false;
}

void TFormLinShiGuangBo::TimerPostionTimer()
{
    // Ten times a second: a failure here would flood the operator with
    // boxes, and the next tick tries again anyway.
    try {
        if (MediaPlayer1.mode() != AudioPlayer::Mode::Playing)
            return;
        const qint64 len = MediaPlayer1.length();
        const qint64 pos = MediaPlayer1.position();
        const qint64 v = len > 0 ? pos * 100 / len : 0;
        TrackBar1->setValue(int(std::clamp<qint64>(v, 0, 100)));
    } catch (const std::exception &) {
    }
}

void TFormLinShiGuangBo::TrackBar1DragOver(const QPoint &pos)
{
    guarded([this, pos] {
        if (MediaPlayer1.mode() != AudioPlayer::Mode::Playing)
            return;
        // The line passing over the bar points at where to go on from; the
        // file keeps playing from there instead of stopping.
        TrackBar1->setValue(TrackBar1->valueAt(pos));
        MediaPlayer1.seek(startFromBar());
        MediaPlayer1.play();
    });
}
