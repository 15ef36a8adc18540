// .ods: the first table of content.xml, read with the XML cursor (libxml2).
// liborcus 0.17 (tried first) refused time cells, shifted the cells after a
// covered (merged) cell and dropped the text results of formulas. Every
// cell carries its value in its own attributes (office:value-type and
// office:value, office:date-value or office:time-value), so no styles are
// needed; a formula cell keeps its last result the same way.
#include "numberformats.h"
#include "sheetreader.h"
#include "xmlcursor.h"
#include "zippackage.h"

#include <QDate>
#include <cmath>

namespace {

const char kTableNs[] = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
const char kOfficeNs[] = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
const char kTextNs[] = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";

// Repetition counts are bounded by the sheet, not trusted from the file.
int repeatCount(const XmlCursor &x, const char *name, int bound)
{
    bool ok = false;
    const qint64 n = x.attribute(name, kTableNs).toLongLong(&ok);
    if (!ok || n < 1)
        return 1;
    return int(qMin<qint64>(n, bound));
}

// "PT08H05M00S" (optionally "-P…", days, fractions of a second) → seconds.
std::optional<double> durationSeconds(QStringView v)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < v.size() && v[i] == u'-') {
        negative = true;
        ++i;
    }
    if (i >= v.size() || v[i] != u'P')
        return std::nullopt;
    ++i;
    double total = 0;
    bool inTime = false;
    while (i < v.size()) {
        if (v[i] == u'T') {
            inTime = true;
            ++i;
            continue;
        }
        const qsizetype from = i;
        while (i < v.size() && (v[i].isDigit() || v[i] == u'.' || v[i] == u','))
            ++i;
        if (i == from || i >= v.size())
            return std::nullopt;
        bool ok = false;
        const double n = v.mid(from, i - from).toString().replace(u',', u'.').toDouble(&ok);
        if (!ok)
            return std::nullopt;
        const QChar unit = v[i++];
        if (unit == u'D' && !inTime)
            total += n * 86400;
        else if (unit == u'H' && inTime)
            total += n * 3600;
        else if (unit == u'M' && inTime)
            total += n * 60;
        else if (unit == u'S' && inTime)
            total += n;
        else
            return std::nullopt; // years and months are no time of day
    }
    return negative ? -total : total;
}

QString timeValueText(QStringView v)
{
    const auto secs = durationSeconds(v);
    if (!secs || !std::isfinite(*secs))
        return v.toString();
    // A duration past a day (or before it) shows its time of day.
    double s = std::fmod(*secs, 86400.0);
    if (s < 0)
        s += 86400.0;
    const int t = secondOfDayFromSeconds(s);
    return dateTimeText(0, 0, 0, t / 3600, t % 3600 / 60, t % 60);
}

// "2024-03-05" or "2024-03-05T07:30:00[.5]" → the cell text.
QString dateValueText(QStringView v)
{
    const qsizetype t = v.indexOf(u'T');
    const QDate d = QDate::fromString(v.left(t < 0 ? v.size() : t).toString(), Qt::ISODate);
    if (!d.isValid())
        return v.toString();
    int secs = 0;
    if (t >= 0) {
        const auto parts = v.mid(t + 1).split(u':');
        if (parts.size() != 3)
            return v.toString();
        bool okH = false, okM = false, okS = false;
        const int h = parts[0].toInt(&okH), m = parts[1].toInt(&okM);
        const double s = parts[2].toDouble(&okS);
        if (!okH || !okM || !okS || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s >= 61)
            return v.toString();
        secs = secondOfDayFromSeconds(h * 3600 + m * 60 + s);
    }
    return dateTimeText(d.year(), d.month(), d.day(), secs / 3600, secs % 3600 / 60, secs % 60);
}

class OdsContent {
public:
    explicit OdsContent(const QByteArray &xml) : x(xml) {}

    SheetData read()
    {
        while (x.next()) {
            if (x.isStart() && x.is("table", kTableNs)) {
                readTable();
                return std::move(m_data);
            }
        }
        throw SheetError(SheetTexts::noWorksheet());
    }

private:
    // The rows of the first table; row groups and header rows are read
    // through, a table nested in a cell is not.
    void readTable()
    {
        for (int depth = 1; depth > 0 && x.next();) {
            if (x.isEnd()) {
                --depth;
            } else if (x.isStart()) {
                if (x.is("table-row", kTableNs))
                    readRow();
                else if (x.is("table-row-group", kTableNs) || x.is("table-header-rows", kTableNs) || x.is("table-rows", kTableNs))
                    ++depth;
                else
                    x.skipElement();
            }
        }
    }

