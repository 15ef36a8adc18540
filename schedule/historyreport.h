#pragma once
// What the ring history dialog shows and exports, without widgets: one
// day's records as table rows, and a range of days written to an Excel
// 97-2003 workbook (.xls, the default: every spreadsheet program reads its
// Chinese) or to a .csv file that Excel and WPS open with its Chinese intact.
#include "ringhistory.h"
#include "seams.h"

class HistoryReport {
public:
    HistoryReport(RingHistory &history, Messages &messages, FileDialogs &dialogs)
        : m_history(history), m_messages(messages), m_dialogs(dialogs) {}

    // The dialog's columns, and one record's cells in that order.
    static QStringList columnTitles();
    static QStringList cells(const RingRecord &r);
    // Rows of bells that did not sound take the failed colour.
    static bool isFault(const RingRecord &r) { return r.result != BellStatus::Done; }

    // One day's records; store failures throw StoreError.
    QList<RingRecord> recordsOf(const QDate &day) const { return m_history.day(day); }

    enum class Format { Xls, Csv };
    // Asks for a file name and writes the records of the days from … to
    // (either order), then tells the operator how many. Returns that count,
    // or -1 when cancelled or the file could not be written.
    int exportRange(QDate from, QDate to, Format format);
    int exportCsv(QDate from, QDate to) { return exportRange(from, to, Format::Csv); }
    static QString proposedName(const QDate &from, const QDate &to, Format format = Format::Csv);
    // The exported rows: a header, then one row per record (its date first).
    static QList<QStringList> rows(const QList<RingRecord> &records);
    // The file's bytes: a UTF-8 byte order mark, a header row, one row per
    // record, CRLF line ends.
    static QByteArray csv(const QList<RingRecord> &records);
    // The same rows as an Excel 97-2003 workbook's bytes.
    static QByteArray xls(const QList<RingRecord> &records);

private:
    RingHistory &m_history;
    Messages &m_messages;
    FileDialogs &m_dialogs;
};
