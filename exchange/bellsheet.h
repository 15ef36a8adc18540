#pragma once
// How the import reads a sheet into bell entries, changing nothing: the
// header row found among the first rows, columns matched by their header
// text, the list ending at the first row whose 序号 is empty, and every row
// checked (formulas calculated, music file, time, weekdays). The import
// command and the command-line check both read sheets through it.
#include "bellstore.h"
#include "sheetreader.h"

#include <QHash>
#include <QMap>
#include <functional>
#include <optional>

struct BellSheetPlan {
    QList<BellEntry> entries;
    QString problem;       // not empty: the sheet is refused with this text
    int endRow = 0;        // sheet row (from 1) whose 序号 is empty; 0 when the sheet ends the list
    QList<int> rowsBelow;  // sheet rows below endRow that still hold something
    // Zone names of the 分区 column that the store does not have, with the
    // sheet rows that name them: those bells are kept without that zone.
    QMap<QString, QList<int>> unknownZones;

    // "将导入 6 条铃声。第8行的序号为空，导入到此为止；第9–14行还有内容，不会导入。",
    // with the count of bells whose 周期 is empty after the first sentence.
    QString summary() const;
    // The summary, then the question before the list is replaced.
    QString question() const;
    QString doneText() const;
};

class BellSheetReader {
public:
    // musicExists is asked once per distinct bare name; without it the
    // music files are not checked.
    BellSheetReader(QString musicFolder, std::function<bool(const QString &)> musicExists);

    BellSheetPlan read(const SheetData &sheet) const;
    // The store's zones by name: the 分区 column is read into each bell's
    // zones. Without them (the command-line check) the column is not read.
    void setZones(QHash<QString, qint64> byName) { m_zones = std::move(byName); }
    // "教学楼A、操场": the names a 分区 cell holds (also separated by commas
    // or semicolons), trimmed.
    static QStringList zoneNamesOf(const QString &cell);

    QString missingFileMessage(const QString &musicCell) const;
    static QString emptyMusicMessage(int sheetRow);
    static QString badTimeMessage(int sheetRow, const QString &timeCell);
    static QString badWeekdaysMessage(int sheetRow, const QString &text);
    static QString uncalculatedMessage(int sheetRow, const QString &column);
    static QString noEntriesMessage();
    // Blanks other than the plain space, tabs and other unseen characters
    // written so that the operator can see them in a message.
    static QString visible(const QString &text);

private:
    QString m_musicFolder;
    std::function<bool(const QString &)> m_musicExists;
    std::optional<QHash<QString, qint64>> m_zones;
};
