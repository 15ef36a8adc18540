#include "tformmain.h"

#include "appicon.h"
#include "autostart.h"
#include "calendarcommands.h"
#include "closeguard.h"
#include "ducking.h"
#include "firststart.h"
#include "formlinshiguangbo.h"
#include "links.h"
#include "statusbar.h"
#include "trayicon.h"
#include "listcommands.h"
#include "ringengine.h"
#include "ringhistory.h"
#include "settings.h"
#include "soundoutputs.h"
#include "historydialog.h"
#include "outputdialog.h"
#include "sheetexport.h"
#include "sheetimport.h"
#include "testplayback.h"
#include "tformeditdaling.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>

namespace {

const QColor kNavy(0, 0, 128);
const QColor kCream(255, 251, 240);

QFont pixelFont(const QString &family, int px, bool bold = false)
{
    QFont f(family);
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

// Cells are drawn on one line, centred. Column 0 (the running number) is a
// fixed column: drawn in the fixed-cell colour and never as selected. In
// running mode the status colours replace the grid's own (selection
// included) for every cell right of it.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (index.column() == 0) {
            // Filled here: the view has already painted the selected row's
            // highlight under every cell.
            p->fillRect(option.rect, option.palette.button());
            p->setPen(option.palette.buttonText().color());
            p->setFont(option.font);
            p->drawText(option.rect, Qt::AlignCenter | Qt::TextSingleLine, index.data().toString());
            return;
        }
        const QVariant fg = index.data(Qt::ForegroundRole);
        if (!fg.isValid()) {
            QStyledItemDelegate::paint(p, option, index);
            return;
        }
        const QVariant bg = index.data(Qt::BackgroundRole);
        p->fillRect(option.rect, bg.isValid() ? bg.value<QBrush>() : option.palette.base());
        p->setPen(fg.value<QBrush>().color());
        p->setFont(option.font);
        p->drawText(option.rect, Qt::AlignCenter | Qt::TextSingleLine, index.data().toString());
    }
};

QPushButton *menuButton(QWidget *panel, const char *name, const QString &caption, int top)
{
    auto *b = new QPushButton(caption, panel);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(48, top, 97, 27);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

QFrame *box(QWidget *panel, const char *name, int top)
{
    auto *f = new QFrame(panel);
    f->setObjectName(QString::fromLatin1(name));
    f->setGeometry(10, top, 169, 61);
    f->setFrameStyle(QFrame::Panel | QFrame::Raised);
    f->setLineWidth(2);
    return f;
}

QLabel *panelLabel(QWidget *parent, const char *name, const QString &text, const QRect &r, int px)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(r);
    l->setAlignment(Qt::AlignCenter);
    l->setFont(pixelFont(QStringLiteral("黑体"), px, true));
    l->setAutoFillBackground(true);
    QPalette pal = l->palette();
    pal.setColor(QPalette::Window, kCream);
    pal.setColor(QPalette::WindowText, kNavy);
    l->setPalette(pal);
    return l;
}

// A marked day's kind ("按周一上课") does not fit the panel at 21 pixels:
// it goes onto a second line, in a smaller face.
void showDateText(QLabel *panel, const QString &text)
{
    const QFont normal = pixelFont(QStringLiteral("黑体"), 21, true);
    const int cut = text.lastIndexOf(u' ');
    if (QFontMetrics(normal).horizontalAdvance(text) <= panel->width() || cut <= 0) {
        panel->setFont(normal);
        panel->setText(text);
        return;
    }
    panel->setFont(pixelFont(QStringLiteral("黑体"), 17, true));
    panel->setText(text.left(cut) + u'\n' + text.mid(cut + 1));
}

} // namespace

