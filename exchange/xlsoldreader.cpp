// Excel 2.x, 3.0 and 4.0 worksheets (BIFF2, BIFF3, BIFF4): a bare record
// stream holding one sheet, its strings bytes in the file's code page.
// Written by hand beside the BIFF5/8 reader because no packaged library
// reads them and their cells are a handful of record kinds; every length
// is checked against the bytes that are there, as there.
#include "biffrecords.h"
#include "numberformats.h"
#include "sheetreader.h"

#include <QDate>
#include <QStringDecoder>
#include <vector>

namespace Biff {

namespace {

namespace Old {
constexpr quint16 Blank2 = 0x0001, Integer2 = 0x0002, Number2 = 0x0003, Label2 = 0x0004,
                  BoolErr2 = 0x0005, Formula2 = 0x0006, String2 = 0x0007, Eof = 0x000A,
                  Format = 0x001E, Format4 = 0x041E, DateMode = 0x0022, FilePass = 0x002F,
                  CodePage = 0x0042, Xf2 = 0x0043, Ixfe = 0x0044, Number = 0x0203,
                  Label = 0x0204, BoolErr = 0x0205, Formula3 = 0x0206, Formula4 = 0x0406,
                  String = 0x0207, Rk = 0x027E, Xf3 = 0x0243, Xf4 = 0x0443, Bof2 = 0x0009,
                  Bof3 = 0x0209, Bof4 = 0x0409;
}

class OldSheet {
public:
    explicit OldSheet(const QByteArray &s) : m_s(s) {}

    SheetData read()
    {
        Records recs(m_s, 0);
        Record r;
        if (!recs.next(&r) || r.size < 4)
            throw SheetError(SheetTexts::damaged());
        m_biff2 = r.type == Old::Bof2;
        // A BIFF4 workbook (several sheets in one stream) or a chart or
        // macro sheet: not a worksheet of bells.
        if ((r.type != Old::Bof2 && r.type != Old::Bof3 && r.type != Old::Bof4) || u16(r.data + 2) != 0x0010)
            throw SheetError(SheetTexts::tooOld());
        SheetData data;
        int pendingRow = -1, pendingCol = -1;
        while (recs.next(&r)) {
            const char *d = r.data;
            const int n = r.size;
            const int row = n >= 4 ? u16(d) : 0, col = n >= 4 ? u16(d + 2) : 0;
            // BIFF2 cells carry 3 attribute bytes, later ones a 16-bit XF.
            const int head = m_biff2 ? 7 : 6;
            switch (r.type) {
            case Old::Eof: return data;
            case Old::FilePass: throw SheetError(SheetTexts::encrypted());
            case Old::CodePage:
                if (n >= 2)
                    setCodePage(u16(d));
                break;
            case Old::DateMode:
                if (n >= 2 && u16(d) == 1)
                    m_origin = QDate(1904, 1, 1);
                break;
            case Old::Format:
            case Old::Format4: {
                // Formats are numbered in the order they come.
                const int skip = r.type == Old::Format4 ? 2 : 0;
                const auto code = byteString(d + skip, n - skip, 1);
                m_formats.push_back(code && isDateFormatCode(code->toStdString()));
                break;
            }
            case Old::Xf2:
                if (n >= 3)
                    m_xfFormats.push_back(uchar(d[2]) & 0x3F);
                break;
            case Old::Xf3:
            case Old::Xf4:
                if (n >= 2)
                    m_xfFormats.push_back(uchar(d[1]));
                break;
            case Old::Ixfe:
                if (n >= 2)
                    m_ixfe = u16(d);
                break;
            case Old::Integer2:
                if (n < 9)
                    throw SheetError(SheetTexts::damaged());
                data.set(row, col, number(u16(d + 7), d));
                break;
            case Old::Number2:
            case Old::Number:
                if (n < head + 8)
                    throw SheetError(SheetTexts::damaged());
                data.set(row, col, number(f64(d + head), d));
                break;
            case Old::Rk:
                if (n < 10)
                    throw SheetError(SheetTexts::damaged());
                data.set(row, col, number(rkValue(u32(d + 6)), d));
                break;
            case Old::Label2:
            case Old::Label: {
                const auto s = byteString(d + head, n - head, m_biff2 ? 1 : 2);
                if (!s)
                    throw SheetError(SheetTexts::damaged());
                data.set(row, col, *s);
                break;
            }
            case Old::BoolErr2:
            case Old::BoolErr:
                if (n < head + 2)
                    throw SheetError(SheetTexts::damaged());
                if (d[head + 1] == 0)
                    data.set(row, col, d[head] ? QStringLiteral("True") : QStringLiteral("False"));
                break;
            case Old::Formula2:
            case Old::Formula3:
            case Old::Formula4: {
                if (n < head + 8)
                    throw SheetError(SheetTexts::damaged());
                const char *res = d + head;
                pendingRow = -1;
                if (r.type == Old::Formula2 || uchar(res[6]) != 0xFF || uchar(res[7]) != 0xFF) {
                    data.set(row, col, number(f64(res), d));
                } else if (res[0] == 0) { // a text result: its STRING record follows
                    pendingRow = row;
                    pendingCol = col;
                } else if (res[0] == 1) {
                    data.set(row, col, res[2] ? QStringLiteral("True") : QStringLiteral("False"));
                }
                break;
            }
            case Old::String2:
            case Old::String: {
                if (pendingRow < 0)
                    break;
                const auto s = byteString(d, n, r.type == Old::String2 ? 1 : 2);
                if (!s)
                    throw SheetError(SheetTexts::damaged());
                data.set(pendingRow, pendingCol, *s);
                pendingRow = -1;
                break;
            }
            default: break;
            }
        }
        return data; // no EOF: the cells up to the end of the stream
    }

private:
    void setCodePage(quint16 cp)
    {
        if (cp == m_codePage)
            return; // a file may repeat the record; looking a codec up is slow
        m_codePage = cp;
        const QByteArray name = cp == 936 ? QByteArray("GB18030")
                                : cp == 950 ? QByteArray("Big5")
                                : cp == 0x8000 ? QByteArray("macintosh")
                                : "windows-" + QByteArray::number(cp);
        QStringDecoder d(name.constData(), QStringDecoder::Flag::Stateless);
        if (d.isValid())
            m_decoder = std::move(d);
    }

