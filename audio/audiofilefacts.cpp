#include "audiofilefacts.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cstring>

namespace AudioFileFacts {
namespace {

// A read-only view of the whole file (memory-mapped: only the pages touched
// are read).
class Bytes {
public:
    explicit Bytes(const QString &path) : m_file(path)
    {
        if (!m_file.open(QIODevice::ReadOnly))
            return;
        m_size = m_file.size();
        if (m_size > 0)
            m_data = m_file.map(0, m_size);
        if (!m_data)
            m_size = 0;
    }
    const uchar *data() const { return m_data; }
    qint64 size() const { return m_size; }
    bool has(qint64 pos, qint64 n) const { return pos >= 0 && n >= 0 && pos + n <= m_size; }
    const uchar *at(qint64 pos) const { return m_data + pos; }
    bool matches(qint64 pos, const char *magic) const
    {
        const qint64 n = qint64(std::strlen(magic));
        return has(pos, n) && std::memcmp(m_data + pos, magic, size_t(n)) == 0;
    }

private:
    QFile m_file;
    uchar *m_data = nullptr;
    qint64 m_size = 0;
};

quint32 be32(const uchar *p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }
quint32 le32(const uchar *p) { return quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0]; }

QString truncationText(double announced, double holds)
{
    return QStringLiteral("文件头标明 %1 秒的声音，文件只有 %2 秒")
        .arg(QString::number(announced, 'f', 1), QString::number(holds, 'f', 1));
}

// A file counts as cut short only when a noticeable part is missing: more
// than 1 % of what was announced and more than 100 ms. Files whose last
// frame is slightly damaged still play.
bool clearlyShort(double announcedSec, double holdsSec)
{
    const double missing = announcedSec - holdsSec;
    return missing > announcedSec / 100.0 && missing > 0.1;
}

// Size of the ID3v2 tags at the start (there may be several), 0 if none.
qint64 skipId3v2(const Bytes &b)
{
    qint64 pos = 0;
    while (b.matches(pos, "ID3") && b.has(pos, 10)) {
        const uchar *p = b.at(pos);
        const qint64 size = qint64(p[6] & 0x7f) << 21 | qint64(p[7] & 0x7f) << 14
                            | qint64(p[8] & 0x7f) << 7 | qint64(p[9] & 0x7f);
        pos += 10 + size + ((p[5] & 0x10) ? 10 : 0);
    }
    return pos;
}

// ---------------------------------------------------------------- mp3

struct FrameHeader {
    int version = 1; // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int layer = 3;
    int sampleRate = 0;
    bool mono = false;
    int length = 0;          // bytes, header included
    int samplesPerFrame = 0;
};

std::optional<FrameHeader> frameHeader(const uchar *p)
{
    if (p[0] != 0xff || (p[1] & 0xe0) != 0xe0)
        return std::nullopt;
    const int verBits = (p[1] >> 3) & 3, layerBits = (p[1] >> 1) & 3;
    const int brIndex = p[2] >> 4, srIndex = (p[2] >> 2) & 3;
    if (verBits == 1 || layerBits == 0 || brIndex == 0 || brIndex == 15 || srIndex == 3)
        return std::nullopt;
    FrameHeader h;
    h.version = verBits == 3 ? 1 : verBits == 2 ? 2 : 25;
    h.layer = 4 - layerBits;
    static const int rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    h.sampleRate = rates[h.version == 1 ? 0 : h.version == 2 ? 1 : 2][srIndex];
    static const int kbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // V1 L1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // V1 L2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // V1 L3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // V2 L1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // V2 L2, L3
    };
    const int table = h.version == 1 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
    const int bitrate = kbps[table][brIndex] * 1000;
    const int padding = (p[2] >> 1) & 1;
    h.mono = (p[3] >> 6) == 3;
    if (h.layer == 1) {
        h.length = (12 * bitrate / h.sampleRate + padding) * 4;
        h.samplesPerFrame = 384;
    } else if (h.layer == 2 || h.version == 1) {
        h.length = 144 * bitrate / h.sampleRate + padding;
        h.samplesPerFrame = 1152;
    } else {
        h.length = 72 * bitrate / h.sampleRate + padding;
        h.samplesPerFrame = 576;
    }
    if (h.length < 21)
        return std::nullopt;
    return h;
}

