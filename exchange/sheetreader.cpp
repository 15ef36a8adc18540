#include "sheetreader.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <cmath>

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
QString tooLarge()
{
    return QStringLiteral("表格文件太大（超过%1MB），无法导入")
        .arg(SheetLimits::kMaxUnpackedBytes >> 20);
}
QString encrypted() { return QStringLiteral("表格文件有密码保护，无法读取"); }
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

QString numberText(double v)
{
    if (!std::isfinite(v))
        return QString::number(v);
    if (v == std::floor(v) && std::fabs(v) < 1e15)
        return QString::number(qint64(v));
    return QString::number(v, 'g', 15);
}

QString dateTimeText(int year, int month, int day, int hour, int minute, int second)
{
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(hour, 2, 10, QLatin1Char('0'))
                             .arg(minute, 2, 10, QLatin1Char('0'))
                             .arg(second, 2, 10, QLatin1Char('0'));
    // Day 0 of the serial calendar stands for "no date": a pure time.
    const bool noDate = year < 1900 || (year == 1900 && month == 1 && day == 0);
    if (noDate)
        return time;
    const QString date = QStringLiteral("%1/%2/%3").arg(year).arg(month).arg(day);
    if (hour == 0 && minute == 0 && second == 0)
        return date;
    return date + QStringLiteral(" %1:%2:%3")
                      .arg(hour)
                      .arg(minute, 2, 10, QLatin1Char('0'))
                      .arg(second, 2, 10, QLatin1Char('0'));
}

QString dateSerialText(double serial, const QDate &origin)
{
    if (!std::isfinite(serial) || serial < 0 || serial > 2958466)
        return numberText(serial); // outside the calendar: show the number
    double whole = std::floor(serial);
    qint64 secs = std::llround((serial - whole) * 86400.0);
    if (secs >= 86400) {
        whole += 1;
        secs -= 86400;
    }
    const int h = int(secs / 3600), m = int(secs % 3600 / 60), s = int(secs % 60);
    const bool noDate = whole == 0 && origin == QDate(1899, 12, 30);
    if (noDate)
        return dateTimeText(0, 0, 0, h, m, s);
    const QDate d = origin.addDays(qint64(whole));
    return dateTimeText(d.year(), d.month(), d.day(), h, m, s);
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
        throw SheetError(QStringLiteral("表格文件太大（超过%1MB），无法导入")
                             .arg(SheetLimits::kMaxFileBytes >> 20));
    return readerFor(sheetKindOf(bytes))->read(bytes);
}

SheetData readSheetFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw SheetError(QStringLiteral("无法打开文件 %1：%2").arg(path, f.errorString()));
    if (f.size() > SheetLimits::kMaxFileBytes)
        throw SheetError(QStringLiteral("表格文件太大（超过%1MB），无法导入")
                             .arg(SheetLimits::kMaxFileBytes >> 20));
    const QByteArray bytes = f.readAll();
    if (sheetKindOf(bytes) == SheetKind::Xls)
        return XlsReader().readFile(path);
    return readSheet(bytes);
}
