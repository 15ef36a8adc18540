// Which files the libmpv player opens and how long it finds them, and what
// the header reader tells from their bytes, on real files made at test time.
#include "audiofilefacts.h"
#include "playerfixture.h"

#include <QDir>
#include <QTest>

using Mode = AudioPlayer::Mode;

class PlayerFilesTest : public PlayerFixture {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        makeTones();
        makeOddMp3s();
        makeBrokenFiles();
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

QTEST_GUILESS_MAIN(PlayerFilesTest)
#include "tst_player_files.moc"