bool sameStream(const FrameHeader &a, const FrameHeader &b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

// First frame at or after `from` that is followed by another frame of the
// same stream (or by the end of the file), so that a stray sync pattern in a
// tag is not taken for audio.
qint64 firstFrame(const Bytes &b, qint64 from, FrameHeader *out)
{
    const qint64 limit = std::min(b.size() - 4, from + 256 * 1024);
    for (qint64 pos = from; pos <= limit; ++pos) {
        auto h = frameHeader(b.at(pos));
        if (!h)
            continue;
        const qint64 next = pos + h->length;
        bool confirmed = next == b.size();
        if (!confirmed && b.has(next, 4)) {
            auto n = frameHeader(b.at(next));
            confirmed = n && sameStream(*h, *n);
        }
        if (confirmed) {
            *out = *h;
            return pos;
        }
    }
    return -1;
}

bool isTrailerTag(const Bytes &b, qint64 pos)
{
    return b.matches(pos, "TAG") || b.matches(pos, "APETAGEX") || b.matches(pos, "LYRICS");
}

// Walks the frames from `pos` to the end of the file.
Mp3Scan walkFrames(const Bytes &b, qint64 pos, const FrameHeader &first)
{
    Mp3Scan s;
    s.sampleRate = first.sampleRate;
    while (b.has(pos, 4)) {
        auto h = frameHeader(b.at(pos));
        if (h && sameStream(*h, first)) {
            if (!b.has(pos, h->length)) {
                // The last frame is cut: the decoder still gets part of it.
                break;
            }
            ++s.frames;
            s.samples += h->samplesPerFrame;
            pos += h->length;
            continue;
        }
        if (isTrailerTag(b, pos))
            break;
        ++pos; // junk between frames: look for the next header
    }
    return s;
}

struct InfoTag {
    bool found = false;
    std::optional<quint32> frames, bytes;
    int encoderDelay = 0, encoderPadding = 0; // from a LAME/Lavf/Lavc tag
};

InfoTag infoTag(const Bytes &b, qint64 framePos, const FrameHeader &h)
{
    InfoTag t;
    if (h.layer != 3)
        return t;
    const int sideInfo = h.version == 1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17);
    qint64 pos = framePos + 4 + sideInfo;
    const qint64 frameEnd = framePos + h.length;
    if (b.matches(pos, "Xing") || b.matches(pos, "Info")) {
        if (!b.has(pos, 8))
            return t;
        t.found = true;
        const quint32 flags = be32(b.at(pos + 4));
        pos += 8;
        if ((flags & 1) && b.has(pos, 4)) {
            t.frames = be32(b.at(pos));
            pos += 4;
        }
        if ((flags & 2) && b.has(pos, 4)) {
            t.bytes = be32(b.at(pos));
            pos += 4;
        }
        if (flags & 4)
            pos += 100;
        if (flags & 8)
            pos += 4;
        // The encoder tag: 9 bytes of version, then delay and padding at 21.
        if (pos + 24 <= frameEnd && b.has(pos, 24)
            && (b.matches(pos, "LAME") || b.matches(pos, "Lavf") || b.matches(pos, "Lavc"))) {
            const uchar *p = b.at(pos + 21);
            const quint32 v = quint32(p[0]) << 16 | quint32(p[1]) << 8 | p[2];
            t.encoderDelay = int(v >> 12);
            t.encoderPadding = int(v & 0xfff);
        }
        return t;
    }
    pos = framePos + 4 + 32;
    if (b.matches(pos, "VBRI") && b.has(pos, 18)) {
        t.found = true;
        t.bytes = be32(b.at(pos + 10));
        t.frames = be32(b.at(pos + 14));
    }
    return t;
}

