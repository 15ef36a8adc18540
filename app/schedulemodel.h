#pragma once
// StringGridshow's model: the day's bells as the grid shows them. Header
// row, 序 1, 2, 3 …, the entries' fields, the status column with the blink,
// five spare rows below the list, and in running mode each row's status
// colours. It only shows the board; nothing reads a bell back from it.
#include "bellboard.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QColor>

// Row colours in running mode; an invalid background is the window colour.
namespace statuscolours {
QColor background(BellStatus s);
QColor foreground(BellStatus s);
} // namespace statuscolours

class ScheduleModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColNo = 0, ColTime, ColName, ColMusic, ColDays, ColDuration, ColRemark, ColStatus };
    static constexpr int kColumns = 8;

    explicit ScheduleModel(const BellBoard &board, QObject *parent = nullptr);

    // The zones' names by id: a bell's zones show in front of its 备注.
    void setZoneNames(QHash<qint64, QString> names);

    // The text of a grid cell (row 0 is the header row).
    QString cellText(int column, int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

private:
    void rowChanged(int index);
    const BellBoard &m_board;
    int m_rows = 0;         // data rows as last announced
    bool m_running = false; // colours as last announced
    QHash<qint64, QString> m_zoneNames;
};
