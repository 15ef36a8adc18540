#pragma once
// What the ring history dialog shows and exports, without widgets: one
// day's records as table rows, and a range of days written to a .csv file
// that Excel and WPS open with its Chinese intact.
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

    // Asks for a file name and writes the records of the days from … to
    // (either order), then tells the operator how many. Returns that count,
    // or -1 when cancelled or the file could not be written.
    int exportCsv(QDate from, QDate to);
    static QString proposedName(const QDate &from, const QDate &to);
    // The file's bytes: a UTF-8 byte order mark, a header row, one row per
    // record, CRLF line ends.
    static QByteArray csv(const QList<RingRecord> &records);

private:
    RingHistory &m_history;
    Messages &m_messages;
    FileDialogs &m_dialogs;
};