TFormMain::TFormMain(MainContext ctx, QWidget *parent)
    : QMainWindow(parent), m_ctx(std::move(ctx))
{
    setObjectName(QStringLiteral("FormMain"));
    // The store comes first: the players are made for the outputs it keeps.
    const QString storeError = openStore();
    m_settings = std::make_unique<Settings>(m_store);
    const SoundOutputs outputs(*m_settings);
    m_player = m_ctx.makePlayer(outputs.device(SoundOutputs::Bells));
    // A bell due while the previous one plays is opened ahead on this one.
    m_sparePlayer = m_ctx.makePlayer(outputs.device(SoundOutputs::Bells));
    // A bell sounds only a file of the music folder, never one a link there
    // leads to elsewhere.
    m_player->setConfinedTo(m_ctx.paths.musicFolder());
    m_sparePlayer->setConfinedTo(m_ctx.paths.musicFolder());
    m_board = std::make_unique<BellBoard>(m_store, *m_ctx.clock, m_ctx.paths);
    // --- school calendar ---
    m_calendar = std::make_unique<SchoolCalendar>(m_store);
    m_board->setDayPlan(m_calendar.get());
    // A failed switch by date comes up inside a Refresh of the clock's tick:
    // told once the tick is done; the list that rang before stays.
    m_calendar->onSwitchFailed = [this](const QString &text) {
        QTimer::singleShot(0, this, [this, text] {
            m_ctx.messages->generalError(QStringLiteral("作息方案没有按启用日切换：") + text);
        });
    };
    m_calendarCommands = std::make_unique<CalendarCommands>(
        *m_calendar, *m_ctx.messages, *m_ctx.dialogs, [this] { guarded([this] { m_board->Refresh(); }); });
    // --- end school calendar ---
    m_engine = std::make_unique<RingEngine>(*m_board, *m_player, *m_ctx.messages, *m_ctx.clock,
                                            nullptr, m_sparePlayer.get());
    m_history = std::make_unique<RingHistory>(m_store);
    m_engine->setHistory(m_history.get());
    m_engine->setProcessEvents([] { QCoreApplication::processEvents(); });
    m_test = std::make_unique<TestPlayback>(*m_board, *m_player, *m_ctx.messages);
    buildFrame();
    connect(m_board.get(), &BellBoard::changed, this, &TFormMain::syncFromBoard);
    FormCreate(storeError);
    // The editor and the ad-hoc window come after the main window, whose
    // store they use; both stay hidden until opened.
    // The editor's playback is a test of the bells' sound: their output.
    m_editorPlayer = m_ctx.makePlayer(outputs.device(SoundOutputs::Bells));
    FormEditDaLing = new TFormEditDaLing(m_store, *m_board, *m_editorPlayer, *m_ctx.messages,
                                         *m_ctx.dialogs, this);
    m_adhocPlayer = m_ctx.makePlayer(outputs.device(SoundOutputs::Broadcast));
    FormLinShiGuangBo = new TFormLinShiGuangBo(m_store, *m_adhocPlayer, *m_ctx.messages,
                                               *m_ctx.dialogs, this);
    // The dialogs block only the main window, so that the tray icon still
    // answers while one of them is open.
    FormEditDaLing->setWindowModality(Qt::WindowModal);
    FormLinShiGuangBo->setWindowModality(Qt::WindowModal);
    setUpDucking();
    m_commands = std::make_unique<ListCommands>(*m_board, *FormEditDaLing, *m_test, *m_player,
                                                *m_ctx.messages);
    const auto processEvents = [] { QCoreApplication::processEvents(); };
    m_export = std::make_unique<SheetExport>(m_board->grid(), *m_ctx.messages, *m_ctx.dialogs,
                                             processEvents);
    m_import = std::make_unique<SheetImport>(m_store, m_ctx.paths, *m_ctx.messages, *m_ctx.dialogs,
                                             processEvents, [this] { m_board->Refresh(); });
    syncFromBoard();
}

TFormMain::~TFormMain()
{
    // Stop the clock before the parts it drives go away.
    m_engine->TimerShiJian.stop();
    m_engine->TimerShan.stop();
    m_test->TimerCheck.stop();
    // The windows go first: their players are members of this frame.
    delete FormEditDaLing;
    delete FormLinShiGuangBo;
    m_history->flush();
    for (auto *p : {m_player.get(), m_sparePlayer.get(), m_editorPlayer.get(), m_adhocPlayer.get()})
        if (p)
            p->close();
}