void inspectMp3(const Bytes &b, Facts &f)
{
    FrameHeader h;
    const qint64 pos = firstFrame(b, skipId3v2(b), &h);
    if (pos < 0)
        return;
    const InfoTag tag = infoTag(b, pos, h);
    qint64 samples = 0;
    if (tag.found && tag.frames && *tag.frames > 0) {
        samples = qint64(*tag.frames) * h.samplesPerFrame - tag.encoderDelay - tag.encoderPadding;
    } else {
        // No frame count: libavformat estimates the length from the first
        // frame's bitrate, which is wrong for a VBR file. Count the frames.
        const qint64 from = tag.found ? pos + h.length : pos;
        samples = walkFrames(b, from, h).samples;
        f.lengthWasEstimated = true;
    }
    if (samples <= 0)
        return;
    f.lengthMs = (samples * 1000 + h.sampleRate / 2) / h.sampleRate;
    if (tag.found && tag.bytes && *tag.bytes > 0) {
        const double announced = double(samples) / h.sampleRate;
        const double present = double(b.size() - pos);
        const double holds = announced * std::min(1.0, present / double(*tag.bytes));
        if (clearlyShort(announced, holds))
            f.truncated = truncationText(announced, holds);
    }
}

// ---------------------------------------------------------------- wav

void inspectWav(const Bytes &b, Facts &f)
{
    quint32 byteRate = 0;
    qint64 pos = 12;
    while (b.has(pos, 8)) {
        const quint32 size = le32(b.at(pos + 4));
        if (b.matches(pos, "fmt ") && b.has(pos + 8, 12)) {
            byteRate = le32(b.at(pos + 8 + 8));
        } else if (b.matches(pos, "data")) {
            if (size == 0 || size == 0xffffffffu || byteRate == 0)
                return; // written as a stream: the size is unknown
            const qint64 present = b.size() - (pos + 8);
            const double announced = double(size) / byteRate;
            const double holds = double(std::min<qint64>(present, size)) / byteRate;
            if (clearlyShort(announced, holds))
                f.truncated = truncationText(announced, holds);
            return;
        }
        pos += 8 + qint64(size) + (size & 1);
    }
}

// ---------------------------------------------------------------- flac

quint8 crc8(const uchar *p, int n)
{
    quint8 crc = 0;
    for (int i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x80) ? quint8((crc << 1) ^ 0x07) : quint8(crc << 1);
    }
    return crc;
}

struct FlacFrame {
    bool variable = false;
    quint64 number = 0;  // frame number (fixed blocking) or first sample
    int blockSize = 0;
};

std::optional<FlacFrame> flacFrame(const Bytes &b, qint64 pos)
{
    if (!b.has(pos, 16))
        return std::nullopt;
    const uchar *p = b.at(pos);
    if (p[0] != 0xff || (p[1] & 0xfe) != 0xf8)
        return std::nullopt;
    const int bsCode = p[2] >> 4, srCode = p[2] & 0x0f, ch = p[3] >> 4;
    if (bsCode == 0 || srCode == 15 || ch > 10 || (p[3] & 1))
        return std::nullopt;
    FlacFrame fr;
    fr.variable = p[1] & 1;
    int i = 4;
    // UTF-8-like coded number, up to 7 bytes.
    int extra = 0;
    quint64 v = p[i];
    if (v < 0x80) {
        extra = 0;
    } else if ((v & 0xe0) == 0xc0) {
        extra = 1, v &= 0x1f;
    } else if ((v & 0xf0) == 0xe0) {
        extra = 2, v &= 0x0f;
    } else if ((v & 0xf8) == 0xf0) {
        extra = 3, v &= 0x07;
    } else if ((v & 0xfc) == 0xf8) {
        extra = 4, v &= 0x03;
    } else if ((v & 0xfe) == 0xfc) {
        extra = 5, v &= 0x01;
    } else if (v == 0xfe) {
        extra = 6, v = 0;
    } else {
        return std::nullopt;
    }
    ++i;
    for (int k = 0; k < extra; ++k, ++i) {
        if ((p[i] & 0xc0) != 0x80)
            return std::nullopt;
        v = (v << 6) | (p[i] & 0x3f);
    }
    fr.number = v;
    if (bsCode == 1)
        fr.blockSize = 192;
    else if (bsCode <= 5)
        fr.blockSize = 576 << (bsCode - 2);
    else if (bsCode == 6)
        fr.blockSize = p[i++] + 1;
    else if (bsCode == 7) {
        fr.blockSize = (p[i] << 8 | p[i + 1]) + 1;
        i += 2;
    } else
        fr.blockSize = 256 << (bsCode - 8);
    if (srCode == 12)
        i += 1;
    else if (srCode == 13 || srCode == 14)
        i += 2;
    if (crc8(p, i) != p[i])
        return std::nullopt;
    return fr;
}