    // A count of 'countBytes' bytes, then that many bytes of text.
    std::optional<QString> byteString(const char *d, int n, int countBytes) const
    {
        if (n < countBytes)
            return std::nullopt;
        const int len = countBytes == 1 ? uchar(d[0]) : u16(d);
        if (len > n - countBytes)
            return std::nullopt;
        const QByteArrayView bytes(d + countBytes, len);
        if (!m_decoder.isValid())
            return QString::fromLatin1(bytes);
        return QString(m_decoder.decode(bytes));
    }

    // The number format of a cell: BIFF2 names it in the cell's attribute
    // bytes (or through IXFE), later versions through the cell's XF.
    int formatOf(const char *cell) const
    {
        if (m_biff2) {
            if ((uchar(cell[4]) & 0x3F) == 63)
                return m_ixfe < m_xfFormats.size() ? m_xfFormats[m_ixfe] : -1;
            return uchar(cell[5]) & 0x3F;
        }
        const quint16 xf = u16(cell + 4);
        return xf < m_xfFormats.size() ? m_xfFormats[xf] : -1;
    }

    QString number(double v, const char *cell) const
    {
        const int f = formatOf(cell);
        const bool date = f >= 0 && (size_t(f) < m_formats.size() ? m_formats[size_t(f)] : isBuiltinDateFormat(size_t(f)));
        return date ? dateSerialText(v, m_origin) : numberText(v);
    }

    const QByteArray &m_s;
    bool m_biff2 = false;
    int m_codePage = -1;
    mutable QStringDecoder m_decoder; // none: Latin-1
    QDate m_origin{1899, 12, 30};
    std::vector<bool> m_formats;    // by format index: a date or time
    std::vector<int> m_xfFormats;   // by XF: its format index
    quint16 m_ixfe = 0;
};

} // namespace

SheetData readOldBiffSheet(const QByteArray &stream)
{
    return OldSheet(stream).read();
}

} // namespace Biff
