#include "biff8writer.h"

#include "seams.h"

#include <QHash>
#include <QSaveFile>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-utils.h>

#include <mutex>

namespace {

constexpr int kMaxRecordData = 8224;
constexpr quint16 kCellXf = 16; // text format "@", vertically centred

// Record ids (the names are those of the BIFF documentation).
namespace Rec {
constexpr quint16 Bof = 0x0809, Eof = 0x000A, CodePage = 0x0042, Window1 = 0x003D,
                  DateMode = 0x0022, Font = 0x0031, Xf = 0x00E0, Style = 0x0293,
                  BoundSheet = 0x0085, Sst = 0x00FC, Continue = 0x003C, ExtSst = 0x00FF,
                  ColInfo = 0x007D, Dimensions = 0x0200, LabelSst = 0x00FD, Window2 = 0x023E;
}

class Stream {
public:
    QByteArray bytes;

    static void u8(QByteArray &b, quint8 v) { b.append(char(v)); }
    static void u16(QByteArray &b, quint16 v)
    {
        b.append(char(v & 0xFF));
        b.append(char(v >> 8));
    }
    static void u32(QByteArray &b, quint32 v)
    {
        u16(b, quint16(v & 0xFFFF));
        u16(b, quint16(v >> 16));
    }
    static void utf16(QByteArray &b, const QString &s)
    {
        for (QChar c : s)
            u16(b, c.unicode());
    }
    void record(quint16 type, const QByteArray &data)
    {
        Q_ASSERT(data.size() <= kMaxRecordData);
        u16(bytes, type);
        u16(bytes, quint16(data.size()));
        bytes.append(data);
    }
    qint64 pos() const { return bytes.size(); }
};

QByteArray bof(quint16 kind)
{
    QByteArray d;
    Stream::u16(d, 0x0600); // BIFF8
    Stream::u16(d, kind);
    Stream::u16(d, 0x0DBB); // build
    Stream::u16(d, 0x07CC); // year
    Stream::u32(d, 0x00000000);
    Stream::u32(d, 0x00000006); // lowest version that can read it
    return d;
}

QByteArray font()
{
    QByteArray d;
    Stream::u16(d, 220);    // 11 pt in twips
    Stream::u16(d, 0);      // no attributes
    Stream::u16(d, 0x7FFF); // window text colour
    Stream::u16(d, 400);    // normal weight
    Stream::u16(d, 0);      // no escapement
    Stream::u8(d, 0);       // no underline
    Stream::u8(d, 0);       // family
    Stream::u8(d, 0x86);    // GB2312 character set
    Stream::u8(d, 0);
    const QString name = QStringLiteral("宋体");
    Stream::u8(d, quint8(name.size()));
    Stream::u8(d, 1); // UTF-16
    Stream::utf16(d, name);
    return d;
}

QByteArray xf(bool style, quint16 format, quint8 verticalAlign, quint8 usedAttributes)
{
    QByteArray d;
    Stream::u16(d, 0);                         // font 0
    Stream::u16(d, format);                    // number format
    Stream::u16(d, style ? 0xFFF5 : 0x0001);   // locked; style XFs have no parent
    Stream::u8(d, quint8(verticalAlign << 4)); // horizontal general
    Stream::u8(d, 0);                          // no rotation
    Stream::u8(d, 0);                          // no indent
    Stream::u8(d, quint8(usedAttributes << 2));
    Stream::u32(d, 0); // no borders
    Stream::u32(d, 0);
    Stream::u16(d, 0x20C0); // default pattern colours
    return d;
}

// A text cut to what a cell holds, never inside a surrogate pair.
QString cellText(const QString &text)
{
    if (text.size() <= Biff8::kMaxTextLength)
        return text;
    qsizetype n = Biff8::kMaxTextLength;
    if (text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n);
}

// The shared string table, split into SST and CONTINUE records where a
// record would exceed its size; a string's characters may go on over any
// number of CONTINUE records, each starting with the option byte again.
void writeSst(Stream &out, const QStringList &strings, quint32 totalRefs)
{
    const int perBucket = qMax(8, int((strings.size() + 127) / 128));
    QByteArray ext;
    Stream::u16(ext, quint16(perBucket));

    QByteArray rec;
    quint16 type = Rec::Sst;
    Stream::u32(rec, totalRefs);
    Stream::u32(rec, quint32(strings.size()));
    auto flush = [&] {
        out.record(type, rec);
        rec.clear();
        type = Rec::Continue;
    };
    for (int i = 0; i < strings.size(); ++i) {
        const QString s = cellText(strings[i]);
        // The count and option byte, and the first character (maybe a
        // surrogate pair), never part.
        if (rec.size() + 7 > kMaxRecordData)
            flush();
        if (i % perBucket == 0) {
            Stream::u32(ext, quint32(out.pos() + 4 + rec.size()));
            Stream::u16(ext, quint16(4 + rec.size()));
            Stream::u16(ext, 0);
        }
        Stream::u16(rec, quint16(s.size()));
        Stream::u8(rec, 0x01); // uncompressed UTF-16
        qsizetype done = 0;
        while (done < s.size()) {
            const qsizetype room = (kMaxRecordData - rec.size()) / 2;
            if (room == 0) {
                flush();
                Stream::u8(rec, 0x01);
                continue;
            }
            qsizetype take = qMin(room, s.size() - done);
            // Never between the two halves of a surrogate pair (𠮷, an
            // emoji): readers decode each record's characters on their own.
            if (done + take < s.size() && s.at(done + take - 1).isHighSurrogate())
                --take;
            if (take == 0) {
                flush();
                Stream::u8(rec, 0x01);
                continue;
            }
            Stream::utf16(rec, s.mid(done, take));
            done += take;
        }
    }
    flush();
    out.record(Rec::ExtSst, ext);
}

QByteArray gsfWrap(const QByteArray &workbook)
{
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });

    GsfOutput *mem = gsf_output_memory_new();
    GsfOutfile *ole = gsf_outfile_msole_new(mem);
    GsfOutput *stream = gsf_outfile_new_child(ole, "Workbook", FALSE);
    bool ok = stream
              && gsf_output_write(stream, size_t(workbook.size()),
                                  reinterpret_cast<const guint8 *>(workbook.constData()));
    if (stream) {
        ok = gsf_output_close(stream) && ok;
        g_object_unref(stream);
    }
    ok = gsf_output_close(GSF_OUTPUT(ole)) && ok;
    g_object_unref(ole);
    QByteArray file;
    if (ok) {
        const auto *data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(mem));
        file = QByteArray(reinterpret_cast<const char *>(data), qsizetype(gsf_output_size(mem)));
    }
    if (!gsf_output_is_closed(mem)) // closing the compound file closes its sink
        gsf_output_close(mem);
    g_object_unref(mem);
    if (!ok || file.isEmpty())
        throw AppError(QStringLiteral("无法生成Excel文件"));
    return file;
}

