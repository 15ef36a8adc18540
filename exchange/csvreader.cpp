// CSV as spreadsheet programs save it: comma-separated (or tab-separated,
// when the first line has tabs and no commas), fields optionally in double
// quotes with "" for a quote, rows ending in LF, CRLF or CR. Hand-written
// because the parsers at hand end rows at LF only and refuse a quoted field
// followed by CR, which every Windows-saved file has.
#include "sheetreader.h"

#include <QStringDecoder>

namespace {

QString decode(const QByteArray &bytes)
{
    // UTF-16 after its byte-order mark: Excel's "Unicode 文本" and the
    // UTF-16 CSV of other programs.
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(bytes.startsWith("\xFF") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                             QStringDecoder::Flag::Stateless);
        QString text = utf16.decode(bytes.mid(2));
        if (bytes.size() % 2 != 0 || utf16.hasError() || text.contains(QChar(0)))
            throw SheetError(SheetTexts::notASheet());
        return text;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        // Chinese spreadsheet programs save CSV in the ANSI code page.
        QStringDecoder gb("GB18030", QStringDecoder::Flag::Stateless);
        if (!gb.isValid())
            throw SheetError(QStringLiteral("无法识别表格文件的文字编码（不是UTF-8）"));
        text = gb.decode(bytes);
        if (gb.hasError())
            throw SheetError(SheetTexts::notASheet());
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

} // namespace

SheetData CsvReader::read(const QByteArray &bytes) const
{
    const QString text = decode(bytes);
    const qsizetype firstEnd = text.indexOf(u'\n');
    const QStringView firstLine = QStringView(text).left(firstEnd < 0 ? text.size() : firstEnd);
    const QChar sep = !firstLine.contains(u',') && firstLine.contains(u'\t') ? QChar(u'\t') : QChar(u',');

    SheetData data;
    QStringList row;
    QString field;
    bool quoted = false;   // inside a quoted field
    bool wasQuoted = false;
    int r = 0;
    auto endField = [&] {
        if (row.size() < SheetLimits::kMaxColumns)
            row.append(field);
        field.clear();
        wasQuoted = false;
    };
    auto endRow = [&] {
        endField();
        if (r >= SheetLimits::kMaxRows)
            throw SheetError(SheetTexts::tooManyRows());
        for (int c = 0; c < row.size(); ++c)
            data.set(r, c, row[c]);
        row.clear();
        ++r;
    };

    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < n && text.at(i + 1) == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == u'"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == sep) {
            endField();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            endRow();
        } else {
            field += c; // text after a closing quote is kept as it stands
        }
    }
    if (!field.isEmpty() || !row.isEmpty() || wasQuoted || quoted)
        endRow();
    return data;
}
