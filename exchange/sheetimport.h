#pragma once
// "导入EXCEL": replaces the whole bell list by the rows of a sheet, after
// checking every row and asking the operator. All or nothing: a failure
// while replacing leaves the old list as it was, and a sheet that holds no
// entry changes nothing.
#include "bellstore.h"
#include "seams.h"
#include "sheetreader.h"

#include <functional>

class AppPaths;

class SheetImport {
public:
    SheetImport(BellStore &store, const AppPaths &paths, Messages &messages, FileDialogs &dialogs,
                std::function<void()> processEvents, std::function<void()> refresh);
    // The whole command; failures are thrown as AppError for the general
    // error box. Remembers the chosen file for the next open dialog.
    void run();

    // The entries a sheet stands for. A header row with "时长" in column 6
    // and "备注" in column 7 (the export's layout) is read by that layout.
    // Stops at the first bad row: its message goes to 'problem' and the
    // result is empty.
    QList<BellEntry> entriesOf(const SheetData &sheet, QString *problem) const;

    QString missingFileMessage(const QString &musicCell) const;
    static QString badTimeMessage(int sheetRow, const QString &timeCell);
    static QString question();
    static QString noEntriesMessage();

    QString lastFile() const { return m_lastFile; }

private:
    BellStore &m_store;
    const AppPaths &m_paths;
    Messages &m_messages;
    FileDialogs &m_dialogs;
    std::function<void()> m_processEvents;
    std::function<void()> m_refresh;
    QString m_lastFile;
};
