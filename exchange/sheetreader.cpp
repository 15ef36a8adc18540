#include "sheetreader.h"

#include "biffrecords.h"
#include "exchangelog.h"

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
QString tooOld()
{
    return QStringLiteral("这个.xls文件的版本太旧（Excel 5.0 以前的部分格式），请在表格程序中另存为新格式后再导入");
}
QString binaryWorkbook()
{
    return QStringLiteral("不支持 Excel 二进制工作簿（.xlsb）。请在 Excel 或 WPS 中“另存为” .xlsx 或 .xls 后再导入。");
}
QString notAText()
{
    return QStringLiteral("这个文件的名字是文本表格（.csv 或 .txt），但内容不是文字，可能已损坏或改过名字，无法导入");
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
    if (Biff::isBareBiff(bytes))
        return SheetKind::Xls;
    // UTF-16 text ("Unicode 文本" of Excel, UTF-16 CSV) begins with its BOM.
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return SheetKind::Csv;
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
    try {
        return readSheet(f.readAll());
    } catch (const SheetError &e) {
        qCInfo(lcExchange) << "cannot read" << path << ":" << e.text();
        // Telling the operator that .csv files can be imported is no help
        // when the file is one.
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (e.text() == SheetTexts::notASheet() && (suffix == u"csv" || suffix == u"txt"))
            throw SheetError(SheetTexts::notAText());
        throw;
    }
}
