#include "calendardialog.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTextCharFormat>
#include <QVBoxLayout>

namespace {

QPushButton *button(const QString &text, QWidget *parent, const std::function<void()> &fn)
{
    auto *b = new QPushButton(text, parent);
    QObject::connect(b, &QPushButton::clicked, parent, fn);
    return b;
}

QLabel *swatch(const QString &text, const QColor &colour, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setAutoFillBackground(true);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, colour);
    l->setPalette(p);
    l->setContentsMargins(6, 2, 6, 2);
    return l;
}

} // namespace

CalendarDialog::CalendarDialog(SchoolCalendar &calendar, CalendarCommands &commands,
                               const QDate &today, QWidget *parent)
    : QDialog(parent), m_calendar(calendar), m_commands(commands)
{
    setObjectName(QStringLiteral("CalendarDialog"));
    setWindowTitle(QStringLiteral("校历与作息方案"));
    auto *top = new QHBoxLayout(this);

    // Left: the month and the marks.
    auto *daysBox = new QGroupBox(QStringLiteral("校历"), this);
    auto *left = new QVBoxLayout(daysBox);
    m_month = new QCalendarWidget(daysBox);
    m_month->setObjectName(QStringLiteral("CalendarMonth"));
    m_month->setLocale(QLocale(QLocale::Chinese, QLocale::China));
    m_month->setFirstDayOfWeek(Qt::Monday);
    m_month->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    m_month->setSelectedDate(today);
    left->addWidget(m_month);
    auto *legend = new QHBoxLayout;
    legend->addWidget(swatch(QStringLiteral("放假"), kHolidayColour, daysBox));
    legend->addWidget(swatch(QStringLiteral("上课（调休）"), kMakeUpColour, daysBox));
    legend->addStretch();
    left->addLayout(legend);
    m_dayInfo = new QLabel(daysBox);
    m_dayInfo->setObjectName(QStringLiteral("DayInfo"));
    left->addWidget(m_dayInfo);

    auto *form = new QFormLayout;
    m_first = new QLineEdit(daysBox);
    m_last = new QLineEdit(daysBox);
    m_first->setObjectName(QStringLiteral("MarkFirst"));
    m_last->setObjectName(QStringLiteral("MarkLast"));
    m_last->setPlaceholderText(QStringLiteral("只标一天时留空"));
    auto *dates = new QHBoxLayout;
    dates->addWidget(m_first);
    dates->addWidget(new QLabel(QStringLiteral("至"), daysBox));
    dates->addWidget(m_last);
    form->addRow(QStringLiteral("日期"), dates);
    m_kind = new QComboBox(daysBox);
    m_kind->addItems({CalendarTexts::kHoliday, CalendarTexts::kMakeUp});
    m_kind->setObjectName(QStringLiteral("MarkKind"));
    m_weekday = new QComboBox(daysBox);
    m_weekday->setObjectName(QStringLiteral("MarkWeekday"));
    m_weekday->addItem(QString());
    for (const char16_t *w : {u"一", u"二", u"三", u"四", u"五", u"六", u"日"})
        m_weekday->addItem(QStringLiteral("周") + QString::fromUtf16(w));
    auto *kind = new QHBoxLayout;
    kind->addWidget(m_kind);
    kind->addWidget(new QLabel(QStringLiteral("按星期"), daysBox));
    kind->addWidget(m_weekday);
    form->addRow(QStringLiteral("类型"), kind);
    m_remark = new QLineEdit(daysBox);
    m_remark->setObjectName(QStringLiteral("MarkRemark"));
    form->addRow(QStringLiteral("备注"), m_remark);
    left->addLayout(form);
    left->addWidget(new QLabel(QStringLiteral("单击日历选一天，按住 Shift 单击选结束日。"), daysBox));
    auto *markRow = new QHBoxLayout;
    markRow->addWidget(button(QStringLiteral("标记"), daysBox, [this] {
        if (m_commands.mark(m_first->text(), m_last->text(), m_kind->currentText(),
                            m_weekday->currentText(), m_remark->text()))
            reload();
    }));
    markRow->addWidget(button(QStringLiteral("取消标记"), daysBox, [this] {
        if (m_commands.unmark(m_first->text(), m_last->text()))
            reload();
    }));
    markRow->addWidget(button(QStringLiteral("导入校历…"), daysBox, [this] {
        if (m_commands.importSheet())
            reload();
    }));
    markRow->addWidget(button(QStringLiteral("导出校历…"), daysBox, [this] { m_commands.exportSheet(); }));
    left->addLayout(markRow);
    top->addWidget(daysBox);

    // Right: the timetables.
    auto *plansBox = new QGroupBox(QStringLiteral("作息方案"), this);
    auto *right = new QVBoxLayout(plansBox);
    m_timetables = new QTableWidget(0, 4, plansBox);
    m_timetables->setObjectName(QStringLiteral("Timetables"));
    m_timetables->setHorizontalHeaderLabels(
        {QStringLiteral("名称"), QStringLiteral("启用日"), QStringLiteral("铃声"), QStringLiteral("当前")});
    m_timetables->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_timetables->setSelectionMode(QAbstractItemView::SingleSelection);
    m_timetables->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_timetables->verticalHeader()->hide();
    m_timetables->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_timetables->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_timetables->setMinimumWidth(300);
    right->addWidget(m_timetables);
    auto *planForm = new QFormLayout;
    m_name = new QLineEdit(plansBox);
    m_startDay = new QLineEdit(plansBox);
    m_name->setObjectName(QStringLiteral("TimetableName"));
    m_startDay->setObjectName(QStringLiteral("TimetableStartDay"));
    m_startDay->setPlaceholderText(QStringLiteral("月-日，如 05-01；留空为手动切换"));
    planForm->addRow(QStringLiteral("名称"), m_name);
    planForm->addRow(QStringLiteral("启用日"), m_startDay);
    right->addLayout(planForm);
    auto *planRow1 = new QHBoxLayout, *planRow2 = new QHBoxLayout;
    planRow1->addWidget(button(QStringLiteral("当前列表另存为新方案"), plansBox, [this] {
        if (m_commands.saveCurrentAs(m_name->text()))
            reload();
    }));
    planRow1->addWidget(button(QStringLiteral("重命名"), plansBox, [this] {
        if (m_commands.rename(chosenTimetable(), m_name->text()))
            reload();
    }));
    planRow2->addWidget(button(QStringLiteral("设置启用日"), plansBox, [this] {
        if (m_commands.setStartDay(chosenTimetable(), m_startDay->text()))
            reload();
    }));
    planRow2->addWidget(button(QStringLiteral("删除"), plansBox, [this] {
        if (m_commands.remove(chosenTimetable()))
            reload();
    }));
    planRow2->addWidget(button(QStringLiteral("立即切换"), plansBox, [this] {
        if (m_commands.switchNow(chosenTimetable()))
            reload();
    }));
    right->addLayout(planRow1);
    right->addLayout(planRow2);
    right->addWidget(button(QStringLiteral("关闭"), plansBox, [this] { accept(); }));
    top->addWidget(plansBox);

    connect(m_month, &QCalendarWidget::clicked, this, &CalendarDialog::dateClicked);
    connect(m_month, &QCalendarWidget::selectionChanged, this,
            [this] { showDay(m_month->selectedDate()); });
    connect(m_month, &QCalendarWidget::currentPageChanged, this, [this] { paintMonth(); });
    connect(m_timetables, &QTableWidget::itemSelectionChanged, this, &CalendarDialog::rowChosen);
    m_first->setText(CalendarTexts::dateKey(today));
    reload();
}

