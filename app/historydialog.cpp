#include "historydialog.h"
#include "schedulemodel.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QCalendarWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QDateEdit *dateEdit(QWidget *parent, const char *name)
{
    auto *d = new QDateEdit(parent);
    d->setObjectName(QString::fromLatin1(name));
    d->setCalendarPopup(true);
    d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    // The month pop-up in Chinese, weeks from Monday, whatever LANG says.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    d->setLocale(chinese);
    d->calendarWidget()->setLocale(chinese);
    d->calendarWidget()->setFirstDayOfWeek(Qt::Monday);
    return d;
}

} // namespace

HistoryDialog::HistoryDialog(HistoryReport &report, Messages &messages, QWidget *parent)
    : QDialog(parent), m_report(report), m_messages(messages)
{
    setObjectName(QStringLiteral("FormJiLu"));
    setWindowTitle(QStringLiteral("打铃记录"));
    resize(1000, 500);
    auto *col = new QVBoxLayout(this);

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("日期："), this));
    m_day = dateEdit(this, "DateJiLu");
    top->addWidget(m_day);
    top->addStretch(1);
    col->addLayout(top);

    const QStringList titles = HistoryReport::columnTitles();
    m_table = new QTableWidget(0, int(titles.size()), this);
    m_table->setObjectName(QStringLiteral("GridJiLu"));
    m_table->setHorizontalHeaderLabels(titles);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    // 说明 takes the room that is left; 分区 after it keeps the columns
    // where exports of older versions had them.
    m_table->horizontalHeader()->setSectionResizeMode(5, QHeaderView::Stretch);
    for (int c : {0, 3, 4})
        m_table->setColumnWidth(c, 90);
    m_table->setColumnWidth(1, 140);
    m_table->setColumnWidth(2, 140);
    m_table->setColumnWidth(6, 140);
    col->addWidget(m_table, 1);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("导出从"), this));
    m_from = dateEdit(this, "DateFrom");
    bottom->addWidget(m_from);
    bottom->addWidget(new QLabel(QStringLiteral("到"), this));
    m_to = dateEdit(this, "DateTo");
    bottom->addWidget(m_to);
    // Excel first: LibreOffice cannot tell the encoding of a .csv by itself.
    auto *exportXls = new QPushButton(QStringLiteral("导出Excel…"), this);
    exportXls->setObjectName(QStringLiteral("ButtonExportXls"));
    bottom->addWidget(exportXls);
    auto *exportButton = new QPushButton(QStringLiteral("导出CSV…"), this);
    exportButton->setObjectName(QStringLiteral("ButtonExport"));
    bottom->addWidget(exportButton);
    bottom->addStretch(1);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("ButtonClose"));
    bottom->addWidget(close);
    col->addLayout(bottom);

    connect(m_day, &QDateEdit::dateChanged, this, [this] { reload(); });
    connect(exportXls, &QPushButton::clicked, this, [this] { exportClick(HistoryReport::Format::Xls); });
    connect(exportButton, &QPushButton::clicked, this, [this] { exportClick(HistoryReport::Format::Csv); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void HistoryDialog::showDay(const QDate &day)
{
    m_from->setDate(day.addDays(1 - day.day())); // the month so far
    m_to->setDate(day);
    if (m_day->date() == day)
        reload();
    else
        m_day->setDate(day); // reloads
}

void HistoryDialog::reload()
{
    m_table->setRowCount(0);
    QList<RingRecord> records;
    try {
        records = m_report.recordsOf(m_day->date());
    } catch (const std::exception &e) {
        m_messages.generalError(QString::fromUtf8(e.what()));
        return;
    }
    m_table->setRowCount(int(records.size()));
    const QBrush faultBg(statuscolours::background(BellStatus::Failed));
    const QBrush faultFg(statuscolours::foreground(BellStatus::Failed));
    for (int r = 0; r < records.size(); ++r) {
        const QStringList cells = HistoryReport::cells(records[r]);
        const bool fault = HistoryReport::isFault(records[r]);
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            item->setToolTip(cells[c]); // a long reason is cut in its cell
            if (c != 1 && c != 2 && c != 5 && c != 6)
                item->setTextAlignment(Qt::AlignCenter);
            if (fault) {
                item->setBackground(faultBg);
                item->setForeground(faultFg);
            }
            m_table->setItem(r, c, item);
        }
    }
}

void HistoryDialog::refresh()
{
    // Where the operator had scrolled to stays, unless that was the end:
    // then the newest record shows.
    QScrollBar *bar = m_table->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const int at = bar->value();
    reload();
    bar->setValue(atEnd ? bar->maximum() : at);
}

void HistoryDialog::exportClick(HistoryReport::Format format)
{
    try {
        m_report.exportRange(m_from->date(), m_to->date(), format);
    } catch (const std::exception &e) {
        m_messages.generalError(QString::fromUtf8(e.what()));
    }
}
