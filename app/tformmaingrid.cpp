// The day's list in the main window: the table over ScheduleModel, drawn
// one line a cell, its columns fitted to the list's width (ColumnFit) again
// whenever the list or its size changes; its selection kept with the
// board's; the zones' names it shows; the double-click that plays an entry.
#include "tformmain.h"

#include "columnfit.h"
#include "dayfeed.h"
#include "listcommands.h"
#include "schedulemodel.h"
#include "tformeditdaling.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace {

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
        // Elided as the grid's own drawing does: 备注 may be narrower than its text.
        const QRect text = option.rect.adjusted(ColumnFit::kPadding / 4, 0, -ColumnFit::kPadding / 4, 0);
        p->drawText(text, Qt::AlignCenter | Qt::TextSingleLine,
                    option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, text.width()));
    }
};

// Calls back whenever the watched widget changes its size.
class OnResize : public QObject {
public:
    OnResize(QWidget *watched, std::function<void()> fn) : QObject(watched), m_fn(std::move(fn))
    {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Resize)
            m_fn();
        return false;
    }

private:
    std::function<void()> m_fn;
};

} // namespace

void TFormMain::buildGrid(QWidget *central, QVBoxLayout *column)
{
    StringGridshow = new QTableView(central);
    StringGridshow->setObjectName(QStringLiteral("StringGridshow"));
    m_model = new ScheduleModel(board(), this);
    showZones();
    connect(&m_app->feed(), &DayFeed::zoneNamesChanged, this, &TFormMain::showZones);
    connect(m_app.get(), &DalingApp::zonesChanged, this, &TFormMain::showZones);
    StringGridshow->setModel(m_model);
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
    StringGridshow->setTextElideMode(Qt::ElideRight);
    StringGridshow->horizontalHeader()->setStretchLastSection(false);
    // The header's own minimum (about 90 px) would undo the fit.
    StringGridshow->horizontalHeader()->setMinimumSectionSize(ColumnFit::kPadding);
    new OnResize(StringGridshow->viewport(), [this] { setUpGrid(); });
    // Tab moves on to the buttons; the arrows move within the list.
    StringGridshow->setTabKeyNavigation(false);
    column->addWidget(StringGridshow, 1);
    connect(StringGridshow->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &cur) {
                if (cur.isValid())
                    board().setSelectedRow(cur.row() + 1);
            });
    connect(&board(), &BellBoard::selectedRowChanged, this, [this](int r) {
        const QModelIndex idx = m_model->index(r - 1, 1);
        if (StringGridshow->currentIndex().row() != r - 1)
            StringGridshow->setCurrentIndex(idx);
        // Also when the row did not move: a reload rebuilt the rows.
        StringGridshow->scrollTo(idx);
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        setUpGrid(); // the texts changed: so may the widths they need
        StringGridshow->setCurrentIndex(m_model->index(board().selectedRow() - 1, 1));
        // After a reload (midnight's among them) the next bell is in view,
        // however far down the operator had scrolled.
        if (board().running())
            StringGridshow->scrollTo(m_model->index(board().nextBellRow() - 1, 1));
    });
    connect(StringGridshow, &QTableView::doubleClicked, this, &TFormMain::StringGridshowDblClick);
}

void TFormMain::setUpGrid()
{
    const QFontMetrics cells(StringGridshow->font());
    const QFontMetrics header(StringGridshow->horizontalHeader()->font());
    ColumnFit::Widths natural = ColumnFit::natural(*m_model, [&](const QString &t) {
        return cells.horizontalAdvance(t);
    });
    for (int c = 0; c < ScheduleModel::kColumns; ++c)
        natural[c] = std::max(natural[c], header.horizontalAdvance(m_model->cellText(c, 0)) + ColumnFit::kPadding);
    const ColumnFit::Widths w = ColumnFit::fit(natural, StringGridshow->viewport()->width());
    for (int c = 0; c < ScheduleModel::kColumns; ++c)
        StringGridshow->setColumnWidth(c, w[c]);
}

void TFormMain::showZones()
{
    // The engine names a bell's zones; the feed keeps their ids.
    m_model->setZoneNames(m_app->feed().zoneNames());
    if (FormEditDaLing) // made after the grid
        FormEditDaLing->setZones(m_app->zones());
}

void TFormMain::StringGridshowDblClick()
{
    // Nothing sounds over an emergency broadcast.
    if (m_app->feed().emergency()) {
        m_app->messages().typedOk(Messages::Kind::Warning, EmergencyBroadcast::kPlayRefused);
        return;
    }
    // Played by the engine's test playback, where the bell rings (its
    // zones or 铃声输出); in running mode a double-click does nothing.
    if (board().running())
        return;
    const BellEntry *e = board().entryAtRow(board().selectedRow());
    if (!e)
        return;
    m_app->link().testPlay(e->id, [this](const LinkResult<LinkDone> &r) { tellRefusal(r.error); });
}
