// The sound formats a school's files come in, told from their first bytes
// (AudioFileFacts::sniff). Written here rather than asking libavformat:
// libavformat also "recognises" playlists, EDL and HLS text, which are
// exactly what must never reach the player, and probing with it would
// need libmpv's core and its threads just to look at a file.
#include "audiofilefacts.h"

#include <QFile>
#include <cstring>
#include <limits>

namespace AudioFileFacts {
namespace {

quint32 be32(const uchar *p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }
quint32 le32(const uchar *p) { return quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0]; }
quint64 le64(const uchar *p) { return quint64(le32(p + 4)) << 32 | le32(p); }

bool at(const QByteArray &b, qint64 pos, const char *magic, qint64 n = -1)
{
    if (n < 0)
        n = qint64(std::strlen(magic));
    return pos >= 0 && pos + n <= b.size() && std::memcmp(b.constData() + pos, magic, size_t(n)) == 0;
}

const uchar *u(const QByteArray &b, qint64 pos) { return reinterpret_cast<const uchar *>(b.constData()) + pos; }

qint64 id3Size(const QByteArray &b)
{
    qint64 pos = 0;
    while (at(b, pos, "ID3") && pos + 10 <= b.size()) {
        const uchar *p = u(b, pos);
        pos += 10 + (qint64(p[6] & 0x7f) << 21 | qint64(p[7] & 0x7f) << 14 | qint64(p[8] & 0x7f) << 7
                     | qint64(p[9] & 0x7f))
               + ((p[5] & 0x10) ? 10 : 0);
    }
    return pos;
}

std::optional<qint64> wavLength(const QByteArray &b)
{
    quint32 byteRate = 0;
    qint64 pos = 12;
    while (pos + 8 <= b.size()) {
        const quint32 size = le32(u(b, pos + 4));
        if (at(b, pos, "fmt ") && pos + 20 <= b.size())
            byteRate = le32(u(b, pos + 16));
        else if (at(b, pos, "data"))
            return (byteRate && size && size != 0xffffffffu)
                       ? std::optional<qint64>(qint64(size) * 1000 / byteRate)
                       : std::nullopt;
        pos += 8 + qint64(size) + (size & 1);
    }
    return std::nullopt;
}

std::optional<qint64> flacLength(const QByteArray &b, qint64 start)
{
    const qint64 si = start + 8;
    if (si + 18 > b.size())
        return std::nullopt;
    const uchar *p = u(b, si);
    const quint32 rate = quint32(p[10]) << 12 | quint32(p[11]) << 4 | p[12] >> 4;
    const quint64 total = quint64(p[13] & 0x0f) << 32 | be32(p + 14);
    if (!rate || !total)
        return std::nullopt;
    return qint64(total * 1000 / rate);
}

// Vorbis or Opus in Ogg: the sample rate from the first packet, the length
// from the granule position of the stream's last page.
std::optional<qint64> oggLength(const QString &path, const QByteArray &head)
{
    if (head.size() < 28 + 16)
        return std::nullopt;
    const qint64 body = 27 + u(head, 26)[0];
    quint32 rate = 0;
    qint64 preSkip = 0;
    if (at(head, body, "\x01vorbis", 7) && body + 16 <= head.size())
        rate = le32(u(head, body + 12));
    else if (at(head, body, "OpusHead") && body + 12 <= head.size()) {
        rate = 48000;
        preSkip = u(head, body + 10)[0] | u(head, body + 11)[0] << 8;
    }
    if (!rate)
        return std::nullopt;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 tailFrom = std::max<qint64>(0, f.size() - 64 * 1024);
    f.seek(tailFrom);
    const QByteArray tail = f.readAll();
    const quint32 serial = le32(u(head, 14));
    for (qint64 q = tail.size() - 27; q >= 0; --q) {
        if (!at(tail, q, "OggS") || le32(u(tail, q + 14)) != serial)
            continue;
        const qint64 granule = qint64(le64(u(tail, q + 6)));
        if (granule <= preSkip)
            return std::nullopt;
        // The granule is whatever the file says: split before scaling, so
        // that a damaged one cannot overflow the milliseconds.
        const qint64 samples = granule - preSkip;
        if (samples / rate > std::numeric_limits<qint64>::max() / 1000 - 1)
            return std::nullopt;
        return samples / rate * 1000 + samples % rate * 1000 / rate;
    }
    return std::nullopt;
}

// AAC in ADTS frames, two in a row.
bool isAdts(const QByteArray &b, qint64 pos)
{
    for (int n = 0; n < 2; ++n) {
        if (pos + 7 > b.size())
            return n > 0 && pos == b.size();
        const uchar *p = u(b, pos);
        if (p[0] != 0xff || (p[1] & 0xf6) != 0xf0)
            return false;
        const qint64 len = qint64(p[3] & 3) << 11 | qint64(p[4]) << 3 | p[5] >> 5;
        if (len < 7)
            return false;
        pos += len;
    }
    return true;
}

} // namespace

Kind sniff(const QString &path)
{
    Kind k;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return k;
    const QByteArray b = f.read(256 * 1024);
    f.close();
    static const char asf[] = "\x30\x26\xb2\x75\x8e\x66\xcf\x11\xa6\xd9\x00\xaa\x00\x62\xce\x6c";
    if ((at(b, 0, "RIFF") || at(b, 0, "RF64")) && at(b, 8, "WAVE")) {
        k.format = QStringLiteral("wav");
        if (at(b, 0, "RIFF"))
            k.lengthMs = wavLength(b);
    } else if (at(b, 0, "OggS")) {
        k.format = QStringLiteral("ogg");
        k.lengthMs = oggLength(path, b);
    } else if (at(b, 0, asf, 16)) {
        k.format = QStringLiteral("wma");
    } else if (at(b, 4, "ftyp")) {
        k.format = QStringLiteral("m4a");
    } else if (at(b, 0, "FORM") && (at(b, 8, "AIFF") || at(b, 8, "AIFC"))) {
        k.format = QStringLiteral("aiff");
    } else if (at(b, 0, "MAC ")) {
        k.format = QStringLiteral("ape");
    } else if (at(b, 0, "wvpk")) {
        k.format = QStringLiteral("wavpack");
    } else if (at(b, 0, "#!AMR")) {
        k.format = QStringLiteral("amr");
    } else if (at(b, 0, "\x1a\x45\xdf\xa3", 4)) {
        k.format = QStringLiteral("mka");
    } else {
        const qint64 afterTags = id3Size(b);
        if (at(b, afterTags, "fLaC")) {
            k.format = QStringLiteral("flac");
            k.lengthMs = flacLength(b, afterTags);
        } else if (isAdts(b, afterTags)) {
            k.format = QStringLiteral("aac");
        } else if (const Facts mp3 = inspect(path, QStringLiteral("mp3")); mp3.lengthMs) {
            // Two frames of one stream in a row (or one that fills the file).
            k.format = QStringLiteral("mp3");
            k.lengthMs = mp3.lengthMs;
        }
    }
    return k;
}

} // namespace AudioFileFacts
