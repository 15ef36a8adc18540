#pragma once
// "存为EXCEL": the whole bell list, as the day's list holds it in stopped
// mode, saved as an Excel 97-2003 workbook in the bell-list layout.
#include "seams.h"
#include "zonestore.h"

#include <QList>
#include <QStringList>
#include <functional>

class DaySchedule;

// The layout of the exchanged sheet.
namespace BellListSheet {
QString sheetName();          // "广播铃声列表"
QStringList header();         // "序" "时间" "名称" "音乐" "周期" "时长" "备注"
QString zonesHeader();        // "分区": the eighth column, only when some bell has zones
QString proposedFileName();   // "Quorlin学校铃声广播列表"
}

class SheetExport {
public:
    SheetExport(const DaySchedule &bells, Messages &messages, FileDialogs &dialogs,
                std::function<void()> afterRow);
    // The whole command; failures are thrown as AppError for the general
    // error box. A cancelled dialog ends it silently.
    void run();
    // The store's zones, to write each bell's zones by name (unset: none).
    std::function<QList<Zone>()> zones;

    // The rows of the sheet, header first: one per listed entry, numbered
    // from 1 as the grid shows them. afterRow (when set) runs after each.
    QList<QStringList> sheetRows() const;
    // The closing message: saved, and which entries had a text too long
    // for a cell of the workbook.
    static QString savedText(const QList<QStringList> &rows);
    // The chosen name with ".xls" appended unless it already ends so.
    static QString withSuffix(const QString &chosen);

private:
    const DaySchedule &m_bells;
    Messages &m_messages;
    FileDialogs &m_dialogs;
    std::function<void()> m_afterRow;
};
