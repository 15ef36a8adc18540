#pragma once
// The cells of the schedule grid: the view of the bell list and the ring
// engine's working memory. Grid coordinates are (column, row) with row 0 the
// header row; as a table model the header row is the horizontal header and
// model row r is grid row r + 1.
#include "bellstatus.h"

#include <QAbstractTableModel>
#include <QVector>
#include <optional>

class ScheduleGrid : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 10;
    enum Column { ColNo = 0, ColTime, ColName, ColMusic, ColDays, ColDuration,
                  ColRemark, ColStatus, ColId, ColSeconds };

    explicit ScheduleGrid(QObject *parent = nullptr);

    int gridRowCount() const { return int(m_cells.size()); }
    void setGridRowCount(int rows);
    int lastRow() const { return gridRowCount() - 1; }
    // Reading or writing outside the grid throws AppError, as a grid would.
    QString cell(int col, int row) const;
    // A cell read as a whole number (the hidden time column): the empty cell
    // is std::nullopt, any other text that is not a number throws AppError.
    std::optional<qint64> integerCell(int col, int row) const;
    // Decimal text as a number; any other text throws AppError ("'x' is not
    // a valid integer value"). The one rule for the grid's and the label's
    // numbers.
    static qint64 integerOf(const QString &text);
    BellStatus status(int row) const { return bellstatus::fromText(cell(ColStatus, row)); }
    void setStatus(int row, BellStatus s) { setCell(ColStatus, row, bellstatus::text(s)); }
    void setCell(int col, int row, const QString &text);
    // Empties every cell of rows 1 … last; the header row stays.
    void clearDataRows();

    // Many writes at once (a whole reload): views hear of them once, at the
    // end, instead of once per cell.
    class Batch {
    public:
        explicit Batch(ScheduleGrid &g) : m_g(g) { ++m_g.m_batch; }
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        ScheduleGrid &m_g;
    };

    // The selected row, never the header row; kept within 1 … last.
    int selectedRow() const { return m_selected; }
    void setSelectedRow(int row);

    // In running mode the cells take their status colours.
    bool runningColours() const { return m_running; }
    void setRunningColours(bool on);

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

signals:
    void selectedRowChanged(int row);

private:
    void check(int col, int row) const;
    void emitAllChanged();
    QVector<QVector<QString>> m_cells; // [row][col]
    int m_batch = 0;
    bool m_batchDirty = false;
    int m_selected = 1;
    bool m_running = false;
};
