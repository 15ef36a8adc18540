#pragma once
// The ring history window (系统 → 打铃记录…): one day's records, today by
// default, and the export of a range of days. Its logic is HistoryReport.
#include "historyreport.h"

#include <QDialog>

class QDateEdit;
class QTableWidget;

class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    HistoryDialog(HistoryReport &report, Messages &messages, QWidget *parent = nullptr);

    // Shows the day's records (the chooser moves to it).
    void showDay(const QDate &day);
    QTableWidget *table() const { return m_table; }
    // Reads the shown day again (a bell has rung meanwhile).
    void refresh();

private:
    void reload();
    void exportClick(HistoryReport::Format format);

    HistoryReport &m_report;
    Messages &m_messages;
    QDateEdit *m_day = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    QTableWidget *m_table = nullptr;
};
