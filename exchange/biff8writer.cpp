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

// The shared string table, split into SST and CONTINUE records where a
// record would exceed its size; a string's characters may go on over any
// number of CONTINUE records, each starting with the option byte again.
void writeSst(Stream &out, const QStringList &strings, quint32 totalRefs)
{
    const int perBucket = qMax(8, int((strings.size() + 127) / 128));
    QByteArray ext;
    Stream::u16(ext, quint16(perBucket));

    QByteArray rec;
    quint16 type = 0x00FC;
    Stream::u32(rec, totalRefs);
    Stream::u32(rec, quint32(strings.size()));
    auto flush = [&] {
        out.record(type, rec);
        rec.clear();
        type = 0x003C; // CONTINUE
    };
    for (int i = 0; i < strings.size(); ++i) {
        const QString s = strings[i].left(Biff8::kMaxTextLength);
        // The count and option byte, and the first character, never part.
        if (rec.size() + 5 > kMaxRecordData)
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
            const qsizetype take = qMin(room, s.size() - done);
            Stream::utf16(rec, s.mid(done, take));
            done += take;
        }
    }
    flush();
    out.record(0x00FF, ext); // EXTSST
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

} // namespace

QByteArray biff8Workbook(const QString &sheetName, const QList<QStringList> &rows)
{
    if (rows.size() > Biff8::kMaxRows)
        throw AppError(QStringLiteral("列表超过%1行，Excel 97-2003 表格存不下").arg(Biff8::kMaxRows));

    // Shared strings in order of first use.
    QStringList strings;
    QHash<QString, quint32> index;
    quint32 refs = 0;
    int columns = 0;
    for (const QStringList &row : rows) {
        if (row.size() > Biff8::kMaxColumns)
            throw AppError(QStringLiteral("表格超过%1列").arg(Biff8::kMaxColumns));
        columns = qMax(columns, int(row.size()));
        for (const QString &text : row) {
            if (text.isEmpty())
                continue;
            ++refs;
            if (!index.contains(text)) {
                index.insert(text, quint32(strings.size()));
                strings.append(text);
            }
        }
    }

    Stream out;
    // --- workbook globals ---
    out.record(0x0809, bof(0x0005));
    {
        QByteArray d;
        Stream::u16(d, 1200); // CODEPAGE: UTF-16
        out.record(0x0042, d);
    }
    {
        QByteArray d; // WINDOW1
        Stream::u16(d, 0);
        Stream::u16(d, 0);
        Stream::u16(d, 0x4000);
        Stream::u16(d, 0x2000);
        Stream::u16(d, 0x0038);
        Stream::u16(d, 0); // active sheet
        Stream::u16(d, 0); // first visible tab
        Stream::u16(d, 1); // selected tabs
        Stream::u16(d, 0x0258);
        out.record(0x003D, d);
    }
    {
        QByteArray d;
        Stream::u16(d, 0); // DATEMODE 1900
        out.record(0x0022, d);
    }
    for (int i = 0; i < 5; ++i) // font 4 is never referenced, but must exist
        out.record(0x0031, font());
    // 15 style XFs, the default cell XF, then ours.
    out.record(0x00E0, xf(true, 0, 2, 0));
    for (int i = 1; i < 15; ++i)
        out.record(0x00E0, xf(true, 0, 2, 0x3D));
    out.record(0x00E0, xf(false, 0, 2, 0));
    out.record(0x00E0, xf(false, 49, 1, 0x01 | 0x04)); // "@", centred; both set here
    {
        QByteArray d; // STYLE: built-in Normal on XF 0
        Stream::u16(d, 0x8000);
        Stream::u8(d, 0);
        Stream::u8(d, 0xFF);
        out.record(0x0293, d);
    }
    const qint64 boundSheetAt = out.pos();
    {
        QByteArray d; // BOUNDSHEET; the offset is patched below
        Stream::u32(d, 0);
        Stream::u16(d, 0); // visible worksheet
        const QString name = sheetName.left(31);
        Stream::u8(d, quint8(name.size()));
        Stream::u8(d, 1);
        Stream::utf16(d, name);
        out.record(0x0085, d);
    }
    writeSst(out, strings, refs);
    out.record(0x000A, {});

    // --- the worksheet ---
    const quint32 sheetAt = quint32(out.pos());
    out.bytes[boundSheetAt + 4] = char(sheetAt & 0xFF);
    out.bytes[boundSheetAt + 5] = char((sheetAt >> 8) & 0xFF);
    out.bytes[boundSheetAt + 6] = char((sheetAt >> 16) & 0xFF);
    out.bytes[boundSheetAt + 7] = char((sheetAt >> 24) & 0xFF);
    out.record(0x0809, bof(0x0010));
    {
        QByteArray d; // COLINFO: every column takes the centred format
        Stream::u16(d, 0);
        Stream::u16(d, 255);
        Stream::u16(d, 0x0924);
        Stream::u16(d, kCellXf);
        Stream::u16(d, 0);
        Stream::u16(d, 0);
        out.record(0x007D, d);
    }
    {
        QByteArray d; // DIMENSIONS
        Stream::u32(d, 0);
        Stream::u32(d, quint32(rows.size()));
        Stream::u16(d, 0);
        Stream::u16(d, quint16(columns));
        Stream::u16(d, 0);
        out.record(0x0200, d);
    }
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c) {
            const QString &text = rows[r][c];
            if (text.isEmpty())
                continue;
            QByteArray d; // LABELSST
            Stream::u16(d, quint16(r));
            Stream::u16(d, quint16(c));
            Stream::u16(d, kCellXf);
            Stream::u32(d, index.value(text));
            out.record(0x00FD, d);
        }
    }
    {
        QByteArray d; // WINDOW2: grid lines, headers, selected, active
        Stream::u16(d, 0x06B6);
        Stream::u16(d, 0);
        Stream::u16(d, 0);
        Stream::u32(d, 0x40);
        Stream::u16(d, 0);
        Stream::u16(d, 0);
        Stream::u32(d, 0);
        out.record(0x023E, d);
    }
    out.record(0x000A, {});

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