void CalendarDialog::reload()
{
    paintMonth();
    showDay(m_month->selectedDate());
    const qint64 chosen = chosenTimetable();
    QList<Timetable> all;
    try {
        all = m_calendar.timetables().list();
    } catch (const AppError &) {
        // shown empty; the commands report the store's fault
    }
    m_timetables->setRowCount(int(all.size()));
    for (int r = 0; r < all.size(); ++r) {
        const Timetable &t = all[r];
        const QStringList cells{t.name, t.startDay.isEmpty() ? QStringLiteral("手动") : t.startDay,
                                QString::number(t.entries), t.current ? QStringLiteral("●") : QString()};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            item->setData(Qt::UserRole, t.id);
            m_timetables->setItem(r, c, item);
        }
        if (t.id == chosen)
            m_timetables->selectRow(r);
    }
}

void CalendarDialog::paintMonth()
{
    for (const QDate &d : std::as_const(m_painted))
        m_month->setDateTextFormat(d, QTextCharFormat());
    m_painted.clear();
    const QDate first(m_month->yearShown(), m_month->monthShown(), 1);
    QList<CalendarDay> days;
    try {
        // The weeks of the neighbouring months that the page shows too.
        days = m_calendar.days().days(first.addDays(-7), first.addMonths(1).addDays(14));
    } catch (const AppError &) {
    }
    for (const CalendarDay &d : days) {
        QTextCharFormat f;
        f.setBackground(d.kind == CalendarDay::Kind::Holiday ? kHolidayColour : kMakeUpColour);
        f.setToolTip(d.panelText() + (d.remark.isEmpty() ? QString() : u' ' + d.remark));
        m_month->setDateTextFormat(d.date, f);
        m_painted << d.date;
    }
}

void CalendarDialog::dateClicked(const QDate &date)
{
    if (QApplication::keyboardModifiers() & Qt::ShiftModifier) {
        // Clicked days are shown in order: only a range typed backwards is
        // refused, never one picked on the calendar.
        const QDate first = CalendarTexts::parseDate(m_first->text());
        if (first.isValid() && date < first) {
            m_last->setText(CalendarTexts::dateKey(first));
            m_first->setText(CalendarTexts::dateKey(date));
        } else {
            m_last->setText(CalendarTexts::dateKey(date));
        }
        return;
    }
    m_first->setText(CalendarTexts::dateKey(date));
    m_last->clear();
}

void CalendarDialog::showDay(const QDate &date)
{
    std::optional<CalendarDay> d;
    try {
        d = m_calendar.days().day(date);
    } catch (const AppError &) {
    }
    const QString text = SchoolCalendar::planOf(date, d).dateText.trimmed();
    m_dayInfo->setText(d && !d->remark.isEmpty() ? text + QStringLiteral("（") + d->remark + QStringLiteral("）")
                                                 : text);
}

void CalendarDialog::rowChosen()
{
    const int r = m_timetables->currentRow();
    if (r < 0 || !m_timetables->item(r, 0))
        return;
    m_name->setText(m_timetables->item(r, 0)->text());
    const QString start = m_timetables->item(r, 1)->text();
    m_startDay->setText(start.contains(u'-') ? start : QString());
}

qint64 CalendarDialog::chosenTimetable() const
{
    const auto rows = m_timetables->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return 0;
    return m_timetables->item(rows.first().row(), 0)->data(Qt::UserRole).toLongLong();
}