// Strings in order of first use, and the index of each.
struct SharedStrings {
    QStringList list;
    QHash<QString, quint32> index;
    quint32 refs = 0;
};

// The workbook globals: code page, window, fonts, cell formats, the one
// sheet's entry and the shared strings. Returns where the sheet's offset
// goes, to be filled in once the sheet's place is known.
qint64 writeGlobals(Stream &out, const QString &sheetName, const SharedStrings &strings)
{
    out.record(Rec::Bof, bof(0x0005));
    {
        QByteArray d;
        Stream::u16(d, 1200); // UTF-16
        out.record(Rec::CodePage, d);
    }
    {
        QByteArray d;
        Stream::u16(d, 0);
        Stream::u16(d, 0);
        Stream::u16(d, 0x4000);
        Stream::u16(d, 0x2000);
        Stream::u16(d, 0x0038);
        Stream::u16(d, 0); // active sheet
        Stream::u16(d, 0); // first visible tab
        Stream::u16(d, 1); // selected tabs
        Stream::u16(d, 0x0258);
        out.record(Rec::Window1, d);
    }
    {
        QByteArray d;
        Stream::u16(d, 0); // the 1900 date system
        out.record(Rec::DateMode, d);
    }
    for (int i = 0; i < 5; ++i) // font 4 is never referenced, but must exist
        out.record(Rec::Font, font());
    // 15 style XFs, the default cell XF, then ours.
    out.record(Rec::Xf, xf(true, 0, 2, 0));
    for (int i = 1; i < 15; ++i)
        out.record(Rec::Xf, xf(true, 0, 2, 0x3D));
    out.record(Rec::Xf, xf(false, 0, 2, 0));
    out.record(Rec::Xf, xf(false, 49, 1, 0x01 | 0x04)); // "@", centred; both set here
    {
        QByteArray d; // built-in Normal on XF 0
        Stream::u16(d, 0x8000);
        Stream::u8(d, 0);
        Stream::u8(d, 0xFF);
        out.record(Rec::Style, d);
    }
    const qint64 boundSheetAt = out.pos();
    {
        QByteArray d;
        Stream::u32(d, 0); // the sheet's offset, patched later
        Stream::u16(d, 0); // visible worksheet
        const QString name = sheetName.left(31);
        Stream::u8(d, quint8(name.size()));
        Stream::u8(d, 1);
        Stream::utf16(d, name);
        out.record(Rec::BoundSheet, d);
    }
    writeSst(out, strings.list, strings.refs);
    out.record(Rec::Eof, {});
    return boundSheetAt + 4;
}

