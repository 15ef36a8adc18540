#pragma once
// Reading the first worksheet of a spreadsheet file into cell texts.
//
// Cell texts: an empty cell is the empty text, a text cell its text, typed
// values as numberformats.h writes them, a boolean True or False; a formula
// cell gives its stored result, an error value (#N/A in an .xls) the empty
// text. The reader is chosen by the file's
// content, never by its name: a compound file is an .xls, a zip archive an
// .xlsx or .ods, anything else a CSV text in UTF-8 (or GB18030, which
// Chinese spreadsheet programs save, when the bytes are not UTF-8).
#include "seams.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

// Bounds that keep a hostile or broken file from exhausting the machine.
namespace SheetLimits {
constexpr int kMaxRows = 100000;               // rows of the worksheet
constexpr int kMaxColumns = 64;                // further columns are dropped
constexpr qint64 kMaxFileBytes = 64ll << 20;   // the file as stored
constexpr qint64 kMaxUnpackedBytes = 256ll << 20; // all parts of a zip, inflated
constexpr qint64 kMaxTextChars = 64ll << 20;      // all cell texts of an .ods
}

// A file that cannot be read as a sheet; the text is for the operator.
class SheetError : public AppError {
public:
    using AppError::AppError;
};

struct SheetData {
    // rows[r][c], both from 0; a short row means empty cells to its right.
    QList<QStringList> rows;

    int rowCount() const { return int(rows.size()); }
    QString cell(int row, int col) const
    {
        if (row < 0 || row >= rows.size() || col < 0 || col >= rows[row].size())
            return {};
        return rows[row][col];
    }
    // Grows the rows as needed; columns past the bound are dropped.
    void set(int row, int col, const QString &text);
};

class SheetReader {
public:
    virtual ~SheetReader() = default;
    // Reads the first worksheet; throws SheetError for anything else.
    virtual SheetData read(const QByteArray &bytes) const = 0;
};

// .xls: BIFF8 or BIFF5 in a compound file.
class XlsReader : public SheetReader {
public:
    SheetData read(const QByteArray &bytes) const override;
};

// .xlsx and .ods, both zip archives.
class ZipSheetReader : public SheetReader {
public:
    SheetData read(const QByteArray &bytes) const override;
};

class CsvReader : public SheetReader {
public:
    SheetData read(const QByteArray &bytes) const override;
};

enum class SheetKind { Xls, Zip, Csv };
// Throws SheetError for an empty file or binary data of no known kind.
SheetKind sheetKindOf(const QByteArray &bytes);
std::unique_ptr<SheetReader> readerFor(SheetKind kind);

SheetData readSheet(const QByteArray &bytes);
SheetData readSheetFile(const QString &path);

// Texts shared by the readers.
namespace SheetTexts {
QString notASheet();
QString damaged();
QString noWorksheet();
QString tooManyRows();
QString tooLarge(qint64 boundBytes = SheetLimits::kMaxUnpackedBytes);
QString encrypted();
}
