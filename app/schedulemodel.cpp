#include "schedulemodel.h"

#include "secondsofday.h"

#include <QBrush>

namespace statuscolours {

QColor background(BellStatus s)
{
    switch (s) {
    case BellStatus::Done: return QColor(192, 220, 192); // money green
    case BellStatus::Waiting: return QColor(255, 255, 0);
    case BellStatus::Playing: return QColor(204, 0, 0); // red, dark enough for white text
    case BellStatus::Failed:
    case BellStatus::Missed:
    case BellStatus::Interrupted:
    case BellStatus::PartlyRung:
    case BellStatus::InvalidTime: return QColor(255, 200, 120); // a bell that did not sound
    case BellStatus::Passed: return QColor(224, 224, 224);       // neutral: nothing was tried
    case BellStatus::None: break;
    }
    return {};
}

QColor foreground(BellStatus s)
{
    switch (s) {
    case BellStatus::None: return QColor(0, 0, 255);
    case BellStatus::Playing: return QColor(255, 255, 255); // blue on red could not be read
    case BellStatus::Failed:
    case BellStatus::Missed:
    case BellStatus::Interrupted:
    case BellStatus::PartlyRung:
    case BellStatus::InvalidTime: return QColor(128, 0, 0);
    case BellStatus::Passed: return QColor(96, 96, 96);
    default: return QColor(0, 0, 0);
    }
}

} // namespace statuscolours

ScheduleModel::ScheduleModel(const BellBoard &board, QObject *parent)
    : QAbstractTableModel(parent), m_board(board), m_rows(board.gridRowCount() - 1),
      m_running(board.running())
{
    const DaySchedule &day = board.day();
    connect(&day, &DaySchedule::listChanged, this, [this] {
        beginResetModel();
        m_rows = m_board.gridRowCount() - 1;
        endResetModel();
    });
    connect(&day, &DaySchedule::bellChanged, this, &ScheduleModel::rowChanged);
    connect(&board, &BellBoard::bellShownChanged, this, &ScheduleModel::rowChanged);
    connect(&board, &BellBoard::changed, this, [this] {
        if (m_board.running() == m_running || m_rows == 0)
            return;
        m_running = m_board.running();
        emit dataChanged(index(0, 0), index(m_rows - 1, kColumns - 1));
    });
}

void ScheduleModel::rowChanged(int index)
{
    // A status recolours the whole row.
    if (index >= 0 && index < m_rows)
        emit dataChanged(this->index(index, 0), this->index(index, kColumns - 1));
}

QString ScheduleModel::cellText(int column, int row) const
{
    if (row == 0)
        return headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    const BellEntry *e = m_board.entryAtRow(row);
    if (!e)
        return {};
    switch (column) {
    case ColNo: return QString::number(row);
    case ColTime: return e->hasValidTime() ? inttotime(e->time) : QString();
    // A huge text would cost the paint (and a bell's tick) dearly.
    case ColName: return shownText(e->name);
    case ColMusic: return shownText(e->music);
    case ColDays: return shownText(e->weekdays);
    case ColDuration: return shownText(e->duration);
    case ColRemark: {
        if (e->zones.isEmpty() || m_zoneNames.isEmpty())
            return shownText(e->remark);
        QStringList names;
        for (qint64 z : e->zones)
            if (const auto it = m_zoneNames.constFind(z); it != m_zoneNames.constEnd())
                names << *it;
        const QString zones = names.isEmpty() ? QString()
                                              : QStringLiteral("【%1】").arg(names.join(u'、'));
        return zones + shownText(e->remark);
    }
    case ColStatus: return m_board.statusText(row);
    default: return {};
    }
}

int ScheduleModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ScheduleModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant ScheduleModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = index.row() + 1, col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return cellText(col, row);
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    case Qt::ToolTipRole: // the whole text of a cell the column elides
        if (col == ColName || col == ColMusic || col == ColRemark)
            return cellText(col, row);
        return {};
    case Qt::BackgroundRole:
    case Qt::ForegroundRole: {
        if (!m_board.running() || col == 0)
            return {};
        const BellStatus s = m_board.statusShown(row - 1);
        const QColor c = role == Qt::BackgroundRole ? statuscolours::background(s)
                                                    : statuscolours::foreground(s);
        return c.isValid() ? QVariant(QBrush(c)) : QVariant();
    }
    default:
        return {};
    }
}

QVariant ScheduleModel::headerData(int section, Qt::Orientation o, int role) const
{
    static const char16_t *const headers[kColumns] = {u"序", u"时间", u"名称", u"音乐",
                                                      u"周期", u"时长", u"备注", u"状态"};
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumns)
        return QString::fromUtf16(headers[section]);
    if (o == Qt::Vertical && role == Qt::DisplayRole)
        return section + 1;
    return {};
}

void ScheduleModel::setZoneNames(QHash<qint64, QString> names)
{
    beginResetModel();
    m_zoneNames = std::move(names);
    endResetModel();
}
