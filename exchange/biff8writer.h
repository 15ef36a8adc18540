#pragma once
// A genuine Excel 97-2003 workbook (BIFF8 in a compound file) with one
// worksheet of text cells, every cell vertically centred.
//
// No packaged library writes BIFF8, and a file named .xls that is something
// else makes Excel warn the operator, so the records are our own; libgsf
// builds the compound-file container around them.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace Biff8 {
constexpr int kMaxRows = 65536;
constexpr int kMaxColumns = 256;
// Excel's limit for the text of a cell (UTF-16 code units), and what
// LibreOffice keeps when it saves an .xls or .xlsx: a longer text is
// written up to this length.
constexpr int kMaxTextLength = 32767;
}

// The whole file. rows[r][c] become the cells (r, c); empty texts leave the
// cell empty. Throws AppError when the sheet does not fit a BIFF8 sheet.
QByteArray biff8Workbook(const QString &sheetName, const QList<QStringList> &rows);
// Writes it atomically: an existing file is replaced only once the new one is
// complete. Throws AppError with the reason.
void writeBiff8File(const QString &path, const QString &sheetName, const QList<QStringList> &rows);
