// The libmpv player on real files made at test time, through mpv's null
// output (real time, no sound device needed).
#include "audiofilefacts.h"
#include "audiotestutil.h"
#include "fakes.h"
#include "mpvplayer.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using Mode = AudioPlayer::Mode;

class PlayerTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    std::unique_ptr<MpvPlayer> opened(const QString &name)
    {
        auto p = std::make_unique<MpvPlayer>(MpvPlayer::Output::Null);
        p->setFileName(path(name));
        openWaiting(*p);
        return p;
    }
    static QString noDevice() { return QString::fromLatin1(kNoDeviceOpen); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (const char *ext : {"wav", "mp3", "ogg", "flac"}) {
            QVERIFY2(!makeTone(path(QStringLiteral("tone2.%1").arg(ext)), 2.0).isEmpty(), "ffmpeg");
            QVERIFY2(!makeTone(path(QStringLiteral("tone1.%1").arg(ext)), 1.0, 660).isEmpty(), "ffmpeg");
        }
        // Three seconds of silence then three of noise, VBR, without the Xing
        // header: libavformat guesses the length from the first frame.
        QVERIFY(runFfmpeg({"-f", "lavfi", "-i",
                           "aevalsrc=0:d=3:s=44100[a];anoisesrc=d=3:a=0.5:r=44100[b];"
                           "[a][b]concat=n=2:v=0:a=1[out0]",
                           "-c:a", "libmp3lame", "-q:a", "0", "-write_xing", "0", path("vbr.mp3")}));
        // Forty minutes: positions far beyond what 32-bit products of the
        // old interface held.
        QVERIFY(runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=2400:sample_rate=8000",
                           "-b:a", "8k", path("long.mp3")}));

        // An mp3 with a large cover picture in its ID3 tag.
        QVERIFY(runFfmpeg({"-f", "lavfi", "-i", "nullsrc=s=700x700,geq=random(1)*255:128:128", "-frames:v", "1",
                           path("cover.png")}));
        QVERIFY(runFfmpeg({"-i", path("tone2.wav"), "-i", path("cover.png"), "-map", "0:a", "-map", "1:v",
                           "-c:a", "libmp3lame", "-c:v", "png", "-id3v2_version", "3", "-disposition:v",
                           "attached_pic", path("cover.mp3")}));

        // Broken files.
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

    void newPlayerHasNothingOpen()
    {
        MpvPlayer p(MpvPlayer::Output::Null);
        QCOMPARE(p.mode(), Mode::NotReady);
        QCOMPARE(p.position(), qint64(0));
        QVERIFY(!p.isPlaying());
        p.setStartPosition(500); // allowed with nothing open
        p.close();               // does nothing, throws nothing
        auto expectNoDevice = [](const std::function<void()> &f) {
            try {
                f();
            } catch (const AudioError &e) {
                return e.text() == QString::fromLatin1(kNoDeviceOpen);
            }
            return false;
        };
        QVERIFY(expectNoDevice([&] { p.play(); }));
        QVERIFY(expectNoDevice([&] { p.stop(); }));
        QVERIFY(expectNoDevice([&] { p.pause(); }));
        QVERIFY(expectNoDevice([&] { p.seek(100); }));
        QVERIFY(expectNoDevice([&] { p.length(); }));

        // The same once a file was opened and closed again.
        p.setFileName(path("tone1.wav"));
        openWaiting(p);
        QCOMPARE(p.mode(), Mode::Stopped);
        p.close();
        QCOMPARE(p.mode(), Mode::NotReady);
        QCOMPARE(p.position(), qint64(0));
        QVERIFY(expectNoDevice([&] { p.play(); }));
        QVERIFY(expectNoDevice([&] { p.length(); }));
        QCOMPARE(p.fileName(), path("tone1.wav"));
    }

    void openGivesLengthAndStopsAtZero_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("expected");
        for (const char *ext : {"wav", "mp3", "ogg", "flac"}) {
            QTest::newRow(ext) << QStringLiteral("tone2.%1").arg(ext) << qint64(2000);
            QTest::addRow("1s %s", ext) << QStringLiteral("tone1.%1").arg(ext) << qint64(1000);
        }
        // The picture is not a video to show, and the tag is skipped.
        QTest::newRow("mp3 with cover art") << QStringLiteral("cover.mp3") << qint64(2000);
    }
    void openGivesLengthAndStopsAtZero()
    {
        QFETCH(QString, file);
        QFETCH(qint64, expected);
        auto p = opened(file);
        QVERIFY2(qAbs(p->length() - expected) <= 5, qPrintable(QString::number(p->length())));
        QCOMPARE(p->mode(), Mode::Stopped);
        QCOMPARE(p->position(), qint64(0));
        QCOMPARE(p->currentOutput(), QStringLiteral("null"));
    }

    // A VBR mp3 without a frame count: the length is counted, not guessed.
    void vbrMp3LengthIsCounted()
    {
        const QByteArray probe = runOutput("ffprobe", {"-v", "error", "-count_packets", "-show_entries",
                                                       "stream=nb_read_packets:format=duration", "-of",
                                                       "default=nw=1", path("vbr.mp3")});
        const QList<QByteArray> lines = probe.split('\n');
        QVERIFY(lines.size() >= 2);
        const qint64 packets = lines[0].mid(lines[0].indexOf('=') + 1).toLongLong();
        const double guessed = lines[1].mid(lines[1].indexOf('=') + 1).toDouble();
        const qint64 counted = packets * 1152 * 1000 / 44100;
        QVERIFY2(qAbs(guessed * 1000 - counted) > 1000, "the file should fool the bitrate guess");

        auto p = opened("vbr.mp3");
        QVERIFY2(qAbs(p->length() - counted) <= 30,
                 qPrintable(QStringLiteral("length %1, frames say %2").arg(p->length()).arg(counted)));
        const auto scan = AudioFileFacts::scanMp3(path("vbr.mp3"));
        QVERIFY(scan);
        QCOMPARE(scan->frames, packets);
    }

    // The header reader sees every broken file before libmpv judges it: no
    // prefix or suffix of a real file may make it read out of bounds (the
    // sanitizer build checks), and none of a whole file's length.
    void fileFactsSurviveCutFiles()
    {
        for (const char *name : {"tone2.wav", "tone2.mp3", "tone10.ogg", "tone2.flac", "vbr.mp3", "cover.mp3"}) {
            QFile f(path(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray all = f.readAll();
            const QString format = QString::fromLatin1(name).endsWith(".mp3") ? "mp3" : QString();
            const QString cut = path("cut.bin");
            for (qsizetype n = 0; n < all.size(); n += n < 600 ? 1 : 997) {
                QVERIFY(writeBytes(cut, all.left(n)));
                AudioFileFacts::inspect(cut, format);
                QVERIFY(writeBytes(cut, all.right(n)));
                AudioFileFacts::inspect(cut, format);
            }
            const auto whole = AudioFileFacts::inspect(path(name), format);
            QVERIFY2(whole.truncated.isEmpty(), qPrintable(whole.truncated));
        }
    }

    void playsToTheEndAndStopsByItself_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *ext : {"wav", "mp3", "ogg", "flac"})
            QTest::newRow(ext) << QStringLiteral("tone1.%1").arg(ext);
    }
    void playsToTheEndAndStopsByItself()
    {
        QFETCH(QString, file);
        auto p = opened(file);
        QElapsedTimer t;
        t.start();
        p->play();
        QCOMPARE(p->mode(), Mode::Playing);
        QVERIFY(p->isPlaying());
        QVERIFY(pollUntil([&] { return p->position() >= 300; }, 3000));
        // The position follows the wall clock (it may start a little late
        // on a busy machine, never early).
        QVERIFY2(p->position() <= t.elapsed() + 30,
                 qPrintable(QStringLiteral("%1 after %2 ms").arg(p->position()).arg(t.elapsed())));
        qint64 last = 0;
        bool monotonic = true;
        QVERIFY(pollUntil([&] {
            const qint64 pos = p->position();
            monotonic = monotonic && pos >= last;
            last = pos;
            return p->mode() != Mode::Playing;
        }, 5000));
        QVERIFY(monotonic);
        QCOMPARE(p->mode(), Mode::Stopped);
        // It sounded for its length, and did not hang on much longer.
        QVERIFY2(t.elapsed() >= 980 && t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(p->position(), p->length());
        // The file stays open; the next play starts again from the start.
        p->play();
        QCOMPARE(p->mode(), Mode::Playing);
        QVERIFY2(p->position() < 100, qPrintable(QString::number(p->position())));
        QVERIFY(pollUntil([&] { return p->position() > 100; }, 3000));
        p->stop();
        QCOMPARE(p->mode(), Mode::Stopped);
    }

    void pauseToggles()
    {
        auto p = opened("tone2.wav");
        p->pause(); // stopped: nothing happens
        QCOMPARE(p->mode(), Mode::Stopped);
        p->play();
        QVERIFY(pollUntil([&] { return p->position() >= 300; }, 3000));
        p->pause();
        QCOMPARE(p->mode(), Mode::Paused);
        const qint64 at = p->position();
        QVERIFY2(at >= 250 && at < 1500, qPrintable(QString::number(at)));
        QThread::msleep(300);
        QCOMPARE(p->mode(), Mode::Paused);
        QCOMPARE(p->position(), at);
        p->pause(); // resumes from the same place
        QCOMPARE(p->mode(), Mode::Playing);
        QVERIFY(p->position() >= at && p->position() < at + 50);
        QVERIFY(pollUntil([&] { return p->position() >= at + 150; }, 3000));
        p->stop();
        QCOMPARE(p->mode(), Mode::Stopped);
        const qint64 stoppedAt = p->position();
        QThread::msleep(150);
        QCOMPARE(p->position(), stoppedAt);
        p->pause(); // stopped again: nothing
        QCOMPARE(p->mode(), Mode::Stopped);
        p->play(); // from where it stopped
        QVERIFY(p->position() >= stoppedAt && p->position() < stoppedAt + 50);
        QVERIFY(pollUntil([&] { return p->position() > stoppedAt + 50; }, 3000));
    }

    void seekLeavesTheFileStopped()
    {
        auto p = opened("tone2.mp3");
        p->play();
        QThread::msleep(200);
        p->seek(1000);
        QCOMPARE(p->mode(), Mode::Stopped);
        QCOMPARE(p->position(), qint64(1000));
        QThread::msleep(200);
        QCOMPARE(p->position(), qint64(1000));
        QElapsedTimer t;
        t.start();
        p->play();
        QVERIFY(pollUntil([&] { return p->position() >= 1200; }, 3000));
        QVERIFY2(p->position() <= 1000 + t.elapsed() + 30, qPrintable(QString::number(p->position())));
        // Beyond the end, and before the start.
        p->seek(99999);
        QCOMPARE(p->position(), p->length());
        QCOMPARE(p->mode(), Mode::Stopped);
        p->seek(-5);
        QCOMPARE(p->position(), qint64(0));
        QCOMPARE(p->mode(), Mode::Stopped);
        // Paused, then seek: stopped there too.
        p->play();
        QThread::msleep(100);
        p->pause();
        p->seek(500);
        QCOMPARE(p->mode(), Mode::Stopped);
        QCOMPARE(p->position(), qint64(500));
    }

    void startPositionIsOneShot()
    {
        MpvPlayer p(MpvPlayer::Output::Null);
        p.setStartPosition(1200); // before open: kept for the next play
        p.setFileName(path("tone2.ogg"));
        openWaiting(p);
        QCOMPARE(p.position(), qint64(0));
        p.play();
        QVERIFY2(p.position() >= 1200 && p.position() < 1250, qPrintable(QString::number(p.position())));
        QVERIFY(pollUntil([&] { return p.position() >= 1350; }, 3000));
        p.stop();
        const qint64 at = p.position();
        p.play(); // consumed: goes on from where it stopped
        QVERIFY(p.position() >= at && p.position() < at + 50);
        QVERIFY(pollUntil([&] { return p.position() > at + 50; }, 3000));
        // While playing, a new start position jumps there at the next play.
        p.setStartPosition(200);
        p.play();
        QCOMPARE(p.mode(), Mode::Playing);
        QVERIFY2(p.position() >= 200 && p.position() < 250, qPrintable(QString::number(p.position())));
        QVERIFY(pollUntil([&] { return p.position() > 250; }, 3000));
    }

    void longFileUsesWidePositions()
    {
        auto p = opened("long.mp3");
        QVERIFY2(qAbs(p->length() - 2400000) <= 100, qPrintable(QString::number(p->length())));
        p->seek(2398500);
        QCOMPARE(p->position(), qint64(2398500));
        p->play();
        QVERIFY(pollUntil([&] { return p->mode() == Mode::Stopped; }, 4000));
        QCOMPARE(p->position(), p->length());
    }

    void badFilesAreRefused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << "nothere.mp3" << "不存在";
        QTest::newRow("0 bytes") << "empty.wav" << "0 字节";
        QTest::newRow("text named .mp3") << "text.mp3" << "不是可以播放的音频文件";
        QTest::newRow("a folder") << "folder.mp3" << "不是文件";
        QTest::newRow("wav header only") << "headeronly.wav" << "";
        QTest::newRow("mp3 stub") << "stub.mp3" << "";
        for (const char *ext : {"wav", "mp3", "ogg", "flac"})
            QTest::addRow("half %s", ext) << QStringLiteral("half.%1").arg(ext) << "";
        QTest::newRow("no name") << "" << "没有指定";
    }
    void badFilesAreRefused()
    {
        QFETCH(QString, file);
        QFETCH(QString, says);
        MpvPlayer p(MpvPlayer::Output::Null);
        // Something good is open (and playing) before: the failed open
        // leaves nothing open.
        p.setFileName(path("tone2.wav"));
        openWaiting(p);
        p.play();
        p.setFileName(file.isEmpty() ? QString() : path(file));
        QString text;
        try {
            openWaiting(p);
        } catch (const AudioError &e) {
            text = e.text();
        }
        QVERIFY2(!text.isEmpty(), "open should have failed");
        if (!says.isEmpty())
            QVERIFY2(text.contains(says), qPrintable(text));
        if (!file.isEmpty())
            QVERIFY2(text.contains(file), qPrintable(text));
        if (file.startsWith("half."))
            QVERIFY2(text.contains("不完整"), qPrintable(text));
        QCOMPARE(p.mode(), Mode::NotReady);
        QCOMPARE(p.position(), qint64(0));
        QVERIFY_THROWS_EXCEPTION(AudioError, p.play());
        QVERIFY_THROWS_EXCEPTION(AudioError, p.length());
        // The player is still usable.
        p.setFileName(path("tone1.flac"));
        openWaiting(p);
        p.play();
        QCOMPARE(p.mode(), Mode::Playing);
    }

    void openingAnotherFileStopsTheFirst()
    {
        auto p = opened("tone2.wav");
        p->play();
        QThread::msleep(100);
        p->setFileName(path("tone1.mp3"));
        openWaiting(*p);
        QCOMPARE(p->mode(), Mode::Stopped);
        QCOMPARE(p->position(), qint64(0));
        QVERIFY(qAbs(p->length() - 1000) <= 5);
        QThread::msleep(100);
        QCOMPARE(p->position(), qint64(0));
    }

    void threePlayersPlayAtOnce()
    {
        auto a = opened("tone2.wav");
        auto b = opened("tone2.mp3");
        auto c = opened("tone2.flac");
        a->play();
        QVERIFY(pollUntil([&] { return a->position() >= 100; }, 3000));
        b->play();
        c->play();
        QVERIFY(pollUntil([&] { return b->position() >= 200 && c->position() >= 200; }, 3000));
        for (auto *p : {a.get(), b.get(), c.get()})
            QCOMPARE(p->mode(), Mode::Playing);
        QVERIFY(a->position() > b->position());
        b->stop(); // starting or stopping one never touches another
        QCOMPARE(a->mode(), Mode::Playing);
        QCOMPARE(c->mode(), Mode::Playing);
        const qint64 bAt = b->position();
        const qint64 cAt = c->position();
        QVERIFY(pollUntil([&] { return c->position() >= cAt + 200; }, 3000));
        QCOMPARE(b->position(), bAt);
        QCOMPARE(b->mode(), Mode::Stopped);
        QVERIFY(pollUntil([&] { return a->mode() == Mode::Stopped && c->mode() == Mode::Stopped; }, 5000));
        QCOMPARE(a->position(), a->length());
        QCOMPARE(c->position(), c->length());
        QCOMPARE(b->position(), bAt);
    }
    // An open left to the background reports exactly once, on the player's
    // thread; a later open or a close silences the earlier one.
    void backgroundOpensReportOnce()
    {
        MpvPlayer p(MpvPlayer::Output::Null);
        QSignalSpy ok(&p, &AudioPlayer::opened), failed(&p, &AudioPlayer::openFailed);
        p.setFileName(path("tone2.flac"));
        p.openAsync();
        QVERIFY(ok.isEmpty() && failed.isEmpty()); // never from inside the call
        QVERIFY(QTest::qWaitFor([&] { return !ok.isEmpty(); }, 20000));
        QVERIFY(!p.opening());
        QCOMPARE(p.mode(), Mode::Stopped);
        QVERIFY(qAbs(p.length() - 2000) <= 5);

        p.setFileName(path("text.mp3"));
        p.openAsync();
        QVERIFY(QTest::qWaitFor([&] { return !failed.isEmpty(); }, 20000));
        QVERIFY(failed.first().at(0).toString().contains("text.mp3"));
        QCOMPARE(failed.first().at(1).value<AudioError::Cause>(), AudioError::Cause::File);
        QCOMPARE(p.mode(), Mode::NotReady);

        // Superseded and closed opens say nothing; the last one reports.
        ok.clear();
        failed.clear();
        p.setFileName(path("text.mp3"));
        p.openAsync();
        p.close();
        QCOMPARE(p.mode(), Mode::NotReady);
        p.setFileName(path("text.mp3"));
        p.openAsync();
        p.setFileName(path("tone1.wav"));
        p.openAsync();
        QVERIFY(QTest::qWaitFor([&] { return !ok.isEmpty(); }, 20000));
        QTest::qWait(300);
        QCOMPARE(ok.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(qAbs(p.length() - 1000) <= 5);
        p.play();
        QCOMPARE(p.mode(), Mode::Playing);
    }

    // The end of a file is told, once; stop() and close() tell nothing.
    void endIsSignalled()
    {
        auto p = opened("tone1.wav");
        QSignalSpy ended(p.get(), &AudioPlayer::ended);
        p->play();
        QVERIFY(QTest::qWaitFor([&] { return !ended.isEmpty(); }, 5000));
        QCOMPARE(p->mode(), Mode::Stopped);
        QCOMPARE(ended.first().at(0).toBool(), false);
        p->play();
        QTest::qWait(200);
        p->stop();
        p->play();
        p->close();
        QTest::qWait(1300);
        QCOMPARE(ended.count(), 1);
        // An end not yet delivered when the next file opens is not that
        // file's end.
        ended.clear();
        p->setFileName(path("tone1.wav"));
        openWaiting(*p);
        p->play();
        QVERIFY(pollUntil([&] { return p->mode() == Mode::Stopped; }, 5000)); // no event loop: held back
        p->setFileName(path("tone2.wav"));
        openWaiting(*p);
        QTest::qWait(300);
        QCOMPARE(ended.count(), 0);
        QCOMPARE(p->mode(), Mode::Stopped);
    }

    // A sound file plays only itself: whatever could make the player read
    // another file or an address never reaches it.
    void onlySoundFilesOpen_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("confined");
        QTest::addColumn<QString>("says"); // empty: it opens
        QTest::newRow("mpv EDL named .mp3") << "music/edl.mp3" << false << "不是可以播放的音频文件";
        QTest::newRow("playlist named .mp3") << "music/list.mp3" << false << "不是可以播放的音频文件";
        QTest::newRow("HLS named .wav") << "music/hls.wav" << false << "不是可以播放的音频文件";
        QTest::newRow("link out of the folder") << "music/out.wav" << true << "不在音乐文件夹";
        QTest::newRow("path out of the folder") << "tone1.wav" << true << "不在音乐文件夹";
        QTest::newRow("link out, unconfined") << "music/out.wav" << false << "";
        QTest::newRow("link inside the folder") << "music/in.mp3" << true << "";
        QTest::newRow("file inside the folder") << "music/bell.ogg" << true << "";
    }
    void onlySoundFilesOpen()
    {
        QFETCH(QString, file);
        QFETCH(bool, confined);
        QFETCH(QString, says);
        QDir(m_dir.path()).mkpath("music");
        const QString elsewhere = path("tone1.wav");
        writeBytes(path("music/edl.mp3"), "# mpv EDL v0\n" + elsewhere.toUtf8() + ",0,1\nhttp://127.0.0.1:9/x.mp3\n");
        writeBytes(path("music/list.mp3"), "#EXTM3U\n" + elsewhere.toUtf8() + "\nhttp://127.0.0.1:9/x.mp3\n");
        writeBytes(path("music/hls.wav"), "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nhttp://127.0.0.1:9/a.ts\n");
        QFile::link(elsewhere, path("music/out.wav"));
        QFile::copy(path("tone1.mp3"), path("music/bell.mp3"));
        QFile::copy(path("tone1.ogg"), path("music/bell.ogg"));
        QFile::link(path("music/bell.mp3"), path("music/in.mp3"));

        MpvPlayer p(MpvPlayer::Output::Null);
        if (confined)
            p.setConfinedTo(path("music"));
        p.setFileName(path(file));
        QString text;
        try {
            openWaiting(p);
        } catch (const AudioError &e) {
            text = e.text();
            QCOMPARE(e.cause(), AudioError::Cause::File);
        }
        if (says.isEmpty()) {
            QVERIFY2(text.isEmpty(), qPrintable(text));
            QVERIFY(qAbs(p.length() - 1000) <= 5);
        } else {
            QVERIFY2(text.contains(says) && text.contains(path(file)), qPrintable(text));
            QCOMPARE(p.mode(), Mode::NotReady);
        }
    }

    // The header reader knows the formats by their bytes, and the length
    // where the header tells it, without a player.
    void headersTellFormatAndLength()
    {
        for (const char *ext : {"wav", "mp3", "ogg", "flac"}) {
            const auto k = AudioFileFacts::sniff(path(QStringLiteral("tone2.%1").arg(ext)));
            QCOMPARE(k.format, QString::fromLatin1(ext));
            QVERIFY2(k.lengthMs && qAbs(*k.lengthMs - 2000) <= 30, ext);
        }
        QCOMPARE(AudioFileFacts::sniff(path("cover.mp3")).format, QStringLiteral("mp3"));
        QVERIFY(runFfmpeg({"-i", path("tone1.wav"), "-c:a", "aac", path("tone1.m4a")}));
        QCOMPARE(AudioFileFacts::sniff(path("tone1.m4a")).format, QStringLiteral("m4a"));
        for (const char *notSound : {"text.mp3", "empty.wav", "stub.mp3", "cover.png", "nothere.mp3"})
            QVERIFY2(AudioFileFacts::sniff(path(notSound)).format.isEmpty(), notSound);
    }
};

QTEST_GUILESS_MAIN(PlayerTest)
#include "tst_player.moc"
