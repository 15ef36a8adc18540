// The libmpv player played, paused, sought and stopped on real files made
// at test time, through mpv's null output (real time, no sound device
// needed), and what it signals.
#include "playerfixture.h"

#include <QSignalSpy>
#include <QTest>
#include <functional>

using Mode = AudioPlayer::Mode;

class PlayerControlTest : public PlayerFixture {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        makeTones();
        makeLongMp3();
        makeBrokenFiles();
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
};

QTEST_GUILESS_MAIN(PlayerControlTest)
#include "tst_player_control.moc"
