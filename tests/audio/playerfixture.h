#pragma once
// The files the player suites open, made with ffmpeg in a temporary folder
// once per suite, and a player opened on one of them through mpv's null
// output (real time, no sound device needed).
#include "audiotestutil.h"
#include "fakes.h"
#include "mpvplayer.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class PlayerFixture : public QObject {
protected:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    std::unique_ptr<MpvPlayer> opened(const QString &name)
    {
        auto p = std::make_unique<MpvPlayer>(MpvPlayer::Output::Null);
        p->setFileName(path(name));
        openWaiting(*p);
        return p;
    }

    // tone2.* (two seconds) and tone1.* (one second, 660 Hz) in wav, mp3,
    // ogg and flac.
    void makeTones()
    {
        QVERIFY(m_dir.isValid());
        for (const char *ext : {"wav", "mp3", "ogg", "flac"}) {
            QVERIFY2(!makeTone(path(QStringLiteral("tone2.%1").arg(ext)), 2.0).isEmpty(), "ffmpeg");
            QVERIFY2(!makeTone(path(QStringLiteral("tone1.%1").arg(ext)), 1.0, 660).isEmpty(), "ffmpeg");
        }
    }

    // vbr.mp3, whose length the bitrate misleads, and cover.mp3 (a cover
    // picture, cover.png, in its tag). Needs makeTones().
    void makeOddMp3s()
    {
        // Three seconds of silence then three of noise, VBR, without the Xing
        // header: libavformat guesses the length from the first frame.
        QVERIFY(runFfmpeg({"-f", "lavfi", "-i",
                           "aevalsrc=0:d=3:s=44100[a];anoisesrc=d=3:a=0.5:r=44100[b];"
                           "[a][b]concat=n=2:v=0:a=1[out0]",
                           "-c:a", "libmp3lame", "-q:a", "0", "-write_xing", "0", path("vbr.mp3")}));

        // An mp3 with a large cover picture in its ID3 tag.
        QVERIFY(runFfmpeg({"-f", "lavfi", "-i", "nullsrc=s=700x700,geq=random(1)*255:128:128", "-frames:v", "1",
                           path("cover.png")}));
        QVERIFY(runFfmpeg({"-i", path("tone2.wav"), "-i", path("cover.png"), "-map", "0:a", "-map", "1:v",
                           "-c:a", "libmp3lame", "-c:v", "png", "-id3v2_version", "3", "-disposition:v",
                           "attached_pic", path("cover.mp3")}));
    }

    // long.mp3, forty minutes: positions far beyond what 32-bit products of
    // the old interface held.
    void makeLongMp3()
    {
        QVERIFY(runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=2400:sample_rate=8000",
                           "-b:a", "8k", path("long.mp3")}));
    }

    // Files no player may open (empty, text, cut off, a folder) and
    // tone10.ogg, cut for half.ogg. Needs makeTones().
    void makeBrokenFiles()
    {
        QVERIFY(writeBytes(path("empty.wav"), {}));
        QVERIFY(writeBytes(path("text.mp3"), "这不是声音。This is a text file named .mp3\nline two\n"));
        QVERIFY(!makeTone(path("tone10.ogg"), 10.0).isEmpty());
        for (const char *ext : {"wav", "mp3", "ogg", "flac"}) {
            const QString src = path(QString::fromLatin1(ext) == "ogg" ? QStringLiteral("tone10.ogg")
                                                                      : QStringLiteral("tone2.%1").arg(ext));
            QVERIFY(writePrefix(src, path(QStringLiteral("half.%1").arg(ext)), QFileInfo(src).size() / 2));
        }
        QVERIFY(writePrefix(path("tone2.wav"), path("headeronly.wav"), 44));
        QVERIFY(writePrefix(path("tone2.mp3"), path("stub.mp3"), 200));
        QVERIFY(QDir(m_dir.path()).mkdir("folder.mp3"));
    }
};