QString TFormMain::openStore()
{
    // A fresh copy of the program may come without its data folder; an
    // installed one starts with the sample timetable it came with.
    QDir().mkpath(m_ctx.paths.dataFolder());
    seedStoreFromSample(m_ctx.paths);
    return m_store.open(m_ctx.paths.databaseFile());
}

void TFormMain::FormCreate(const QString &error)
{
    // The history keeps a little over a year.
    m_history->prune(m_ctx.clock->now().date());
    if (error.isEmpty())
        return;
    if (m_store.isOpen()) // open for reading only: a warning, the bells ring
        m_ctx.messages->typedOk(Messages::Kind::Warning, error);
    else
        m_ctx.messages->generalError(error);
}

void TFormMain::buildFrame()
{
    setWindowTitle(QStringLiteral("Quorlin校园铃声广播系统3.12"));
    setFont(pixelFont(QStringLiteral("宋体"), 16));
    resize(800, 600);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);

    N1 = menuBar()->addMenu(QStringLiteral("系统"));
    N1->setObjectName(QStringLiteral("N1"));
    NZiDong = N1->addAction(QStringLiteral("开机启动启动"));
    NZiDong->setObjectName(QStringLiteral("NZiDong"));
    // The menu item reads and flips the autostart entry itself.
    m_autostart = new AutostartMenu(NZiDong, *m_ctx.messages, Autostart(m_ctx.autostartFolder),
                                    m_ctx.executablePath, this);
    NDuck = N1->addAction(Ducking::kSetting);
    NDuck->setObjectName(QStringLiteral("NDuck"));
    NDuck->setCheckable(true);
    N1->addSeparator();
    N6 = N1->addAction(QStringLiteral("清除打铃列表"));
    N6->setObjectName(QStringLiteral("N6"));
    NJiLu = N1->addAction(QStringLiteral("打铃记录…"));
    NJiLu->setObjectName(QStringLiteral("NJiLu"));
    connect(NJiLu, &QAction::triggered, this, &TFormMain::NJiLuClick);
    NCalendar = N1->addAction(QStringLiteral("校历与作息方案…"));
    NCalendar->setObjectName(QStringLiteral("NCalendar"));
    connect(NCalendar, &QAction::triggered, this, &TFormMain::NCalendarClick);
    NOutput = N1->addAction(OutputDialog::kMenuText);
    NOutput->setObjectName(QStringLiteral("NOutput"));
    connect(NOutput, &QAction::triggered, this, &TFormMain::NOutputClick);
    N1->addSeparator();
    N9 = N1->addAction(QStringLiteral("Quorlin官网"));
    N9->setObjectName(QStringLiteral("N9"));
    connect(N6, &QAction::triggered, this, &TFormMain::N6Click);
    connect(N9, &QAction::triggered, this, &TFormMain::N9Click);

    auto *central = new QWidget(this);
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    StringGridshow = new QTableView(central);
    StringGridshow->setObjectName(QStringLiteral("StringGridshow"));
    StringGridshow->setModel(&m_board->grid());
    StringGridshow->setItemDelegate(new CellDelegate(StringGridshow));
    StringGridshow->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGridshow->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGridshow->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGridshow->verticalHeader()->hide();
    StringGridshow->verticalHeader()->setDefaultSectionSize(30);
    StringGridshow->verticalHeader()->setMinimumSectionSize(10);
    StringGridshow->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    StringGridshow->horizontalHeader()->setHighlightSections(false);
    StringGridshow->setWordWrap(false);
    row->addWidget(StringGridshow, 1);
    connect(StringGridshow->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &cur) {
                if (cur.isValid())
                    m_board->grid().setSelectedRow(cur.row() + 1);
            });
    connect(&m_board->grid(), &ScheduleGrid::selectedRowChanged, this, [this](int r) {
        const QModelIndex idx = m_board->grid().index(r - 1, 1);
        if (StringGridshow->currentIndex().row() != r - 1) {
            StringGridshow->setCurrentIndex(idx);
            StringGridshow->scrollTo(idx);
        }
    });
    connect(&m_board->grid(), &QAbstractItemModel::modelReset, this, [this] {
        const QModelIndex idx = m_board->grid().index(m_board->grid().selectedRow() - 1, 1);
        StringGridshow->setCurrentIndex(idx);
    });
    connect(StringGridshow, &QTableView::doubleClicked, this, &TFormMain::StringGridshowDblClick);

    PanelMenu = new QWidget(central);
    PanelMenu->setObjectName(QStringLiteral("PanelMenu"));
    PanelMenu->setFixedWidth(184);
    row->addWidget(PanelMenu);

    ButtonPlay = menuButton(PanelMenu, "ButtonPlay", BellBoard::kStopCaption, 24);
    ButtonLinShi = menuButton(PanelMenu, "ButtonLinShi", QStringLiteral("临时广播"), 58);
    ButtonCheck = menuButton(PanelMenu, "ButtonCheck", BellBoard::kTestCaption, 92);
    ButtonADD = menuButton(PanelMenu, "ButtonADD", QStringLiteral("添  加"), 127);
    ButtonEdit = menuButton(PanelMenu, "ButtonEdit", QStringLiteral("修  改"), 161);
    ButtonDel = menuButton(PanelMenu, "ButtonDel", QStringLiteral("删  除"), 196);
    ButtonOutExcel = menuButton(PanelMenu, "ButtonOutExcel", QStringLiteral("存为EXCEL"), 230);
    ButtonIntExcel = menuButton(PanelMenu, "ButtonIntExcel", QStringLiteral("导入EXCEL"), 265);
    connect(ButtonPlay, &QPushButton::clicked, this, &TFormMain::ButtonPlayClick);
    connect(ButtonLinShi, &QPushButton::clicked, this, &TFormMain::ButtonLinShiClick);
    connect(ButtonCheck, &QPushButton::clicked, this, &TFormMain::ButtonCheckClick);
    connect(ButtonADD, &QPushButton::clicked, this, &TFormMain::ButtonADDClick);
    connect(ButtonEdit, &QPushButton::clicked, this, &TFormMain::ButtonEditClick);
    connect(ButtonDel, &QPushButton::clicked, this, &TFormMain::ButtonDelClick);
    connect(ButtonOutExcel, &QPushButton::clicked, this, &TFormMain::ButtonOutExcelClick);
    connect(ButtonIntExcel, &QPushButton::clicked, this, &TFormMain::ButtonIntExcelClick);

    QFrame *dateBox = box(PanelMenu, "PanelDateBox", 306);
    PanelDate = panelLabel(dateBox, "PanelDate", m_board->dateText(), QRect(6, 6, 155, 46), 21);
    QFrame *clockBox = box(PanelMenu, "PanelShowTimeBox", 377);
    PanelShowTime = panelLabel(clockBox, "PanelShowTime", m_board->clockText(), QRect(6, 6, 156, 48), 35);
    QFrame *playBox = box(PanelMenu, "PanelYunXing", 448);
    LabelYunXing = new QLabel(m_board->yunXing(), playBox);
    LabelYunXing->setObjectName(QStringLiteral("LabelYunXing"));
    LabelYunXing->setGeometry(12, 6, 150, 26);
    LabelYunXing->setFont(pixelFont(QStringLiteral("宋体"), 19));
    QPalette red = LabelYunXing->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    LabelYunXing->setPalette(red);
    ProgressBar1 = new QProgressBar(playBox);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(13, 36, 145, 9);
    ProgressBar1->setTextVisible(false);
    LabelNowTime = new QLabel(m_board->labelNowTime(), playBox);
    LabelNowTime->setObjectName(QStringLiteral("LabelNowTime"));
    LabelNowTime->hide();

    setCentralWidget(central);

    StatusBar1 = new DaLingStatusBar(this);
    setStatusBar(StatusBar1);
    connect(StatusBar1, &DaLingStatusBar::clicked, this, &TFormMain::StatusBar1Click);

    setWindowIcon(appIcon());
    CoolTrayIcon1 = new TCoolTrayIcon(this, {}, this);
    m_closeGuard = new CloseGuard(this, *m_ctx.messages, this);
}

