#include "formlinshiguangbo.h"
#include "ducking.h"
#include "emergencybutton.h"
#include "guarded.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QShowEvent>

TFormLinShiGuangBo::TFormLinShiGuangBo(BellStore &store, AudioPlayer &player,
                                       Messages &messages, FileDialogs &dialogs,
                                       QWidget *parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                  | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      MediaPlayer1(player), m_list(store, messages, dialogs, this),
      m_player(m_list, player, messages, this), m_messages(messages)
{
    setObjectName(QStringLiteral("FormLinShiGuangBo"));
    setWindowTitle(QStringLiteral("临时播放广播"));
    QFont f(QStringLiteral("宋体"));
    f.setPixelSize(16);
    setFont(f);
    setFixedSize(624, kHeight);

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
    ButtonPlay = button("ButtonPlay", AdhocPlayer::kPlay, 16);
    ButtonPaused = button("ButtonPaused", AdhocPlayer::kPause, 56);
    ButtonOpen = button("ButtonOpen", QStringLiteral("添加文件"), 136);
    Button1 = button("Button1", QStringLiteral(" 删除文件"), 176);
    Button2 = button("Button2", QStringLiteral("清空文件"), 216);
    ButtonPaused->setEnabled(false);
    // Below the others, apart from them: it cuts in over everything.
    ButtonJinJi = makeEmergencyButton(QString(), this); // its caption comes with the offer
    ButtonJinJi->setGeometry(496, 296, 113, 34);
    ButtonJinJi->hide();
    connect(ButtonJinJi, &QPushButton::clicked, this, [this] {
        if (m_emergency)
            m_emergency();
    });

    playTime = new QLabel(this);
    playTime->setObjectName(QStringLiteral("playTime"));
    playTime->setGeometry(488, 376, 134, 27); // "1:02:03 / 2:00:00" fits too
    playTime->setAlignment(Qt::AlignCenter);
    QFont small = font();
    small.setPixelSize(14);
    playTime->setFont(small);
    duckedNote = new QLabel(Ducking::kDuckedNote, this);
    duckedNote->setObjectName(QStringLiteral("duckedNote"));
    duckedNote->setGeometry(16, 410, 465, 24);
    duckedNote->setStyleSheet(QStringLiteral("color: #a05a00;"));
    duckedNote->hide();

    // Below the window as it always was: the window grows only where zones exist.
    zoneLabel = new QLabel(QStringLiteral("播出位置："), this);
    zoneLabel->setObjectName(QStringLiteral("zoneLabel"));
    zoneLabel->setGeometry(16, kHeight + 8, 100, 24);
    ListFenQu = new QListWidget(this);
    ListFenQu->setObjectName(QStringLiteral("ListFenQu"));
    ListFenQu->setGeometry(16, kHeight + 34, 592, 34);
    ListFenQu->setFlow(QListView::LeftToRight);
    ListFenQu->setWrapping(false);
    ListFenQu->setSpacing(2);
    ListFenQu->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    zoneNote = new QLabel(this);
    zoneNote->setObjectName(QStringLiteral("zoneNote"));
    zoneNote->setGeometry(16, kHeight + 70, 592, 24);
    zoneNote->setStyleSheet(QStringLiteral("color: #c00000;"));
    for (QWidget *w : std::initializer_list<QWidget *>{zoneLabel, ListFenQu, zoneNote})
        w->hide();
    if (BroadcastPlayer *zoned = m_player.zoned()) {
        m_zones = std::make_unique<BroadcastZones>(store, *zoned);
        connect(zoned, &BroadcastPlayer::outputsChanged, this, &TFormLinShiGuangBo::showZoneNote);
        connect(ListFenQu, &QListWidget::itemChanged, this, &TFormLinShiGuangBo::zoneItemChanged);
    }

    Timer1 = &m_player.Timer1;
    TimerPostion = new QTimer(this);
    TimerPostion->setObjectName(QStringLiteral("TimerPostion"));
    TimerPostion->setInterval(100);

    connect(ButtonPlay, &QPushButton::clicked, this, &TFormLinShiGuangBo::ButtonPlayClick);
    connect(ButtonPaused, &QPushButton::clicked, this, &TFormLinShiGuangBo::ButtonPausedClick);
    connect(ButtonOpen, &QPushButton::clicked, this, &TFormLinShiGuangBo::ButtonOpenClick);
    connect(Button1, &QPushButton::clicked, this, &TFormLinShiGuangBo::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFormLinShiGuangBo::Button2Click);
    connect(TimerPostion, &QTimer::timeout, this, &TFormLinShiGuangBo::TimerPostionTimer);
    ListBox1->onDragOver = [this](QObject *source, const QPoint &pos) {
        return ListBox1DragOver(source, pos);
    };
    ListBox1->onDrop = [this](const QPoint &pos) { ListBox1DragDrop(pos); };
    ListBox1->onDoubleClick = [this] { ListBox1DblClick(); };
    TrackBar1->onDragOver = [this](const QPoint &pos) { TrackBar1DragOver(pos); };

    // The operator's choices go to the state; the state comes back to the widgets.
    connect(ListBox1, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!m_showing && row >= 0)
            m_list.select(row);
    });
    // Only a rebuild of the list clears its selection; the widget never drops it.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_showing && ListBox1->selectedItems().isEmpty() && m_list.selected() >= 0)
            showSelection(m_list.selected());
    });
    connect(TrackBar1, &QSlider::valueChanged, this, [this](int v) {
        if (!m_showing)
            m_player.setBar(v);
    });
    connect(&m_list, &AdhocPlaylist::linesChanged, this, &TFormLinShiGuangBo::showLines);
    connect(&m_list, &AdhocPlaylist::selectionChanged, this, &TFormLinShiGuangBo::showSelection);
    connect(&m_player, &AdhocPlayer::changed, this, &TFormLinShiGuangBo::showPlayer);
    // The bar is only seen while the window is: its 100 ms tick sleeps while
    // the window is hidden, so that an idle program wakes once a second.
}

