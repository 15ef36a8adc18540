// Whether a wav, flac or ogg file ends before its header says it should (a
// copy that broke off half way), and which reader a file gets; mp3 has its
// own file (mp3facts.cpp). Read from the bytes by hand, since libmpv does
// not report a file cut short of its header.
#include "audiofilebytes.h"

#include <algorithm>

namespace AudioFileFacts {
namespace detail {

QString truncationText(double announced, double holds)
{
    return QStringLiteral("文件头标明 %1 秒的声音，文件只有 %2 秒")
        .arg(QString::number(announced, 'f', 1), QString::number(holds, 'f', 1));
}

bool clearlyShort(double announcedSec, double holdsSec)
{
    const double missing = announcedSec - holdsSec;
    return missing > announcedSec / 100.0 && missing > 0.1;
}

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

namespace {

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
} // namespace detail

using namespace detail;

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

} // namespace AudioFileFacts
