#pragma once
// Reading the first worksheet of a spreadsheet file into cell texts.
//
// Cell texts: an empty cell is the empty text, a text cell its text, typed
// values as numberformats.h writes them, a boolean True or False; a formula
// cell gives its stored result, an error value (#N/A in an .xls) the empty
// text. The reader is chosen by the file's content, never by its name: a
// compound file or a bare BIFF stream is an .xls, a zip archive an .xlsx or
// .ods, anything else a CSV text in UTF-8, in UTF-16 after its byte-order
// mark, or in GB18030 (which Chinese spreadsheet programs save) when the
// bytes are not UTF-8.
#include "seams.h"

#include <QByteArray>
#include <QList>
#include <QSet>
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

    // Formula cells whose file holds no calculated result (or one the file
    // itself says is stale): their text says nothing about the value.
    void markUncalculated(int row, int col) { m_uncalculated.insert(key(row, col)); }
    bool isUncalculated(int row, int col) const
    {
        return !m_uncalculated.isEmpty() && m_uncalculated.contains(key(row, col));
    }
    bool hasUncalculatedFormula(int row) const
    {
        for (qint64 k : m_uncalculated)
            if (k >> 16 == row)
                return true;
        return false;
    }

private:
    static qint64 key(int row, int col) { return qint64(row) << 16 | (col & 0xFFFF); }
    QSet<qint64> m_uncalculated;
};

class SheetReader {
public:
    virtual ~SheetReader() = default;
    // Reads the first worksheet; throws SheetError for anything else.
    virtual SheetData read(const QByteArray &bytes) const = 0;
};

// .xls: BIFF8 or BIFF5 in a compound file, or a bare BIFF2-8 stream.
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
QString tooOld();
// Excel's binary workbook (.xlsb): a zip like .xlsx, its parts binary records.
QString binaryWorkbook();
// A file named .csv or .txt whose bytes are no text.
QString notAText();
}