void TFormMain::setUpGrid()
{
    static const int widths[ScheduleGrid::kColumns] = {30, 81, 145, 131, 142, 42, 102, 70, 0, 0};
    static const char16_t *const headers[] = {u"序", u"时间", u"名称", u"音乐", u"周期",
                                              u"时长", u"备注", u"状态"};
    for (int c = 0; c < ScheduleGrid::kColumns; ++c) {
        StringGridshow->setColumnWidth(c, widths[c]);
        StringGridshow->setColumnHidden(c, widths[c] == 0);
        if (c < 8)
            m_board->grid().setCell(c, 0, QString::fromUtf16(headers[c]));
    }
}

void TFormMain::showEvent(QShowEvent *e)
{
    QMainWindow::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TFormMain::FormShow()
{
    if (!m_clockStarted) {
        m_clockStarted = true;
        m_engine->start();
    }
    setUpGrid();
    m_autostart->readMark();
    m_board->setLabelNowTime(QStringLiteral("0"));
}

void TFormMain::syncFromBoard()
{
    const BellBoard &b = *m_board;
    ButtonPlay->setText(b.playCaption());
    ButtonCheck->setText(b.checkCaption());
    ButtonPlay->setEnabled(b.playEnabled());
    ButtonLinShi->setEnabled(b.adhocEnabled());
    ButtonCheck->setEnabled(b.checkEnabled());
    for (QPushButton *btn : {ButtonADD, ButtonEdit, ButtonDel, ButtonOutExcel, ButtonIntExcel})
        btn->setEnabled(b.editingEnabled());
    showDateText(PanelDate, b.dateText());
    PanelShowTime->setText(b.clockText());
    LabelYunXing->setText(b.yunXing());
    LabelNowTime->setText(b.labelNowTime());
    // The bar counts in int; long files are shown in proportion.
    const qint64 max = std::max<qint64>(b.progressMax(), 0);
    const int scale = max > INT_MAX ? int(max / INT_MAX + 1) : 1;
    ProgressBar1->setMaximum(int(max / scale));
    ProgressBar1->setValue(int(std::clamp<qint64>(b.progressPos(), 0, max) / scale));
}

void TFormMain::guarded(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const AppError &e) {
        m_ctx.messages->generalError(e.text());
    } catch (const std::exception &e) {
        m_ctx.messages->generalError(QString::fromLocal8Bit(e.what()));
    }
}