// The worksheet: every text cell as a LABELSST into the shared strings.
void writeWorksheet(Stream &out, const QList<QStringList> &rows, int columns,
                    const SharedStrings &strings)
{
    out.record(Rec::Bof, bof(0x0010));
    {
        QByteArray d; // every column takes the centred format
        Stream::u16(d, 0);
        Stream::u16(d, 255);
        Stream::u16(d, 0x0924);
        Stream::u16(d, kCellXf);
        Stream::u16(d, 0);
        Stream::u16(d, 0);
        out.record(Rec::ColInfo, d);
    }
    {
        QByteArray d;
        Stream::u32(d, 0);
        Stream::u32(d, quint32(rows.size()));
        Stream::u16(d, 0);
        Stream::u16(d, quint16(columns));
        Stream::u16(d, 0);
        out.record(Rec::Dimensions, d);
    }
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c) {
            const QString &text = rows[r][c];
            if (text.isEmpty())
                continue;
            QByteArray d;
            Stream::u16(d, quint16(r));
            Stream::u16(d, quint16(c));
            Stream::u16(d, kCellXf);
            Stream::u32(d, strings.index.value(text));
            out.record(Rec::LabelSst, d);
        }
    }
    {
        QByteArray d; // grid lines, headers, selected, active
        Stream::u16(d, 0x06B6);
        Stream::u16(d, 0);
        Stream::u16(d, 0);
        Stream::u32(d, 0x40);
        Stream::u16(d, 0);
        Stream::u16(d, 0);
        Stream::u32(d, 0);
        out.record(Rec::Window2, d);
    }
    out.record(Rec::Eof, {});
}

} // namespace

QByteArray biff8Workbook(const QString &sheetName, const QList<QStringList> &rows)
{
    if (rows.size() > Biff8::kMaxRows)
        throw AppError(QStringLiteral("列表超过%1行，Excel 97-2003 表格存不下").arg(Biff8::kMaxRows));
    SharedStrings strings;
    int columns = 0;
    for (const QStringList &row : rows) {
        if (row.size() > Biff8::kMaxColumns)
            throw AppError(QStringLiteral("表格超过%1列").arg(Biff8::kMaxColumns));
        columns = qMax(columns, int(row.size()));
        for (const QString &text : row) {
            if (text.isEmpty())
                continue;
            ++strings.refs;
            if (!strings.index.contains(text)) {
                strings.index.insert(text, quint32(strings.list.size()));
                strings.list.append(text);
            }
        }
    }

    Stream out;
    const qint64 sheetOffsetAt = writeGlobals(out, sheetName, strings);
    const quint32 sheetAt = quint32(out.pos());
    for (int i = 0; i < 4; ++i)
        out.bytes[sheetOffsetAt + i] = char((sheetAt >> (8 * i)) & 0xFF);
    writeWorksheet(out, rows, columns, strings);

    // A workbook stream below 4096 bytes would go to the small-block stream,
    // which some Excel versions dislike; pad with zeros as Excel does.
    if (out.bytes.size() < 4096)
        out.bytes.append(QByteArray(4096 - out.bytes.size(), '\0'));
    return gsfWrap(out.bytes);
}

void writeBiff8File(const QString &path, const QString &sheetName, const QList<QStringList> &rows)
{
    const QByteArray file = biff8Workbook(sheetName, rows);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(file) != file.size() || !f.commit())
        throw AppError(QStringLiteral("无法保存文件 %1：%2").arg(path, f.errorString()));
}
