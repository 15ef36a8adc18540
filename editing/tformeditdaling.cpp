#include "tformeditdaling.h"

#include <QCheckBox>
#include "audiolog.h"
#include "guarded.h"
#include "secondsofday.h"
#include "weekdayset.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <limits>

namespace {

// Nothing may escape a Qt slot: a failure ends the handler and is shown in
// the general error box.
template <typename Fn>
void guarded(Messages &messages, Fn &&fn)
{
    runGuarded(messages, std::forward<Fn>(fn));
}

QLabel *label(QWidget *parent, const char *name, const QString &text, int x, int y)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLineEdit *edit(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(x, y, w, h);
    return e;
}

QPushButton *button(QWidget *parent, const char *name, const QString &text, int x, int y, int w,
                    int h)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
}

} // namespace

TFormEditDaLing::TFormEditDaLing(BellStore &store, BellBoard &board, AudioPlayer &player,
                                 Messages &messages, FileDialogs &dialogs, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_store(store), m_board(board), m_messages(messages), m_dialogs(dialogs),
      m_editor(store, player, board.paths().musicFolder())
{
    setObjectName(QStringLiteral("FormEditDaLing"));
    setWindowTitle(QStringLiteral("编辑铃声内容"));
    QFont f(QStringLiteral("宋体"));
    f.setPixelSize(16);
    setFont(f);
    setFixedSize(563, 363);
    buildControls();

    m_fields[0] = {EditHour, 24, QStringLiteral("不能大于24小时"), QStringLiteral("必须输入小时"),
                   QStringLiteral("小时")};
    m_fields[1] = {EditMin, 59, QStringLiteral("不能大于59分"), QStringLiteral("必须输入分钟"),
                   QStringLiteral("分钟")};
    m_fields[2] = {EditSec, 59, QStringLiteral("不能大于59秒"), QStringLiteral("必须输入秒钟"),
                   QStringLiteral("秒钟")};

    connect(Button1, &QPushButton::clicked, this, &TFormEditDaLing::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFormEditDaLing::Button2Click);
    connect(S, &QPushButton::clicked, this, &TFormEditDaLing::SClick);
    connect(SpeedButton8, &QPushButton::clicked, this, &TFormEditDaLing::SpeedButton8Click);
    // Leaving a time field for another control of this dialog runs its check;
    // focus going to a message box or another window does not.
    connect(qApp, &QApplication::focusChanged, this, &TFormEditDaLing::onFocusChanged);
    // A length the player measured after the chooser returned.
    connect(&m_editor, &EntryEditor::measured, EditTimeLong, &QLineEdit::setText);
    connect(&m_editor, &EntryEditor::measureFailed, this, [this](const QString &message) {
        EditYinYue->clear();
        EditTimeLong->clear();
        m_messages.plain(message);
    });
}

TFormEditDaLing::~TFormEditDaLing()
{
    // Hiding in QDialog's destructor moves the focus; this part is gone by then.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
}

void TFormEditDaLing::buildControls()
{
    Label1 = label(this, "Label1", QStringLiteral("时间"), 42, 24);
    EditHour = edit(this, "EditHour", 96, 24, 37, 24);
    Label7 = label(this, "Label7", QStringLiteral(":"), 146, 28);
    EditMin = edit(this, "EditMin", 163, 24, 37, 24);
    Label8 = label(this, "Label8", QStringLiteral(":"), 214, 28);
    EditSec = edit(this, "EditSec", 231, 24, 37, 24);
    Label4 = label(this, "Label4", QStringLiteral("名称"), 42, 73);
    EditName = edit(this, "EditName", 96, 72, 181, 24);
    Label2 = label(this, "Label2", QStringLiteral("星期"), 42, 123);

    const char *dayNames[7] = {"S0", "S1", "S2", "S3", "S4", "S5", "S6"};
    const int dayLeft[7] = {97, 150, 204, 258, 312, 366, 420};
    QPushButton **dayButtons[7] = {&S0, &S1, &S2, &S3, &S4, &S5, &S6};
    for (int i = 0; i < 7; ++i)
        *dayButtons[i] = button(this, dayNames[i], WeekdaySet::dayChar(i), dayLeft[i], 118, 39, 25);
    S = button(this, "S", QStringLiteral("全选"), 474, 118, 39, 25);
    for (QPushButton *b : {S0, S1, S2, S3, S4, S5, S6, S}) {
        b->setCheckable(true); // each toggles on its own; none excludes another
        // Reached with Tab and toggled with Space; a click still leaves the
        // focus in the field being typed. A pressed day is filled so that it
        // reads at a glance in every style.
        b->setFocusPolicy(Qt::TabFocus);
        b->setStyleSheet(QStringLiteral("QPushButton:checked { background: #1c4f9c; color: white; "
                                        "font-weight: bold; border: 1px solid #0b2a57; }"));
    }

    Label3 = label(this, "Label3", QStringLiteral("音乐"), 42, 172);
    EditYinYue = edit(this, "EditYinYue", 96, 168, 389, 24);
    SpeedButton8 = button(this, "SpeedButton8", QStringLiteral("…"), 486, 166, 27, 26);
    SpeedButton8->setFocusPolicy(Qt::TabFocus);
    Label5 = label(this, "Label5", QStringLiteral("时长"), 42, 222);
    EditTimeLong = edit(this, "EditTimeLong", 96, 216, 181, 24);
    EditTimeLong->setEnabled(false); // filled only from the store or by measuring
    Label6 = label(this, "Label6", QStringLiteral("备注"), 42, 272);
    EditBeiZhu = edit(this, "EditBeiZhu", 96, 264, 181, 24);
    Button1 = button(this, "Button1", QStringLiteral("保 存"), 416, 224, 97, 32);
    Button2 = button(this, "Button2", QStringLiteral("关 闭"), 416, 280, 97, 32);

    QWidget *order[] = {EditHour, EditMin, EditSec, EditName, EditYinYue,
                        EditTimeLong, EditBeiZhu, Button1, Button2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    // Digits only, also when pasted; the input method would bypass the key
    // filter, so the time fields take plain keys.
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (QLineEdit *e : {EditHour, EditMin, EditSec}) {
        e->setValidator(new QRegularExpressionValidator(digits, e));
        e->setAttribute(Qt::WA_InputMethodEnabled, false);
        e->setInputMethodHints(Qt::ImhDigitsOnly);
    }
    // Key preview: the dialog sees each key before the focused control.
    installEventFilter(this);
    for (QWidget *w : order)
        w->installEventFilter(this);
}

// --- the record --------------------------------------------------------

void TFormEditDaLing::beginInsert() { m_editor.beginInsert(); }

const std::optional<BellEntry> &TFormEditDaLing::locate(const QString &idText)
{
    return m_editor.locate(idText);
}

void TFormEditDaLing::fillFromRecord()
{
    const BellEntry e = record().value_or(BellEntry{});
    EditHour->setText(twoDigits(e.time / 3600));
    EditMin->setText(twoDigits((e.time % 3600) / 60));
    EditSec->setText(twoDigits(e.time % 60));
    EditName->setText(e.name);
    S->setChecked(false);
    const auto down = EntryEditor::storedDays(e.weekdays);
    const auto buttons = days();
    for (int i = 0; i < 7; ++i)
        buttons[i]->setChecked(down[i]);
    EditYinYue->setText(e.music);
    EditTimeLong->setText(e.duration);
    EditBeiZhu->setText(e.remark);
    for (QCheckBox *b : std::as_const(zoneBoxes))
        b->setChecked(e.zones.contains(b->property("zone").toLongLong()));
}

void TFormEditDaLing::setZones(const QList<Zone> &zones)
{
    qDeleteAll(zoneBoxes);
    zoneBoxes.clear();
    delete m_zoneLabel;
    m_zoneLabel = nullptr;
    if (zones.isEmpty()) {
        setFixedSize(563, 363);
        return;
    }
    m_zoneLabel = label(this, "LabelZones", QStringLiteral("分区"), 42, 322);
    m_zoneLabel->show();
    int x = 96, y = 318;
    for (const Zone &z : zones) {
        auto *b = new QCheckBox(z.name, this);
        b->setProperty("zone", z.id);
        b->adjustSize();
        if (x + b->width() > 540 && x > 96) {
            x = 96;
            y += 30;
        }
        b->move(x, y);
        b->show();
        x += b->width() + 12;
        zoneBoxes << b;
    }
    setFixedSize(563, y + 45);
}

void TFormEditDaLing::deleteRecord(const QString &idText) { m_editor.deleteRecord(idText); }

void TFormEditDaLing::clearedit()
{
    // A new entry starts from nothing: no day, no zone and "全选" up, so
    // that the last entry's choices never slip into the next one unseen.
    for (QLineEdit *e : {EditHour, EditMin, EditSec, EditName, EditYinYue, EditTimeLong, EditBeiZhu})
        e->clear();
    S->setChecked(false);
    SClick();
    for (QCheckBox *b : std::as_const(zoneBoxes))
        b->setChecked(false);
}

// --- handlers ----------------------------------------------------------

void TFormEditDaLing::SClick()
{
    for (QPushButton *b : days())
        b->setChecked(S->isChecked());
}

qint64 TFormEditDaLing::fieldValue(const TimeField &field) const
{
    return EntryEditor::fieldValue(field.edit->text(), field.what);
}

EntryFields TFormEditDaLing::fields() const
{
    EntryFields f{EditHour->text(), EditMin->text(), EditSec->text(), EditName->text(),
                  EditYinYue->text(), EditTimeLong->text(), EditBeiZhu->text(), {}};
    const auto buttons = days();
    for (int i = 0; i < 7; ++i)
        f.days[i] = buttons[i]->isChecked();
    for (const QCheckBox *b : zoneBoxes)
        if (b->isChecked())
            f.zones << b->property("zone").toLongLong();
    return f;
}

void TFormEditDaLing::Button1Click()
{
    guarded(m_messages, [&] {
        const auto refusal = m_editor.save(fields());
        if (!refusal) {
            done(QDialog::Accepted);
            return;
        }
        m_messages.typedOk(Messages::Kind::Error, refusal->text);
        QWidget *const fields[] = {EditHour, EditMin, EditSec, EditYinYue, S0};
        fields[int(refusal->field)]->setFocus();
    });
}

void TFormEditDaLing::Button2Click()
{
    done(QDialog::Rejected);
}

void TFormEditDaLing::applyChoice(const EntryEditor::Choice &choice)
{
    EditYinYue->setText(choice.music);
    if (choice.duration)
        EditTimeLong->setText(*choice.duration);
    if (!choice.message.isEmpty())
        m_messages.plain(choice.message);
}

void TFormEditDaLing::SpeedButton8Click()
{
    guarded(m_messages, [&] {
        const std::optional<QString> chosen = m_dialogs.openFile(m_lastChosen);
        if (!chosen)
            return;
        m_lastChosen = *chosen;
        applyChoice(m_editor.choose(*chosen));
    });
}

bool TFormEditDaLing::FormClose()
{
    // An unsaved change or new entry is dropped.
    m_editor.close();

    if (EditHour->text().isEmpty() || EditMin->text().isEmpty() || EditSec->text().isEmpty())
        return true;
    qint64 h, m, s;
    try {
        h = fieldValue(m_fields[0]);
        m = fieldValue(m_fields[1]);
        s = fieldValue(m_fields[2]);
    } catch (const AppError &e) {
        // Stay open until the field holds a number the grid can place.
        m_messages.generalError(e.text());
        return false;
    }
    // Beyond the end of any day the time sorts after every entry.
    const qint64 time = EntryEditor::checkedTime(h, m, s).value_or(std::numeric_limits<qint64>::max());
    try {
        m_board.setLastEditedIndex(m_store.countBefore(time));
    } catch (const AppError &e) {
        // Without the store the selection cannot move, but the operator must
        // still be able to close the dialog.
        m_messages.generalError(e.text());
    }
    return true;
}

void TFormEditDaLing::done(int result)
{
    bool close = false;
    guarded(m_messages, [&] { close = FormClose(); });
    if (close)
        QDialog::done(result);
}

// --- keys and focus ----------------------------------------------------

const TFormEditDaLing::TimeField *TFormEditDaLing::timeField(const QObject *o) const
{
    for (const TimeField &f : m_fields)
        if (f.edit == o)
            return &f;
    return nullptr;
}

bool TFormEditDaLing::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (FormKeyPress(key))
        return true;
    if (timeField(watched) && EditHourKeyPress(key))
        return true;
    return QDialog::eventFilter(watched, event);
}

void TFormEditDaLing::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TFormEditDaLing::FormKeyPress(QKeyEvent *key)
{
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    // Enter moves on like Tab; on a button it presses the button.
    if (auto *b = qobject_cast<QPushButton *>(QApplication::focusWidget()); b && isAncestorOf(b))
        b->click();
    else
        focusNextChild();
    return true;
}

bool TFormEditDaLing::EditHourKeyPress(QKeyEvent *key)
{
    const QString text = key->text();
    if (text.isEmpty())
        return false; // arrows, Delete …
    const QChar c = text.front();
    if ((c >= u'0' && c <= u'9') || c == u'\b')
        return false;
    // Tab, Escape and the editing shortcuts keep their meaning; the
    // validator refuses anything but digits that a paste would bring.
    if (c.unicode() < 0x20 || c.unicode() == 0x7f)
        return false;
    return true;
}

void TFormEditDaLing::onFocusChanged(QWidget *old, QWidget *now)
{
    if (m_inExit || !now || !isAncestorOf(now))
        return;
    if (const TimeField *f = timeField(old))
        fieldExit(*f);
}

void TFormEditDaLing::fieldExit(const TimeField &field)
{
    // The field takes the focus back below; that must not run the check of
    // the control it was about to go to.
    m_inExit = true;
    guarded(m_messages, [&] {
        if (field.edit->text().isEmpty())
            field.edit->setText(QStringLiteral("00"));
        qint64 v = 0;
        try {
            v = fieldValue(field);
        } catch (const AppError &e) {
            m_messages.generalError(e.text());
            field.edit->setFocus();
            return;
        }
        if (v > field.bound) {
            m_messages.typedOk(Messages::Kind::Error, field.tooLarge);
            field.edit->setFocus();
        }
    });
    m_inExit = false;
}