void TFormMain::ButtonPlayClick() { guarded([this] { m_engine->ButtonPlayClick(); }); }
void TFormMain::ButtonCheckClick()
{
    guarded([this] { m_test->ButtonCheckClick(); });
    if (m_board->testing()) // test playback lowers the broadcast too
        m_bellWatch->watchWhile([this] { return m_board->testing(); });
}
void TFormMain::ButtonLinShiClick() { guarded([this] { FormLinShiGuangBo->exec(); }); }
void TFormMain::ButtonADDClick() { guarded([this] { m_commands->ButtonADDClick(); }); }
void TFormMain::ButtonEditClick() { guarded([this] { m_commands->ButtonEditClick(); }); }
void TFormMain::ButtonDelClick() { guarded([this] { m_commands->ButtonDelClick(); }); }
void TFormMain::ButtonOutExcelClick() { guarded([this] { m_export->run(); }); }
void TFormMain::ButtonIntExcelClick() { guarded([this] { m_import->run(); }); }
void TFormMain::N6Click() { guarded([this] { m_commands->N6Click(); }); }
void TFormMain::N9Click() { openMakerSite(); }

void TFormMain::StatusBar1Click() { openMakerSite(); }
void TFormMain::StringGridshowDblClick()
{
    guarded([this] { m_commands->StringGridshowDblClick(); });
    if (m_player->isPlaying()) // an entry played to hear it counts as a bell
        m_bellWatch->bellRang();
}

void TFormMain::closeEvent(QCloseEvent *e)
{
    m_closeGuard->FormCloseQuery(e);
}