void TFormLinShiGuangBo::guarded(const std::function<void()> &body)
{
    runGuarded(m_messages, body);
}

void TFormLinShiGuangBo::showLines()
{
    m_showing = true;
    ListBox1->setUpdatesEnabled(false);
    ListBox1->clear();
    for (const PlaylistLine &l : m_list.lines()) {
        auto *line = new QListWidgetItem(l.text);
        line->setData(Qt::UserRole, l.id);
        ListBox1->addItem(line);
    }
    ListBox1->setUpdatesEnabled(true);
    m_showing = false;
    if (m_list.selected() >= 0)
        showSelection(m_list.selected());
}

void TFormLinShiGuangBo::showSelection(int row)
{
    m_showing = true;
    ListBox1->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    ListBox1->scrollToItem(ListBox1->item(row));
    m_showing = false;
}

void TFormLinShiGuangBo::showPlayer()
{
    m_showing = true;
    ButtonPlay->setText(m_player.playCaption());
    ButtonPaused->setText(m_player.pauseCaption());
    ButtonPaused->setEnabled(m_player.pauseEnabled());
    TrackBar1->setValue(m_player.bar());
    playTime->setText(m_player.playTime());
    // The choice holds from one start to the next: not while a file plays.
    ListFenQu->setEnabled(!m_player.playMode());
    m_showing = false;
}

void TFormLinShiGuangBo::showZones()
{
    const bool any = m_zones && !m_zones->zones().isEmpty();
    for (QWidget *w : std::initializer_list<QWidget *>{zoneLabel, ListFenQu})
        w->setVisible(any);
    setFixedSize(624, any ? kHeight + 100 : kHeight);
    if (!any)
        return;
    m_showing = true;
    const QList<qint64> chosen = m_zones->chosen();
    ListFenQu->clear();
    auto add = [this](const QString &text, qint64 id, bool on) {
        auto *item = new QListWidgetItem(text, ListFenQu);
        item->setData(Qt::UserRole, id);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    };
    add(BroadcastZones::kBroadcastOutput, 0, chosen.isEmpty());
    for (const Zone &z : m_zones->zones())
        add(z.name, z.id, chosen.contains(z.id));
    m_showing = false;
}

