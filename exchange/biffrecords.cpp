#include "biffrecords.h"

#include "sheetreader.h"

#include <cstring>

namespace Biff {

quint16 u16(const char *p) { return quint16(uchar(p[0]) | uchar(p[1]) << 8); }
quint32 u32(const char *p) { return quint32(u16(p)) | quint32(u16(p + 2)) << 16; }
double f64(const char *p)
{
    const quint64 bits = quint64(u32(p)) | quint64(u32(p + 4)) << 32;
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

bool Records::next(Record *r)
{
    if (m_pos < 0 || m_pos + 4 > m_s.size())
        return false;
    const char *p = m_s.constData() + m_pos;
    r->type = u16(p);
    r->size = u16(p + 2);
    if (m_pos + 4 + r->size > m_s.size())
        throw SheetError(SheetTexts::damaged());
    r->data = p + 4;
    m_pos += 4 + r->size;
    return true;
}

quint16 Records::peekType() const
{
    return m_pos >= 0 && m_pos + 4 <= m_s.size() ? u16(m_s.constData() + m_pos) : 0;
}

bool Pieces::skipEmpty()
{
    while (m_part < m_parts.size() && m_off >= m_parts[m_part].n) {
        ++m_part;
        m_off = 0;
    }
    return m_part < m_parts.size();
}

bool Pieces::bytes(char *out, int n)
{
    for (int i = 0; i < n; ++i) {
        if (!skipEmpty())
            return false;
        out[i] = m_parts[m_part].d[m_off++];
    }
    return true;
}

std::optional<quint16> Pieces::u16v()
{
    char b[2];
    return bytes(b, 2) ? std::optional<quint16>(u16(b)) : std::nullopt;
}

std::optional<quint32> Pieces::u32v()
{
    char b[4];
    return bytes(b, 4) ? std::optional<quint32>(u32(b)) : std::nullopt;
}

bool Pieces::skip(qint64 n)
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

std::optional<QString> Pieces::unicode(bool byteCount)
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
        if (m_part >= m_parts.size())
            return std::nullopt;
        const Part &p = m_parts[m_part];
        const int left = count - int(s.size());
        if (wide) {
            const int n = qMin(left, (p.n - m_off) / 2);
            if (n == 0) {
                // One odd byte before the boundary: no character, skipped
                // as LibreOffice does; the string goes on in the CONTINUE.
                m_off = p.n;
                continue;
            }
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

bool isBareBiff(const QByteArray &bytes)
{
    if (bytes.size() < 8)
        return false;
    const quint16 type = u16(bytes.constData()), size = u16(bytes.constData() + 2);
    switch (type) {
    case 0x0009: return size == 4;                  // BIFF2
    case 0x0209: case 0x0409: return size == 6;     // BIFF3, BIFF4
    case 0x0809: return size == 8 || size == 16;    // BIFF5, BIFF8
    default: return false;
    }
}

Pieces withContinues(const Record &first, Records &recs)
{
    Pieces p;
    p.add(first.data, first.size);
    Record r;
    while (recs.peekType() == kContinue && recs.next(&r))
        p.add(r.data, r.size);
    return p;
}

} // namespace Biff
