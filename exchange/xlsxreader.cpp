// .xlsx read part by part with the XML cursor (libxml2). liborcus 0.17
// (tried first) skips inline strings and absolute part names, both of which
// common generators (openpyxl among them) write, and would then import an
// empty sheet without a word.
#include "exchangelog.h"
#include "numberformats.h"
#include "sheetreader.h"
#include "xmlcursor.h"
#include "zippackage.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <vector>

namespace {

const char kRelNs[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char kStrictRelNs[] = "http://purl.oclc.org/ooxml/officeDocument/relationships";
const char kPackageRelNs[] = "http://schemas.openxmlformats.org/package/2006/relationships";
const char kMainNs[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char kStrictMainNs[] = "http://purl.oclc.org/ooxml/spreadsheetml/main";

// An element of SpreadsheetML itself (transitional or strict), not of an
// extension that reuses its local name.
bool isMain(const XmlCursor &x, const char *localName)
{
    return x.is(localName, kMainNs, kStrictMainNs);
}

// A part name relative to the folder of 'from', or absolute with a "/".
QString resolvePart(const QString &from, const QString &target)
{
    if (target.startsWith(u'/'))
        return target.mid(1);
    QStringList parts = from.split(u'/');
    parts.removeLast(); // the file name of 'from'
    for (const QString &p : target.split(u'/')) {
        if (p == QStringLiteral(".."))
            parts.isEmpty() ? void() : parts.removeLast();
        else if (p != QStringLiteral(".") && !p.isEmpty())
            parts.append(p);
    }
    return parts.join(u'/');
}

// The relationships of a part: id → target part, and type suffix → part.
struct Rels {
    QHash<QString, QString> byId;
    QHash<QString, QString> byType; // last path segment of the type
};

// A missing or broken relationships part leaves what was read: the parts
// it would name are then looked for by their usual names, or not found.
Rels readRels(const ZipPackage &zip, const QString &part)
{
    const int slash = int(part.lastIndexOf(u'/'));
    const QString relsName = part.left(slash + 1) + QStringLiteral("_rels/")
                             + part.mid(slash + 1) + QStringLiteral(".rels");
    Rels rels;
    const QByteArray bytes = zip.part(relsName);
    if (bytes.isEmpty())
        return rels;
    XmlCursor x(bytes);
    try {
        while (x.next()) {
            if (!x.isStart() || !x.is("Relationship", kPackageRelNs))
                continue;
            if (x.attribute("TargetMode") == QStringLiteral("External"))
                continue;
            const QString target = resolvePart(part, x.attribute("Target"));
            rels.byId.insert(x.attribute("Id"), target);
            const QString type = x.attribute("Type");
            rels.byType.insert(type.mid(type.lastIndexOf(u'/') + 1), target);
        }
    } catch (const SheetError &e) {
        qCInfo(lcExchange) << "relationships of" << part << "unreadable, usual part names used:" << e.text();
    }
    return rels;
}

bool isTrue(const QString &v) { return v == QStringLiteral("1") || v == QStringLiteral("true"); }

// OOXML writes characters XML cannot hold as _xHHHH_ (UTF-16 code unit in
// hex), and a literal "_x" that would read so as _x005F_x.
QString decodeEscapes(const QString &t)
{
    if (!t.contains(QStringLiteral("_x")))
        return t;
    QString out;
    out.reserve(t.size());
    for (qsizetype i = 0; i < t.size(); ++i) {
        if (t.at(i) == u'_' && i + 6 < t.size() && t.at(i + 1) == u'x' && t.at(i + 6) == u'_') {
            bool ok = false;
            const ushort unit = QStringView(t).mid(i + 2, 4).toUShort(&ok, 16);
            if (ok) {
                out += QChar(unit);
                i += 6;
                continue;
            }
        }
        out += t.at(i);
    }
    return out;
}

// The text of an <si> or <is>: every <t>, phonetic runs left out.
QString richText(XmlCursor &x)
{
    QString text;
    int phonetic = 0;
    for (int depth = 1; depth > 0 && x.next();) {
        if (x.isStart()) {
            if (isMain(x, "rPh"))
                ++phonetic;
            if (isMain(x, "t") && phonetic == 0)
                text += decodeEscapes(x.elementText());
            else
                ++depth;
        } else if (x.isEnd()) {
            if (isMain(x, "rPh"))
                --phonetic;
            --depth;
        }
    }
    return text;
}

QStringList readSharedStrings(const ZipPackage &zip, const QString &part)
{
    QStringList strings;
    if (part.isEmpty())
        return strings;
    XmlCursor x(zip.part(part));
    while (x.next())
        if (x.isStart() && isMain(x, "si"))
            strings.append(richText(x));
    return strings;
}

// For each cell format (xf) whether it shows a date or time.
std::vector<bool> readDateXfs(const ZipPackage &zip, const QString &part)
{
    std::vector<bool> xfs;
    if (part.isEmpty())
        return xfs;
    QHash<int, bool> custom;
    bool inCellXfs = false;
    XmlCursor x(zip.part(part));
    while (x.next()) {
        if (x.isStart()) {
            if (isMain(x, "numFmt")) {
                custom.insert(x.attribute("numFmtId").toInt(),
                              isDateFormatCode(x.attribute("formatCode").toStdString()));
            } else if (isMain(x, "cellXfs")) {
                inCellXfs = true;
            } else if (inCellXfs && isMain(x, "xf")) {
                const int id = x.attribute("numFmtId").toInt();
                xfs.push_back(custom.contains(id) ? custom.value(id) : isBuiltinDateFormat(size_t(id)));
            }
        } else if (x.isEnd() && isMain(x, "cellXfs")) {
            inCellXfs = false;
        }
    }
    return xfs;
}

// "B12" → row 11, column 1; false for anything else.
bool cellRef(QStringView ref, int *row, int *col)
{
    qint64 c = 0, r = 0;
    qsizetype i = 0;
    for (; i < ref.size() && ref[i].isLetter() && ref[i].unicode() < 128; ++i)
        c = qMin<qint64>(c * 26 + (ref[i].toUpper().unicode() - 'A' + 1), 1 << 20);
    const qsizetype digitsFrom = i;
    for (; i < ref.size() && ref[i] >= u'0' && ref[i] <= u'9'; ++i)
        r = qMin<qint64>(r * 10 + (ref[i].unicode() - '0'), qint64(1) << 31);
    if (c == 0 || r == 0 || i != ref.size() || digitsFrom == i)
        return false;
    *row = int(qMin<qint64>(r - 1, INT_MAX));
    *col = int(c - 1);
    return true;
}

// ISO 8601 text of a t="d" cell → the cell text of a date or time.
QString isoText(const QString &iso)
{
    auto secondOf = [](const QTime &t) { return secondOfDayFromSeconds(t.msecsSinceStartOfDay() / 1000.0); };
    auto text = [](const QDate &d, int s) {
        return dateTimeText(d.isValid() ? d.year() : 0, d.isValid() ? d.month() : 0,
                            d.isValid() ? d.day() : 0, s / 3600, s % 3600 / 60, s % 60);
    };
    const QDateTime dt = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (dt.isValid())
        return text(dt.date(), secondOf(dt.time()));
    const QTime t = QTime::fromString(iso, Qt::ISODateWithMs);
    if (t.isValid())
        return text(QDate(), secondOf(t));
    return iso;
}

// An .xlsb is an OPC package as well, whatever its name: its workbook part
// is xl/workbook.bin (or another part of the binary workbook's content
// type), which no XML reader can read.
bool isBinaryWorkbook(const ZipPackage &zip, const QString &workbook)
{
    return workbook.endsWith(QStringLiteral(".bin"), Qt::CaseInsensitive)
           || zip.contains(QStringLiteral("xl/workbook.bin"))
           || zip.part(QStringLiteral("[Content_Types].xml"))
                  .contains("application/vnd.ms-excel.sheet.binary.macroEnabled.main");
}

} // namespace

SheetData readXlsxSheet(const ZipPackage &zip)
{
    const Rels root = readRels(zip, QStringLiteral(""));
    QString workbook = root.byType.value(QStringLiteral("officeDocument"));
    if (isBinaryWorkbook(zip, workbook))
        throw SheetError(SheetTexts::binaryWorkbook());
    if (workbook.isEmpty())
        workbook = QStringLiteral("xl/workbook.xml");
    if (!zip.contains(workbook))
        throw SheetError(SheetTexts::notASheet());

    QString firstSheetId;
    bool date1904 = false;
    bool staleResults = false;
    {
        XmlCursor x(zip.part(workbook));
        while (x.next()) {
            if (!x.isStart())
                continue;
            if (isMain(x, "workbookPr")) {
                date1904 = isTrue(x.attribute("date1904"));
            } else if (isMain(x, "calcPr")) {
                // The writer asks for every formula to be calculated on
                // opening: the stored results are placeholders (XlsxWriter
                // stores 0, openpyxl nothing).
                staleResults = isTrue(x.attribute("fullCalcOnLoad"));
            } else if (isMain(x, "sheet") && firstSheetId.isEmpty()) {
                firstSheetId = x.attribute("id", kRelNs);
                if (firstSheetId.isEmpty())
                    firstSheetId = x.attribute("id", kStrictRelNs);
                if (firstSheetId.isEmpty()) // a prefix bound to another namespace
                    firstSheetId = x.attributeInAnyNamespace("id");
            }
        }
    }
    const Rels rels = readRels(zip, workbook);
    const QString sheetPart = rels.byId.value(firstSheetId);
    if (firstSheetId.isEmpty() || !zip.contains(sheetPart))
        throw SheetError(SheetTexts::noWorksheet());

    const QStringList strings = readSharedStrings(zip, rels.byType.value(QStringLiteral("sharedStrings")));
    const std::vector<bool> dateXfs = readDateXfs(zip, rels.byType.value(QStringLiteral("styles")));
    const QDate origin = date1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);

    SheetData data;
    XmlCursor x(zip.part(sheetPart));
    int row = -1, col = -1;
    while (x.next()) {
        if (!x.isStart())
            continue;
        if (isMain(x, "row")) {
            bool ok = false;
            const qint64 r = x.attribute("r").toLongLong(&ok);
            row = ok && r > 0 ? int(qMin<qint64>(r - 1, INT_MAX)) : row + 1;
            col = -1;
            continue;
        }
        if (!isMain(x, "c"))
            continue;
        int r = row, c = col + 1;
        const QString ref = x.attribute("r");
        if (!ref.isEmpty() && !cellRef(ref, &r, &c))
            throw SheetError(SheetTexts::damaged());
        if (r < 0)
            r = 0;
        row = r;
        col = c;
        const QString type = x.attribute("t");
        const int xf = x.attribute("s").toInt();
        QString value, inlineText;
        bool hasInline = false, hasValue = false, hasFormula = false;
        for (int depth = 1; depth > 0 && x.next();) {
            if (x.isStart() && isMain(x, "v")) {
                value = x.elementText();
                hasValue = true;
            } else if (x.isStart() && isMain(x, "f")) {
                hasFormula = true;
                ++depth;
            } else if (x.isStart() && isMain(x, "is")) {
                inlineText = richText(x);
                hasInline = true;
            } else if (x.isStart()) {
                ++depth;
            } else if (x.isEnd()) {
                --depth;
            }
        }
        QString text;
        if (type == QStringLiteral("s")) {
            bool ok = false;
            const int i = value.toInt(&ok);
            text = ok && i >= 0 && i < strings.size() ? strings[i] : QString();
        } else if (type == QStringLiteral("inlineStr")) {
            text = hasInline ? inlineText : value;
        } else if (type == QStringLiteral("str") || type == QStringLiteral("e")) {
            text = value;
        } else if (type == QStringLiteral("b")) {
            text = value.isEmpty() ? QString()
                   : value == QStringLiteral("0") ? QStringLiteral("False") : QStringLiteral("True");
        } else if (type == QStringLiteral("d")) {
            text = isoText(value);
        } else if (!value.isEmpty()) {
            const std::optional<double> v = parseNumber(value);
            if (!v)
                text = value;
            else if (xf >= 0 && size_t(xf) < dateXfs.size() && dateXfs[size_t(xf)])
                text = dateSerialText(*v, origin);
            else
                text = numberText(*v);
        }
        if (r >= SheetLimits::kMaxRows && !text.isEmpty())
            throw SheetError(SheetTexts::tooManyRows());
        data.set(r, c, text);
        // An empty text result is a result; an empty number is none.
        if (hasFormula && (staleResults || !hasValue || (value.isEmpty() && type != QStringLiteral("str"))))
            data.markUncalculated(r, c);
    }
    return data;
}

SheetData ZipSheetReader::read(const QByteArray &bytes) const
{
    ZipPackage zip(bytes);
    const bool ods = zip.contains(QStringLiteral("content.xml"));
    // Encrypted parts do not inflate: say why before the bounds check fails.
    if (ods && isEncryptedOds(zip))
        throw SheetError(SheetTexts::encrypted());
    zip.checkBounds();
    if (zip.contains(QStringLiteral("[Content_Types].xml")))
        return readXlsxSheet(zip);
    if (ods)
        return readOdsSheet(zip);
    throw SheetError(SheetTexts::notASheet());
}
