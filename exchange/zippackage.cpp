// Hand-written central-directory walk over zlib: Qt has no public zip
// reader, and the bounds must be checked before anything inflates.
#include "zippackage.h"

#include "sheetreader.h"

#include <vector>
#include <zlib.h>

namespace {

quint32 le32(const QByteArray &b, qint64 at)
{
    const auto *p = reinterpret_cast<const uchar *>(b.constData()) + at;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}
quint16 le16(const QByteArray &b, qint64 at)
{
    const auto *p = reinterpret_cast<const uchar *>(b.constData()) + at;
    return quint16(p[0] | p[1] << 8);
}

// Inflates a raw deflate stream into 'out' (when given) or just counts,
// stopping past 'budget'. Returns the size, or -1 for a broken stream.
qint64 inflateRaw(const char *data, qint64 size, qint64 budget, QByteArray *out)
{
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return -1;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    z.avail_in = uInt(size);
    std::vector<Bytef> buf(1 << 16);
    qint64 total = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = buf.data();
        z.avail_out = uInt(buf.size());
        rc = inflate(&z, Z_NO_FLUSH);
        const qint64 got = qint64(buf.size() - z.avail_out);
        total += got;
        if (total > budget)
            break;
        if (out)
            out->append(reinterpret_cast<const char *>(buf.data()), got);
        if (rc == Z_BUF_ERROR && z.avail_in == 0)
            break; // the member ends early
    }
    inflateEnd(&z);
    if (total > budget)
        return total;
    return rc == Z_STREAM_END ? total : -1;
}

} // namespace

ZipPackage::ZipPackage(const QByteArray &bytes) : m_bytes(bytes)
{
    const QByteArray &b = m_bytes;
    const qint64 n = b.size();
    if (n < 22)
        throw SheetError(SheetTexts::damaged());
    qint64 eocd = -1;
    for (qint64 at = n - 22; at >= qMax<qint64>(0, n - 22 - 65535); --at) {
        if (le32(b, at) == 0x06054b50) {
            eocd = at;
            break;
        }
    }
    if (eocd < 0)
        throw SheetError(SheetTexts::damaged());
    const int entries = le16(b, eocd + 10);
    const qint64 cdSize = le32(b, eocd + 12);
    const qint64 cdOffset = le32(b, eocd + 16);
    if (entries == 0xFFFF || cdOffset + cdSize > eocd || entries > 10000)
        throw SheetError(SheetTexts::damaged());

    qint64 declared = 0;
    qint64 at = cdOffset;
    for (int e = 0; e < entries; ++e) {
        if (at + 46 > eocd || le32(b, at) != 0x02014b50)
            throw SheetError(SheetTexts::damaged());
        Entry entry;
        entry.method = le16(b, at + 10);
        entry.packed = le32(b, at + 20);
        entry.unpacked = le32(b, at + 24);
        const qint64 nameLen = le16(b, at + 28), extraLen = le16(b, at + 30),
                     commentLen = le16(b, at + 32);
        const qint64 local = le32(b, at + 42);
        if (at + 46 + nameLen > eocd)
            throw SheetError(SheetTexts::damaged());
        const QString name = QString::fromUtf8(b.constData() + at + 46, nameLen);
        at += 46 + nameLen + extraLen + commentLen;

        declared += entry.unpacked;
        if (declared > SheetLimits::kMaxUnpackedBytes)
            throw SheetError(SheetTexts::tooLarge());
        if (local + 30 > n || le32(b, local) != 0x04034b50)
            throw SheetError(SheetTexts::damaged());
        entry.data = local + 30 + le16(b, local + 26) + le16(b, local + 28);
        if (entry.data + entry.packed > n || (entry.method != 0 && entry.method != 8))
            throw SheetError(SheetTexts::damaged());
        m_entries.insert(name, entry);
        m_folded.insert(name.toCaseFolded(), name);
    }
}

const ZipPackage::Entry *ZipPackage::find(const QString &name) const
{
    auto it = m_entries.constFind(name);
    if (it == m_entries.constEnd()) {
        // OPC compares part names without regard to case: a relationship
        // to sharedStrings.xml names xl/SharedStrings.xml as well.
        const auto folded = m_folded.constFind(name.toCaseFolded());
        if (folded == m_folded.constEnd())
            return nullptr;
        it = m_entries.constFind(*folded);
    }
    return &*it;
}

void ZipPackage::checkBounds()
{
    qint64 actual = 0;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        const Entry &e = *it;
        qint64 got = e.packed;
        if (e.method != 0) {
            QByteArray out;
            out.reserve(qMin(e.unpacked, SheetLimits::kMaxUnpackedBytes - actual));
            got = inflateRaw(m_bytes.constData() + e.data, e.packed, SheetLimits::kMaxUnpackedBytes - actual, &out);
            if (got >= 0 && actual + got <= SheetLimits::kMaxUnpackedBytes)
                m_inflated.insert(&e, out);
        }
        if (got < 0)
            throw SheetError(SheetTexts::damaged());
        actual += got;
        if (actual > SheetLimits::kMaxUnpackedBytes)
            throw SheetError(SheetTexts::tooLarge());
    }
}

QByteArray ZipPackage::part(const QString &name) const
{
    const Entry *it = find(name);
    if (!it)
        return {};
    if (it->method == 0)
        return m_bytes.mid(it->data, it->packed);
    if (const auto kept = m_inflated.constFind(it); kept != m_inflated.constEnd())
        return *kept;
    QByteArray out;
    const qint64 got = inflateRaw(m_bytes.constData() + it->data, it->packed,
                                  SheetLimits::kMaxUnpackedBytes, &out);
    if (got < 0)
        throw SheetError(SheetTexts::damaged());
    if (got > SheetLimits::kMaxUnpackedBytes)
        throw SheetError(SheetTexts::tooLarge());
    return out;
}
