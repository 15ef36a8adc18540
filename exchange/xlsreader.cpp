// .xls: the workbook stream taken out of the compound file by libgsf, its
// BIFF8 (or BIFF5) records read here, the counterpart of biff8writer.cpp.
//
// Written by hand because no packaged library reads what a school's files
// hold: libfreexl (tried first) drops every formula cell although the file
// keeps each formula's last result, garbles the strings after one of about
// 8,000 characters, and crashed on about 1,350 fuzzed inputs. Every length
// read from the file is checked against the bytes that are there; the
// fuzzer drives this file in-process.
#include "biffrecords.h"
#include "numberformats.h"
#include "sheetreader.h"

#include <QDate>
#include <QHash>
#include <QStringDecoder>

using namespace Biff;

namespace {

// Record ids (the names are those of the BIFF documentation).
namespace Rec {
constexpr quint16 Formula = 0x0006, Eof = 0x000A, FilePass = 0x002F, DateMode = 0x0022,
                  CodePage = 0x0042, BoundSheet = 0x0085, MulRk = 0x00BD,
                  MulBlank = 0x00BE, RString = 0x00D6, Xf = 0x00E0, Sst = 0x00FC,
                  LabelSst = 0x00FD, Blank = 0x0201, Number = 0x0203, Label = 0x0204,
                  BoolErr = 0x0205, String = 0x0207, Rk = 0x027E, Format = 0x041E,
                  Bof = 0x0809, Bof4 = 0x0409, Bof3 = 0x0209, Bof2 = 0x0009;
}

QString damaged() { return SheetTexts::damaged(); }

class Workbook {
public:
    explicit Workbook(const QByteArray &stream) : m_s(stream) {}

    SheetData read()
    {
        const qint64 sheetAt = bofNear(readGlobals());
        if (sheetAt < 0)
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

    // The worksheet's BOF at the offset BOUNDSHEET gives, or a few bytes
    // from it: some writers get the offset slightly wrong, and LibreOffice
    // finds the sheet all the same. -1 when there is none.
    qint64 bofNear(qint64 at) const
    {
        constexpr qint64 kSlack = 16;
        if (at < 0)
            return -1;
        for (qint64 d = 0; d <= kSlack; ++d)
            for (const qint64 p : {at + d, at - d})
                if (p >= 0 && p + 8 <= m_s.size() && u16(m_s.constData() + p) == Rec::Bof) {
                    const quint16 size = u16(m_s.constData() + p + 2);
                    const quint16 version = u16(m_s.constData() + p + 4);
                    if ((size == 8 || size == 16) && (version == 0x0600 || version == 0x0500))
                        return p;
                }
        return -1;
    }

    // Past a substream inside the worksheet (an embedded chart's BOF … EOF,
    // whose cached series values would overwrite real cells).
    static void skipSubstream(Records &recs)
    {
        Record r;
        for (int depth = 1; depth > 0 && recs.next(&r);) {
            if (isBof(r.type))
                ++depth;
            else if (r.type == Rec::Eof)
                --depth;
        }
    }

    void readBof(const Record &r)
    {
        const quint16 version = r.size >= 2 ? u16(r.data) : 0;
        if (r.type != Rec::Bof || (version != 0x0600 && version != 0x0500))
            throw SheetError(SheetTexts::tooOld());
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
            if (isBof(r.type)) {
                skipSubstream(recs);
                continue;
            }
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
    // Excel 2.x-4.0 saved a worksheet as a bare BIFF stream, and a BIFF5 or
    // BIFF8 stream may be met outside its compound file too.
    const QByteArray stream = isBareBiff(bytes) ? bytes : workbookStream(bytes);
    try {
        if (stream.size() >= 2 && u16(stream.constData()) != Rec::Bof)
            return readOldBiffSheet(stream);
        return Workbook(stream).read();
    } catch (const std::bad_alloc &) {
        throw SheetError(SheetTexts::tooLarge());
    }
}
