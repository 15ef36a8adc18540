#include "sheetreader.h"

#include <QFile>
#include <QFileInfo>

namespace SheetTexts {
QString notASheet()
{
    return QStringLiteral("这个文件不是电子表格（可以导入 .xls、.xlsx、.ods 和 .csv 文件）");
}
QString damaged() { return QStringLiteral("表格文件已损坏或不完整，无法读取"); }
QString tooManyRows()
{
    return QStringLiteral("表格超过%1行，无法导入").arg(SheetLimits::kMaxRows);
}
QString noWorksheet() { return QStringLiteral("表格文件中没有工作表"); }
QString tooLarge(qint64 boundBytes)
{
    return QStringLiteral("表格文件太大（超过%1MB），无法导入").arg(boundBytes >> 20);
}
QString encrypted()
{
    return QStringLiteral("表格文件设置了密码，请先在表格程序中取消密码后再导入。");
}
} // namespace SheetTexts

void SheetData::set(int row, int col, const QString &text)
{
    if (row < 0 || col < 0 || col >= SheetLimits::kMaxColumns)
        return;
    if (text.isEmpty() && (row >= rows.size() || col >= rows[row].size()))
        return;
    if (row >= SheetLimits::kMaxRows)
        throw SheetError(SheetTexts::tooManyRows());
    if (row >= rows.size())
        rows.resize(row + 1);
    QStringList &r = rows[row];
    while (r.size() <= col)
        r.append(QString());
    r[col] = text;
}

SheetKind sheetKindOf(const QByteArray &bytes)
{
    static const QByteArray kCfb("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    if (bytes.isEmpty())
        throw SheetError(QStringLiteral("文件是空的，没有可导入的内容"));
    if (bytes.startsWith(kCfb))
        return SheetKind::Xls;
    if (bytes.startsWith("PK\x03\x04") || bytes.startsWith("PK\x05\x06"))
        return SheetKind::Zip;
    // A text never holds NUL bytes; other binary files are not sheets.
    if (bytes.contains('\0'))
        throw SheetError(SheetTexts::notASheet());
    return SheetKind::Csv;
}

std::unique_ptr<SheetReader> readerFor(SheetKind kind)
{
    switch (kind) {
    case SheetKind::Xls: return std::make_unique<XlsReader>();
    case SheetKind::Zip: return std::make_unique<ZipSheetReader>();
    case SheetKind::Csv: return std::make_unique<CsvReader>();
    }
    return nullptr;
}

SheetData readSheet(const QByteArray &bytes)
{
    if (bytes.size() > SheetLimits::kMaxFileBytes)
        throw SheetError(SheetTexts::tooLarge(SheetLimits::kMaxFileBytes));
    return readerFor(sheetKindOf(bytes))->read(bytes);
}

SheetData readSheetFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw SheetError(QStringLiteral("无法打开文件 %1：%2").arg(path, f.errorString()));
    if (f.size() > SheetLimits::kMaxFileBytes)
        throw SheetError(SheetTexts::tooLarge(SheetLimits::kMaxFileBytes));
    return readSheet(f.readAll());
}