    void readRow()
    {
        const int repeat = repeatCount(x, "number-rows-repeated", SheetLimits::kMaxRows + 1);
        QStringList cells;
        int col = 0;
        bool any = false;
        while (x.next()) {
            if (x.isEnd())
                break;
            if (!x.isStart())
                continue;
            const bool cell = x.is("table-cell", kTableNs);
            if (!cell && !x.is("covered-table-cell", kTableNs)) {
                x.skipElement();
                continue;
            }
            // A covered cell (under a merged one) is an empty cell in its
            // own column, whatever it holds.
            const int n = repeatCount(x, "number-columns-repeated", SheetLimits::kMaxColumns);
            const QString text = cellText();
            if (!cell || col >= SheetLimits::kMaxColumns) {
                col += n;
                continue;
            }
            for (int k = 0; k < n && col < SheetLimits::kMaxColumns; ++k, ++col) {
                while (cells.size() < col)
                    cells.append(QString());
                cells.append(text);
                any = any || !text.isEmpty();
            }
        }
        if (any) {
            for (int k = 0; k < repeat; ++k) {
                // set() refuses rows past the bound.
                for (int c = 0; c < cells.size(); ++c)
                    m_data.set(m_row, c, cells[c]);
                ++m_row;
            }
        } else {
            m_row = int(qMin<qint64>(qint64(m_row) + repeat, qint64(SheetLimits::kMaxRows) + 1));
        }
    }

    // The current cell's text, its element read to its end.
    QString cellText()
    {
        const QString type = x.attribute("value-type", kOfficeNs);
        QString value;
        bool typed = true;
        if (type == u"float" || type == u"percentage" || type == u"currency") {
            const QString v = x.attribute("value", kOfficeNs);
            const std::optional<double> d = parseNumber(v);
            value = d ? numberText(*d) : v;
        } else if (type == u"date") {
            value = dateValueText(x.attribute("date-value", kOfficeNs));
        } else if (type == u"time") {
            value = timeValueText(x.attribute("time-value", kOfficeNs));
        } else if (type == u"boolean") {
            const QString v = x.attribute("boolean-value", kOfficeNs);
            value = v == u"true" || v == u"1" ? QStringLiteral("True") : QStringLiteral("False");
        } else if (type == u"string" && x.hasAttribute("string-value", kOfficeNs)) {
            value = x.attribute("string-value", kOfficeNs);
        } else {
            typed = false; // a string, or no type: the paragraphs' text
        }
        const QString shown = paragraphs();
        m_chars += shown.size();
        return typed ? value : shown;
    }

    // The text paragraphs of a cell, one line each; comments left out.
    QString paragraphs()
    {
        QString text;
        int paras = 0;
        for (int depth = 1; depth > 0 && x.next();) {
            if (x.isEnd()) {
                --depth;
            } else if (x.isStart()) {
                if (x.is("annotation", kOfficeNs)) {
                    x.skipElement();
                } else if (depth == 1 && (x.is("p", kTextNs) || x.is("h", kTextNs))) {
                    if (paras++ > 0)
                        text += u'\n';
                    inline_(text);
                } else {
                    ++depth;
                }
            }
        }
        return text;
    }

    // Text inside a paragraph: spans and links read through, the space,
    // tab and line-break elements written out.
    void inline_(QString &text)
    {
        for (int depth = 1; depth > 0 && x.next();) {
            if (x.isText()) {
                text += x.text();
            } else if (x.isEnd()) {
                --depth;
            } else if (x.isStart()) {
                if (x.is("s", kTextNs)) {
                    bool ok = false;
                    const int c = x.attribute("c", kTextNs).toInt(&ok);
                    text += QString(ok ? qBound(1, c, 1000) : 1, u' ');
                    x.skipElement();
                } else if (x.is("tab", kTextNs)) {
                    text += u'\t';
                    x.skipElement();
                } else if (x.is("line-break", kTextNs)) {
                    text += u'\n';
                    x.skipElement();
                } else if (x.is("annotation", kOfficeNs) || x.is("note", kTextNs)) {
                    x.skipElement();
                } else {
                    ++depth;
                }
            }
            // text:s multiplies what the archive's bound counted.
            if (m_chars + text.size() > SheetLimits::kMaxTextChars)
                throw SheetError(SheetTexts::tooLarge());
        }
    }

    XmlCursor x;
    SheetData m_data;
    int m_row = 0;
    qint64 m_chars = 0;
};

} // namespace

bool isEncryptedOds(const ZipPackage &zip)
{
    return zip.part(QStringLiteral("META-INF/manifest.xml")).contains("encryption-data");
}

SheetData readOdsSheet(const ZipPackage &zip)
{
    return OdsContent(zip.part(QStringLiteral("content.xml"))).read();
}
