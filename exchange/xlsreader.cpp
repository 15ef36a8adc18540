// .xls: the workbook stream taken out of the compound file by libgsf, its
// BIFF8 (or BIFF5) records read here, the counterpart of biff8writer.cpp.
//
// Written by hand because no packaged library reads what a school's files
// hold: libfreexl (tried first) drops every formula cell although the file
// keeps each formula's last result, garbles the strings after one of about
// 8,000 characters, and crashed on about 1,350 fuzzed inputs. Every length
// read from the file is checked against the bytes that are there; the
// fuzzer drives this file in-process.
#include "numberformats.h"
#include "sheetreader.h"

#include <QDate>
#include <QHash>
#include <QStringDecoder>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-utils.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace {

// Record ids (the names are those of the BIFF documentation).
namespace Rec {
constexpr quint16 Formula = 0x0006, Eof = 0x000A, FilePass = 0x002F, DateMode = 0x0022,
                  Continue = 0x003C, CodePage = 0x0042, BoundSheet = 0x0085, MulRk = 0x00BD,
                  MulBlank = 0x00BE, RString = 0x00D6, Xf = 0x00E0, Sst = 0x00FC,
                  LabelSst = 0x00FD, Blank = 0x0201, Number = 0x0203, Label = 0x0204,
                  BoolErr = 0x0205, String = 0x0207, Rk = 0x027E, Format = 0x041E,
                  Bof = 0x0809, Bof4 = 0x0409, Bof3 = 0x0209, Bof2 = 0x0009;
}

QString damaged() { return SheetTexts::damaged(); }

// The workbook stream of the compound file ("Workbook" for BIFF8, "Book"
// for BIFF5).
QByteArray workbookStream(const QByteArray &file)
{
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        // A damaged file is reported to the operator; libgsf's own warnings
        // about it would only fill the terminal.
        g_log_set_handler("libgsf:msole", GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                          [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {}, nullptr);
    });
    GsfInput *mem = gsf_input_memory_new(reinterpret_cast<const guint8 *>(file.constData()),
                                         gsf_off_t(file.size()), FALSE);
    if (!mem)
        throw SheetError(damaged());
    GError *err = nullptr;
    GsfInfile *ole = gsf_infile_msole_new(mem, &err);
    g_object_unref(mem);
    if (!ole) {
        if (err)
            g_error_free(err);
        throw SheetError(damaged());
    }
    auto child = [ole](const char *name) { return gsf_infile_child_by_name(ole, name); };
    GsfInput *book = child("Workbook");
    if (!book)
        book = child("Book");
    if (!book) {
        // An encrypted .xlsx is a compound file holding the encrypted package.
        GsfInput *enc = child("EncryptedPackage");
        g_object_unref(ole);
        if (enc) {
            g_object_unref(enc);
            throw SheetError(SheetTexts::encrypted());
        }
        throw SheetError(SheetTexts::noWorksheet());
    }
    const gsf_off_t size = gsf_input_size(book);
    QByteArray bytes;
    bool ok = size >= 0 && size <= SheetLimits::kMaxUnpackedBytes;
    if (ok) {
        bytes.resize(qsizetype(size));
        ok = size == 0
             || gsf_input_read(book, size_t(size), reinterpret_cast<guint8 *>(bytes.data())) != nullptr;
    }
    g_object_unref(book);
    g_object_unref(ole);
    if (!ok)
        throw SheetError(size > SheetLimits::kMaxUnpackedBytes ? SheetTexts::tooLarge() : damaged());
    return bytes;
}