void TFormLinShiGuangBo::zoneItemChanged(QListWidgetItem *item)
{
    if (m_showing || !m_zones)
        return;
    QList<qint64> ids;
    // Checking 广播输出 clears the zones; otherwise the zones checked.
    if (!(item->data(Qt::UserRole).toLongLong() == 0 && item->checkState() == Qt::Checked))
        for (int i = 1; i < ListFenQu->count(); ++i)
            if (ListFenQu->item(i)->checkState() == Qt::Checked)
                ids << ListFenQu->item(i)->data(Qt::UserRole).toLongLong();
    // Shown as it holds even when it could not be kept.
    QTimer::singleShot(0, this, &TFormLinShiGuangBo::showZones);
    guarded([this, ids] { m_zones->choose(ids); });
}

void TFormLinShiGuangBo::showZoneNote()
{
    const QString text = m_zones ? BroadcastPlayer::noteText(m_player.zoned()->skipped()) : QString();
    zoneNote->setText(text);
    zoneNote->setToolTip(text);
    zoneNote->setVisible(!text.isEmpty() && ListFenQu->isVisibleTo(this));
}

int TFormLinShiGuangBo::rowAt(const QPoint &pos) const
{
    QListWidgetItem *line = ListBox1->itemAt(pos);
    return line ? ListBox1->row(line) : -1;
}

// ------------------------------------------------------------------ playlist

void TFormLinShiGuangBo::Refresh() { guarded([this] { m_list.Refresh(); }); }
void TFormLinShiGuangBo::ButtonOpenClick() { guarded([this] { m_list.addFiles(); }); }
void TFormLinShiGuangBo::Button1Click() { guarded([this] { m_list.deleteSelected(); }); }
void TFormLinShiGuangBo::Button2Click() { guarded([this] { m_list.clear(); }); }

bool TFormLinShiGuangBo::ListBox1DragOver(QObject *source, const QPoint &pos)
{
    return source == ListBox1 && m_list.acceptsDrop(rowAt(pos));
}

void TFormLinShiGuangBo::ListBox1DragDrop(const QPoint &pos)
{
    m_list.dropOn(rowAt(pos));
}

// ----------------------------------------------------------- opening, closing

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
    // The close box and close() end here.
    if (isVisible())
        FormClose();
    TimerPostion->stop();
    QDialog::done(result);
}

void TFormLinShiGuangBo::closeEvent(QCloseEvent *event)
{
    // The close box stops the broadcast: asked once while a line plays.
    if (isVisible() && !m_player.mayClose()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TFormLinShiGuangBo::watchDucking(const Ducking &ducking)
{
    duckedNote->setVisible(ducking.ducked());
    connect(&ducking, &Ducking::duckedChanged, duckedNote, &QWidget::setVisible);
}

void TFormLinShiGuangBo::offerEmergency(std::function<void()> press)
{
    m_emergency = std::move(press);
    ButtonJinJi->setVisible(bool(m_emergency));
}

void TFormLinShiGuangBo::showEmergency(const QString &caption)
{
    ButtonJinJi->setText(caption);
}

void TFormLinShiGuangBo::keyPressEvent(QKeyEvent *event)
{
    // QDialog would reject on Escape and cut the broadcast; the window
    // closes only by its close box.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFormLinShiGuangBo::FormShow()
{
    if (m_zones) {
        guarded([this] { m_zones->refresh(); });
        showZones();
        showZoneNote();
    }
    m_player.FormShow();
}
void TFormLinShiGuangBo::FormClose() { m_player.FormClose(); }

// -------------------------------------------------------------------- player

void TFormLinShiGuangBo::ButtonPlayClick() { m_player.ButtonPlayClick(); }
void TFormLinShiGuangBo::ButtonPausedClick() { m_player.ButtonPausedClick(); }
void TFormLinShiGuangBo::ListBox1DblClick() { m_player.ListBox1DblClick(); }
void TFormLinShiGuangBo::Timer1Timer() { m_player.Timer1Timer(); }
void TFormLinShiGuangBo::TimerPostionTimer() { m_player.TimerPostionTimer(); }

void TFormLinShiGuangBo::TrackBar1DragOver(const QPoint &pos)
{
    m_player.dragOverBar(TrackBar1->valueAt(pos));
}
