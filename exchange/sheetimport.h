#pragma once
// "导入EXCEL": replaces the whole bell list by the rows of a sheet, after
// checking every row and asking the operator. All or nothing: a failure
// while replacing leaves the old list as it was, and a sheet that holds no
// entry changes nothing.
#include "bellsheet.h"
#include "bellstore.h"
#include "seams.h"
#include "sheetreader.h"

#include <functional>

class AppPaths;

class SheetImport {
public:
    SheetImport(BellStore &store, const AppPaths &paths, Messages &messages, FileDialogs &dialogs,
                std::function<void()> afterRow, std::function<void()> refresh);
    // The whole command; failures are thrown as AppError for the general
    // error box. Remembers the chosen file for the next open dialog.
    void run();

    // What the import would do with a sheet, the music files checked in
    // the program's music folder (bellsheet.h).
    BellSheetPlan planOf(const SheetData &sheet) const;
    BellSheetReader sheetReader() const;

    QString lastFile() const { return m_lastFile; }

private:
    BellStore &m_store;
    const AppPaths &m_paths;
    Messages &m_messages;
    FileDialogs &m_dialogs;
    std::function<void()> m_afterRow;
    std::function<void()> m_refresh;
    QString m_lastFile;
};