quint16 u16(const char *p) { return quint16(uchar(p[0]) | uchar(p[1]) << 8); }
quint32 u32(const char *p) { return quint32(u16(p)) | quint32(u16(p + 2)) << 16; }
double f64(const char *p)
{
    quint64 bits = quint64(u32(p)) | quint64(u32(p + 4)) << 32;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

double rkValue(quint32 rk)
{
    double v;
    if (rk & 0x02) {
        v = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    return rk & 0x01 ? v / 100.0 : v;
}

struct Record {
    quint16 type = 0;
    const char *data = nullptr;
    int size = 0;
};

// Walks the records of the stream from an offset.
class Records {
public:
    Records(const QByteArray &s, qint64 from) : m_s(s), m_pos(from) {}
    // False at the end of the stream; a record cut short is damage.
    bool next(Record *r)
    {
        if (m_pos < 0 || m_pos + 4 > m_s.size())
            return false;
        const char *p = m_s.constData() + m_pos;
        r->type = u16(p);
        r->size = u16(p + 2);
        if (m_pos + 4 + r->size > m_s.size())
            throw SheetError(damaged());
        r->data = p + 4;
        m_pos += 4 + r->size;
        return true;
    }
    // The next record's type, without taking it; 0 at the end.
    quint16 peekType() const
    {
        return m_pos + 4 <= m_s.size() ? u16(m_s.constData() + m_pos) : 0;
    }

private:
    const QByteArray &m_s;
    qint64 m_pos;
};

// The data of a record and of the CONTINUE records after it, kept as pieces:
// a string split across a boundary repeats its option byte after it.
class Pieces {
public:
    void add(const char *d, int n) { m_parts.push_back({d, n}); }
    bool atEnd() { return !skipEmpty(); }

    // Fixed-size fields never cross a boundary in files Excel writes, but
    // a hostile file may try: such bytes are read across it.
    bool bytes(char *out, int n)
    {
        for (int i = 0; i < n; ++i) {
            if (!skipEmpty())
                return false;
            out[i] = m_parts[m_part].d[m_off++];
        }
        return true;
    }
    std::optional<quint16> u16v()
    {
        char b[2];
        return bytes(b, 2) ? std::optional<quint16>(u16(b)) : std::nullopt;
    }
    std::optional<quint32> u32v()
    {
        char b[4];
        return bytes(b, 4) ? std::optional<quint32>(u32(b)) : std::nullopt;
    }
    bool skip(qint64 n)
    {
        while (n > 0) {
            if (!skipEmpty())
                return false;
            const qint64 take = qMin<qint64>(n, m_parts[m_part].n - m_off);
            m_off += int(take);
            n -= take;
        }
        return true;
    }
    // A BIFF8 unicode string (count, option byte, characters, runs).
    std::optional<QString> unicode(bool byteCount = false)
    {
        quint16 count = 0;
        if (byteCount) {
            char c;
            if (!bytes(&c, 1))
                return std::nullopt;
            count = uchar(c);
        } else {
            const auto n = u16v();
            if (!n)
                return std::nullopt;
            count = *n;
        }
        char flags;
        if (!bytes(&flags, 1))
            return std::nullopt;
        quint16 runs = 0;
        quint32 ext = 0;
        if (flags & 0x08) {
            const auto r = u16v();
            if (!r)
                return std::nullopt;
            runs = *r;
        }
        if (flags & 0x04) {
            const auto e = u32v();
            if (!e)
                return std::nullopt;
            ext = *e;
        }
        QString s;
        s.reserve(count);
        bool wide = flags & 0x01;
        while (s.size() < count) {
            if (m_part < m_parts.size() && m_off >= m_parts[m_part].n) {
                // The characters go on in a CONTINUE, after a new option byte.
                ++m_part;
                m_off = 0;
                char f;
                if (!bytes(&f, 1))
                    return std::nullopt;
                wide = f & 0x01;
                continue;
            }
            if (atEnd())
                return std::nullopt;
            const Part &p = m_parts[m_part];
            const int left = count - int(s.size());
            if (wide) {
                const int n = qMin(left, (p.n - m_off) / 2);
                if (n == 0) // half a character before a boundary
                    return std::nullopt;
                for (int i = 0; i < n; ++i)
                    s.append(QChar(u16(p.d + m_off + 2 * i)));
                m_off += 2 * n;
            } else {
                const int n = qMin(left, p.n - m_off);
                for (int i = 0; i < n; ++i)
                    s.append(QChar(uchar(p.d[m_off + i])));
                m_off += n;
            }
        }
        if (!skip(qint64(runs) * 4 + ext))
            return std::nullopt;
        return s;
    }

private:
    struct Part {
        const char *d;
        int n;
    };
    bool skipEmpty()
    {
        while (m_part < m_parts.size() && m_off >= m_parts[m_part].n) {
            ++m_part;
            m_off = 0;
        }
        return m_part < m_parts.size();
    }
    std::vector<Part> m_parts;
    size_t m_part = 0;
    int m_off = 0;
};

// A record together with the CONTINUE records that follow it.
Pieces withContinues(const Record &first, Records &recs)
{
    Pieces p;
    p.add(first.data, first.size);
    Record r;
    while (recs.peekType() == Rec::Continue && recs.next(&r))
        p.add(r.data, r.size);
    return p;
}

class Workbook {
public:
    explicit Workbook(const QByteArray &stream) : m_s(stream) {}

    SheetData read()
    {
        const qint64 sheetAt = readGlobals();
        if (sheetAt < 0 || sheetAt >= m_s.size())
            throw SheetError(SheetTexts::noWorksheet());
        return readWorksheet(sheetAt);
    }

private:
    // The workbook globals up to their EOF; returns the first worksheet's
    // offset (-1 when there is none).
    qint64 readGlobals()
    {
        Records recs(m_s, 0);
        Record r;
        if (!recs.next(&r) || !isBof(r.type))
            throw SheetError(damaged());
        readBof(r);
        qint64 sheetAt = -1;
        while (recs.next(&r)) {
            switch (r.type) {
            case Rec::Eof: return sheetAt;
            case Rec::FilePass: throw SheetError(SheetTexts::encrypted());
            case Rec::CodePage:
                if (r.size >= 2)
                    setCodePage(u16(r.data));
                break;
            case Rec::DateMode:
                if (r.size >= 2 && u16(r.data) == 1)
                    m_origin = QDate(1904, 1, 1);
                break;
            case Rec::Format: readFormat(r); break;
            case Rec::Xf:
                if (r.size >= 4)
                    m_xfFormats.push_back(u16(r.data + 2));
                break;
            case Rec::BoundSheet:
                // The first worksheet (type 0), whatever its name or place.
                if (sheetAt < 0 && r.size >= 6 && uchar(r.data[5]) == 0)
                    sheetAt = u32(r.data);
                break;
            case Rec::Sst: readSst(r, recs); break;
            default: break;
            }
        }
        throw SheetError(damaged()); // the globals never ended
    }

    static bool isBof(quint16 t)
    {
        return t == Rec::Bof || t == Rec::Bof4 || t == Rec::Bof3 || t == Rec::Bof2;
    }

    void readBof(const Record &r)
    {
        const quint16 version = r.size >= 2 ? u16(r.data) : 0;
        if (r.type != Rec::Bof || (version != 0x0600 && version != 0x0500))
            throw SheetError(QStringLiteral("这个Excel文件的版本太旧（Excel 5.0 以前），请在表格程序中另存为新格式后再导入"));
        m_biff8 = version == 0x0600;
    }

    void setCodePage(quint16 cp)
    {
        if (cp == 1200 || m_biff8)
            return; // BIFF8 strings are UTF-16 or Latin-1 by their option byte
        const QByteArray name = cp == 936 ? QByteArray("GB18030")
                                : cp == 950 ? QByteArray("Big5")
                                : cp == 0x8000 ? QByteArray("macintosh")
                                : "windows-" + QByteArray::number(cp);
        QStringDecoder d(name.constData());
        if (d.isValid())
            m_codec = name;
    }

    // BIFF5 byte strings, in the workbook's code page.
    QString bytesText(const char *d, int n) const
    {
        if (m_codec.isEmpty())
            return QString::fromLatin1(d, n);
        QStringDecoder dec(m_codec.constData());
        return dec.decode(QByteArrayView(d, n));
    }

    // A string in a record's own bytes: BIFF8 unicode or BIFF5 bytes, with a
    // 16-bit count (8-bit when 'shortCount').
    std::optional<QString> text(Pieces &p, bool shortCount = false) const
    {
        if (m_biff8)
            return p.unicode(shortCount);
        int n = 0;
        if (shortCount) {
            char c;
            if (!p.bytes(&c, 1))
                return std::nullopt;
            n = uchar(c);
        } else {
            const auto v = p.u16v();
            if (!v)
                return std::nullopt;
            n = *v;
        }
        QByteArray raw(n, '\0');
        if (!p.bytes(raw.data(), n))
            return std::nullopt;
        return bytesText(raw.constData(), n);
    }

    void readFormat(const Record &r)
    {
        Pieces p;
        p.add(r.data, r.size);
        const auto id = p.u16v();
        const auto code = id ? text(p, !m_biff8) : std::nullopt;
        if (code)
            m_dateFormats.insert(*id, isDateFormatCode(code->toStdString()));
    }

    void readSst(const Record &first, Records &recs)
    {
        Pieces p = withContinues(first, recs);
        if (!p.skip(4))
            return;
        const auto count = p.u32v();
        if (!count)
            return;
        // Each string takes at least three bytes: the count cannot exceed
        // what is there, so a false count allocates nothing.
        for (quint32 i = 0; i < *count && !p.atEnd(); ++i) {
            auto s = p.unicode();
            if (!s)
                throw SheetError(damaged());
            m_sst.append(std::move(*s));
        }
    }

    bool isDateXf(quint16 xf) const
    {
        if (xf >= m_xfFormats.size())
            return false;
        const quint16 fmt = m_xfFormats[xf];
        const auto it = m_dateFormats.constFind(fmt);
        return it != m_dateFormats.cend() ? *it : isBuiltinDateFormat(fmt);
    }

    QString numberCell(double v, quint16 xf) const
    {
        return isDateXf(xf) ? dateSerialText(v, m_origin) : numberText(v);
    }

    SheetData readWorksheet(qint64 at)
    {
        Records recs(m_s, at);
        Record r;
        if (!recs.next(&r) || !isBof(r.type))
            throw SheetError(damaged());
        SheetData data;
        // Where a formula's string result goes (its STRING record follows).
        int pendingRow = -1, pendingCol = -1;
        while (recs.next(&r)) {
            const char *d = r.data;
            const int n = r.size;
            const int row = n >= 4 ? u16(d) : 0, col = n >= 4 ? u16(d + 2) : 0;
            const quint16 xf = n >= 6 ? u16(d + 4) : 0;
            switch (r.type) {
            case Rec::Eof: return data;
            case Rec::LabelSst:
                if (n < 10)
                    throw SheetError(damaged());
                {
                    const quint32 i = u32(d + 6);
                    data.set(row, col, i < quint32(m_sst.size()) ? m_sst[qsizetype(i)] : QString());
                }
                break;
            case Rec::Label:
            case Rec::RString: {
                if (n < 8)
                    throw SheetError(damaged());
                Pieces p = withContinues(r, recs);
                p.skip(6);
                const auto s = text(p);
                if (!s)
                    throw SheetError(damaged());
                data.set(row, col, *s);
                break;
            }
            case Rec::Number:
                if (n < 14)
                    throw SheetError(damaged());
                data.set(row, col, numberCell(f64(d + 6), xf));
                break;
            case Rec::Rk:
                if (n < 10)
                    throw SheetError(damaged());
                data.set(row, col, numberCell(rkValue(u32(d + 6)), xf));
                break;
            case Rec::MulRk: {
                if (n < 6)
                    throw SheetError(damaged());
                // row, first column, (xf, rk) per cell, last column.
                const int cells = (n - 6) / 6;
                for (int k = 0; k < cells; ++k) {
                    const char *e = d + 4 + 6 * k;
                    data.set(row, col + k, numberCell(rkValue(u32(e + 2)), u16(e)));
                }
                break;
            }
            case Rec::BoolErr:
                if (n < 8)
                    throw SheetError(damaged());
                if (d[7] == 0) // an error value reads as an empty cell
                    data.set(row, col, d[6] ? QStringLiteral("True") : QStringLiteral("False"));
                break;
            case Rec::Formula: {
                if (n < 20)
                    throw SheetError(damaged());
                const char *res = d + 6;
                pendingRow = -1;
                if (uchar(res[6]) != 0xFF || uchar(res[7]) != 0xFF) {
                    data.set(row, col, numberCell(f64(res), xf));
                    break;
                }
                switch (res[0]) {
                case 0: // a text result: its STRING record follows
                    pendingRow = row;
                    pendingCol = col;
                    break;
                case 1: data.set(row, col, res[2] ? QStringLiteral("True") : QStringLiteral("False")); break;
                default: break; // an error, or the empty text
                }
                break;
            }
            case Rec::String: {
                if (pendingRow < 0)
                    break;
                Pieces p = withContinues(r, recs);
                const auto s = text(p);
                if (!s)
                    throw SheetError(damaged());
                data.set(pendingRow, pendingCol, *s);
                pendingRow = -1;
                break;
            }
            case Rec::Blank:
            case Rec::MulBlank:
            default: break;
            }
        }
        return data; // no EOF: the cells up to the end of the stream
    }

    const QByteArray &m_s;
    bool m_biff8 = true;
    QByteArray m_codec; // BIFF5 only; empty = Latin-1
    QDate m_origin{1899, 12, 30};
    std::vector<quint16> m_xfFormats;
    QHash<quint16, bool> m_dateFormats;
    QStringList m_sst;
};

} // namespace

SheetData XlsReader::read(const QByteArray &bytes) const
{
    const QByteArray stream = workbookStream(bytes);
    try {
        return Workbook(stream).read();
    } catch (const std::bad_alloc &) {
        throw SheetError(SheetTexts::tooLarge());
    }
}
