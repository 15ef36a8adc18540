#include "tformmain.h"

#include "appicon.h"
#include "autostart.h"
#include "calendarcommands.h"
#include "closeguard.h"
#include "dayfeed.h"
#include "ducking.h"
#include "firststart.h"
#include "formlinshiguangbo.h"
#include "links.h"
#include "statusbar.h"
#include "trayicon.h"
#include "listcommands.h"
#include "noticeband.h"
#include "schedulemodel.h"
#include "settings.h"
#include "soundoutputs.h"
#include "historydialog.h"
#include "outputdialog.h"
#include "sheetexport.h"
#include "sheetimport.h"
#include "tformeditdaling.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
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

// A marked day's kind ("按周一上课", "放假 国庆节") does not fit the panel
// at 21 pixels: it goes onto a second line, in a smaller face.
void showDateText(QLabel *panel, const QString &text)
{
    const QFont normal = pixelFont(QStringLiteral("黑体"), 21, true);
    // The cut follows the weekday (" 10月1日 周四"), not the last space.
    const int cut = text.indexOf(u' ', text.indexOf(u'周'));
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
    : QMainWindow(parent), m_app(std::make_unique<DalingApp>(std::move(ctx)))
{
    setObjectName(QStringLiteral("FormMain"));
    m_started.start();
    DalingApp &app = *m_app;
    buildFrame();
    connect(&app.board(), &BellBoard::changed, this, &TFormMain::syncFromBoard);
    FormCreate();
    // The editor and the ad-hoc window come after the main window, whose
    // store they use; both stay hidden until opened.
    FormEditDaLing = new TFormEditDaLing(app.store(), app.board(), app.editorPlayer(), app.messages(),
                                         app.dialogs(), this);
    FormLinShiGuangBo = new TFormLinShiGuangBo(app.store(), app.adhocPlayer(), app.messages(),
                                               app.dialogs(), this);
    // The dialogs block only the main window, so that the tray icon still
    // answers while one of them is open.
    FormEditDaLing->setWindowModality(Qt::WindowModal);
    FormLinShiGuangBo->setWindowModality(Qt::WindowModal);
    FormLinShiGuangBo->adhocPlayer().refusal = [&app] {
        return app.feed().emergency() ? EmergencyBroadcast::kBroadcastRefused : QString();
    };
    setUpAdhocEmergency();
    FormEditDaLing->setZones(app.zones());
    setUpDucking();
    setUpBroadcastPower();
    m_commands = std::make_unique<ListCommands>(app.board(), *FormEditDaLing, app.messages());
    // The timetable in use on the status bar, named again whenever the
    // engine's list changes (a switch by date among them).
    connect(&app.feed(), &DayFeed::listRead, this, &TFormMain::showTimetableNote);
    showTimetableNote();
    syncFromBoard();
}

TFormMain::~TFormMain()
{
    // Stop the clock before the parts it drives go away; the windows go
    // first: their players belong to the program's parts.
    m_app->stopClocks();
    delete FormEditDaLing;
    delete FormLinShiGuangBo;
}

void TFormMain::FormCreate()
{
    // What is wrong with the store, the bells that did not ring, the
    // relays that do not answer: the engine's bands, never a box (a box
    // would wait for a click, and at autostart nobody clicks).
    setUpBands();
}

void TFormMain::tellRefusal(const std::optional<LinkError> &error)
{
    if (error)
        m_app->messages().typedOk(Messages::Kind::Warning, error->text);
}

void TFormMain::buildFrame()
{
    setWindowTitle(QStringLiteral("Quorlin校园铃声广播系统3.12"));
    setFont(pixelFont(QStringLiteral("宋体"), 16));
    resize(800, 600);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);

    buildMenu();

    auto *central = new QWidget(this);
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    // The band sits over the grid only: the right-hand panel's boxes have
    // fixed places and must stay whole.
    auto *column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_emergencyBand = new NoticeBand(central);
    m_emergencyBand->setObjectName(QStringLiteral("EmergencyBand"));
    column->addWidget(m_emergencyBand);
    m_storeBand = new NoticeBand(central);
    m_storeBand->setObjectName(QStringLiteral("StoreBand"));
    column->addWidget(m_storeBand);
    m_stoppedBand = new NoticeBand(central);
    m_stoppedBand->setObjectName(QStringLiteral("StoppedBand"));
    column->addWidget(m_stoppedBand);
    m_notRungBand = new NoticeBand(central);
    m_notRungBand->setObjectName(QStringLiteral("NotRungBand"));
    column->addWidget(m_notRungBand);
    m_relayBand = new NoticeBand(central);
    m_relayBand->setObjectName(QStringLiteral("RelayBand"));
    column->addWidget(m_relayBand);
    row->addLayout(column, 1);

    buildGrid(central, column);
    mountPaging(column);

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
    PanelDate = panelLabel(dateBox, "PanelDate", board().dateText(), QRect(6, 6, 155, 46), 21);
    QFrame *clockBox = box(PanelMenu, "PanelShowTimeBox", 377);
    PanelShowTime = panelLabel(clockBox, "PanelShowTime", board().clockText(), QRect(6, 6, 156, 48), 35);
    QFrame *playBox = box(PanelMenu, "PanelYunXing", 448);
    LabelYunXing = new QLabel(board().yunXing(), playBox);
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
    LabelNowTime = new QLabel(board().labelNowTime(), playBox);
    LabelNowTime->setObjectName(QStringLiteral("LabelNowTime"));
    LabelNowTime->hide();

    setCentralWidget(central);

    StatusBar1 = new DaLingStatusBar(this);
    setStatusBar(StatusBar1);
    connect(StatusBar1, &DaLingStatusBar::clicked, this, &TFormMain::StatusBar1Click);

    setWindowIcon(appIcon());
    CoolTrayIcon1 = new TCoolTrayIcon(this, {}, this);
    CoolTrayIcon1->setUpMenu([this] { return board().running(); },
                             [this] {
                                 if (board().playEnabled()) // not during test playback
                                     ButtonPlayClick();
                             });
    m_closeGuard = new CloseGuard(this, m_app->messages(), this);
    // A service rings on after the window; our child or our own engine does not.
    m_closeGuard->setBellsGoOn(!m_app->host().endsWithWindow());
    setUpEmergency();
}

