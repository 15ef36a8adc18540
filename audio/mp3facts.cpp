// The mp3 reader: the length counted from the file's own frames, since
// libavformat only estimates it from the first frame's bitrate when the file
// has no Xing/Info/VBRI header (wrong for a VBR file) and counts the
// encoder's delay and padding when it has one; and whether the file holds
// fewer bytes than that header announces.
#include "audiofilebytes.h"

#include <algorithm>

namespace AudioFileFacts {
namespace detail {
namespace {

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

} // namespace

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

} // namespace detail

using namespace detail;

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