void inspectFlac(const Bytes &b, qint64 start, Facts &f)
{
    // STREAMINFO is the first metadata block.
    const qint64 si = start + 4 + 4;
    if (!b.has(si, 34) || (b.at(start + 4)[0] & 0x7f) != 0)
        return;
    const uchar *p = b.at(si);
    const int maxBlock = p[2] << 8 | p[3];
    const int rate = p[10] << 12 | p[11] << 4 | p[12] >> 4;
    const quint64 total = quint64(p[13] & 0x0f) << 32 | quint64(be32(p + 14));
    if (total == 0 || rate == 0 || maxBlock == 0)
        return;
    // Skip the metadata blocks to find where the audio frames begin.
    qint64 pos = start + 4;
    while (b.has(pos, 4)) {
        const uchar *h = b.at(pos);
        const qint64 len = qint64(h[1]) << 16 | qint64(h[2]) << 8 | h[3];
        pos += 4 + len;
        if (h[0] & 0x80)
            break;
    }
    const qint64 audioStart = pos;
    // The last valid frame header in the file's tail says how far it goes.
    const qint64 tailFrom = std::max(audioStart, b.size() - 512 * 1024);
    for (qint64 q = b.size() - 16; q >= tailFrom; --q) {
        auto fr = flacFrame(b, q);
        if (!fr)
            continue;
        const quint64 first = fr->variable ? fr->number : fr->number * quint64(maxBlock);
        const quint64 end = first + quint64(fr->blockSize);
        const double announced = double(total) / rate;
        const double holds = double(std::min(end, total)) / rate;
        if (clearlyShort(announced, holds))
            f.truncated = truncationText(announced, holds);
        return;
    }
}

// ---------------------------------------------------------------- ogg

void inspectOgg(const Bytes &b, Facts &f)
{
    if (!b.has(0, 27))
        return;
    const quint32 serial = le32(b.at(14));
    const qint64 tailFrom = std::max<qint64>(0, b.size() - 256 * 1024);
    for (qint64 q = b.size() - 4; q >= tailFrom; --q) {
        if (!b.matches(q, "OggS"))
            continue;
        if (!b.has(q, 27)) {
            f.truncated = QStringLiteral("最后一页被截断");
            return;
        }
        const uchar *p = b.at(q);
        if (p[4] != 0 || le32(p + 14) != serial)
            continue; // a pattern inside data, or another stream
        const int segments = p[26];
        if (!b.has(q + 27, segments)) {
            f.truncated = QStringLiteral("最后一页被截断");
            return;
        }
        qint64 body = 0;
        for (int s = 0; s < segments; ++s)
            body += p[27 + s];
        if (!b.has(q + 27 + segments, body))
            f.truncated = QStringLiteral("最后一页被截断");
        return;
    }
}

} // namespace

Facts inspect(const QString &path, const QString &format)
{
    Facts f;
    Bytes b(path);
    if (b.size() <= 0)
        return f;
    if (b.matches(0, "RIFF") && b.matches(8, "WAVE")) {
        inspectWav(b, f);
    } else if (b.matches(0, "OggS")) {
        inspectOgg(b, f);
    } else {
        const qint64 afterTags = skipId3v2(b);
        if (b.matches(afterTags, "fLaC"))
            inspectFlac(b, afterTags, f);
        else if (format.compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0)
            inspectMp3(b, f);
    }
    return f;
}

std::optional<Mp3Scan> scanMp3(const QString &path)
{
    Bytes b(path);
    FrameHeader h;
    const qint64 pos = firstFrame(b, skipId3v2(b), &h);
    if (pos < 0)
        return std::nullopt;
    const InfoTag tag = infoTag(b, pos, h);
    return walkFrames(b, tag.found ? pos + h.length : pos, h);
}

} // namespace AudioFileFacts
