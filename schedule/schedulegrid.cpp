#include "schedulegrid.h"
#include "seams.h"

#include <QBrush>

ScheduleGrid::ScheduleGrid(QObject *parent) : QAbstractTableModel(parent)
{
    setGridRowCount(100);
}

ScheduleGrid::Batch::~Batch()
{
    if (--m_g.m_batch == 0 && m_g.m_batchDirty) {
        m_g.m_batchDirty = false;
        m_g.emitAllChanged();
    }
}

void ScheduleGrid::emitAllChanged()
{
    emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
    if (gridRowCount() > 1)
        emit dataChanged(index(0, 0), index(gridRowCount() - 2, kColumns - 1));
}

void ScheduleGrid::setGridRowCount(int rows)
{
    rows = std::max(rows, 2);
    if (rows == gridRowCount())
        return;
    if (m_batch == 0)
        beginResetModel();
    m_cells.resize(rows);
    for (auto &r : m_cells)
        r.resize(kColumns);
    if (m_batch == 0) {
        endResetModel();
    } else {
        // A reset inside a batch is announced when the batch ends.
        m_batchDirty = true;
        beginResetModel();
        endResetModel();
    }
    if (m_selected > lastRow())
        setSelectedRow(lastRow());
}

void ScheduleGrid::check(int col, int row) const
{
    if (col < 0 || col >= kColumns || row < 0 || row >= gridRowCount())
        throw AppError(QStringLiteral("Grid index out of range"));
}

QString ScheduleGrid::cell(int col, int row) const
{
    check(col, row);
    return m_cells[row][col];
}

void ScheduleGrid::setCell(int col, int row, const QString &text)
{
    check(col, row);
    if (m_cells[row][col] == text)
        return;
    m_cells[row][col] = text;
    if (m_batch > 0) {
        m_batchDirty = true;
    } else if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, col, col);
    } else {
        // A status change recolours the whole row.
        const int c0 = col == ColStatus ? 0 : col, c1 = col == ColStatus ? kColumns - 1 : col;
        emit dataChanged(index(row - 1, c0), index(row - 1, c1));
    }
}

void ScheduleGrid::clearDataRows()
{
    for (int r = 1; r < gridRowCount(); ++r)
        for (auto &c : m_cells[r])
            c.clear();
    if (m_batch > 0)
        m_batchDirty = true;
    else if (gridRowCount() > 1)
        emit dataChanged(index(0, 0), index(gridRowCount() - 2, kColumns - 1));
}

void ScheduleGrid::setSelectedRow(int row)
{
    row = std::clamp(row, 1, lastRow());
    if (row == m_selected)
        return;
    m_selected = row;
    emit selectedRowChanged(row);
}

void ScheduleGrid::setRunningColours(bool on)
{
    if (on == m_running)
        return;
    m_running = on;
    if (gridRowCount() > 1)
        emit dataChanged(index(0, 0), index(gridRowCount() - 2, kColumns - 1));
}

std::optional<qint64> ScheduleGrid::integerCell(int col, int row) const
{
    const QString text = cell(col, row);
    if (text.isEmpty())
        return std::nullopt;
    return integerOf(text);
}

qint64 ScheduleGrid::integerOf(const QString &text)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok)
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return n;
}

int ScheduleGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : gridRowCount() - 1;
}

int ScheduleGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant ScheduleGrid::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = index.row() + 1, col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return m_cells[row][col];
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    case Qt::BackgroundRole:
    case Qt::ForegroundRole: {
        if (!m_running || col == 0)
            return {};
        const BellStatus s = bellstatus::fromText(m_cells[row][ColStatus]);
        const QColor c = role == Qt::BackgroundRole ? bellstatus::background(s)
                                                    : bellstatus::foreground(s);
        return c.isValid() ? QVariant(QBrush(c)) : QVariant();
    }
    default:
        return {};
    }
}

QVariant ScheduleGrid::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumns)
        return m_cells[0][section];
    if (o == Qt::Vertical && role == Qt::DisplayRole)
        return section + 1;
    return {};
}