void TFormMain::showTimetableNote()
{
    m_noteDate = m_app->clock().now().date();
    calendar().noteTimetableSeen(m_noteDate);
    StatusBar1->setNote(calendar().timetableNote(m_noteDate));
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
        m_app->windowShown();
    }
    setUpGrid();
    m_autostart->readMark();
    board().setLabelNowTime(QStringLiteral("0"));
}

void TFormMain::syncFromBoard()
{
    const BellBoard &b = board();
    ButtonPlay->setText(b.playCaption());
    ButtonCheck->setText(b.checkCaption());
    ButtonPlay->setEnabled(b.playEnabled());
    ButtonLinShi->setEnabled(b.adhocEnabled());
    ButtonCheck->setEnabled(b.checkEnabled());
    for (QPushButton *btn : {ButtonADD, ButtonEdit, ButtonDel, ButtonOutExcel, ButtonIntExcel})
        btn->setEnabled(b.editingEnabled());
    showDateText(PanelDate, b.dateText());
    if (m_noteDate.isValid() && m_noteDate != m_app->clock().now().date())
        showTimetableNote(); // a day's switch is news for that day only
    PanelShowTime->setText(b.clockText());
    LabelYunXing->setText(b.yunXing());
    LabelNowTime->setText(b.labelNowTime());
    // The bar counts in int; long files are shown in proportion.
    const qint64 max = std::max<qint64>(b.progressMax(), 0);
    const int scale = max > INT_MAX ? int(max / INT_MAX + 1) : 1;
    ProgressBar1->setMaximum(int(max / scale));
    ProgressBar1->setValue(int(std::clamp<qint64>(b.progressPos(), 0, max) / scale));
}

void TFormMain::ButtonPlayClick()
{
    m_app->link().setMode(!board().running(), [this](const LinkResult<bool> &r) { tellRefusal(r.error); });
}

void TFormMain::ButtonCheckClick()
{
    if (board().testing()) {
        m_app->link().testStop([this](const LinkResult<LinkDone> &r) { tellRefusal(r.error); });
        return;
    }
    // From the selected row; a spare row names no bell, and the engine says so.
    const BellEntry *e = board().entryAtRow(board().selectedRow());
    m_app->link().testPlay(e ? e->id : -1, [this](const LinkResult<LinkDone> &r) { tellRefusal(r.error); });
}
void TFormMain::ButtonLinShiClick() { guarded([this] { FormLinShiGuangBo->exec(); }); }
// Each edit writes the store, then the engine reads it again.
void TFormMain::ButtonADDClick() { guarded([this] { m_commands->ButtonADDClick(); }); m_app->reloadEngine(); }
void TFormMain::ButtonEditClick() { guarded([this] { m_commands->ButtonEditClick(); }); m_app->reloadEngine(); }
void TFormMain::ButtonDelClick() { guarded([this] { m_commands->ButtonDelClick(); }); m_app->reloadEngine(); }
void TFormMain::ButtonOutExcelClick() { guarded([this] { m_app->sheetExport().run(); }); }
void TFormMain::ButtonIntExcelClick() { guarded([this] { m_app->sheetImport().run(); }); }
void TFormMain::N6Click() { guarded([this] { m_commands->N6Click(); }); m_app->reloadEngine(); }
void TFormMain::N9Click() { openMakerSite(); }

void TFormMain::StatusBar1Click() { openMakerSite(); }

void TFormMain::closeEvent(QCloseEvent *e)
{
    m_closeGuard->FormCloseQuery(e);
}
