#pragma once
// What the player learns from an audio file's own bytes, beside what libmpv
// reports: the exact length of an mp3 (libavformat only estimates it from the
// bitrate when the file has no Xing/Info/VBRI header, and counts the encoder's
// delay and padding when it has one), and whether the file is cut short of
// what its header announces (a copy that broke off half way).
//
// Only cheap reads: the first and last few kilobytes, except for an mp3
// without a frame-count header, whose frame headers are walked once.
#include <QString>
#include <optional>

namespace AudioFileFacts {

struct Facts {
    // Set when the file's own data gives a better length than the
    // demuxer's estimate (mp3 only, for now), in milliseconds.
    std::optional<qint64> lengthMs;
    // True when the length above replaces an estimate from the bitrate.
    bool lengthWasEstimated = false;
    // Non-empty when the file ends well before its header says it should:
    // a short explanation for the operator ("文件头标明 2.0 秒的声音，文件只有
    // 1.0 秒").
    QString truncated;
};

// `format` is libmpv's file-format ("wav", "mp3", "flac", "ogg", ...);
// the kind of check is chosen from it and from the file's magic bytes.
Facts inspect(const QString &path, const QString &format);

// What a file's first bytes say it is, before any player sees it: the
// format's short name ("mp3", "wav", "flac", "ogg", "wma", "m4a", "aiff",
// "aac", "ape", "wavpack", "amr", "mka"), empty when it is not a sound file
// this program plays (a text file, a playlist, a picture). The length where
// the header tells it (mp3, wav, flac, ogg/vorbis/opus), so that the
// editor can fill in 时长 without opening a sound output.
struct Kind {
    QString format;
    std::optional<qint64> lengthMs;
};
Kind sniff(const QString &path);

// Exposed for tests: length of an mp3 file in samples and its sample rate,
// counted by walking every frame header (no Xing header needed).
struct Mp3Scan {
    qint64 frames = 0;
    qint64 samples = 0;
    int sampleRate = 0;
};
std::optional<Mp3Scan> scanMp3(const QString &path);

} // namespace AudioFileFacts
