#include "bellboard.h"
#include "fakes.h"
#include "mpvplayer.h"
#include "ringengine.h"

#include <QTest>

// The engine on its real timers with the real player (null output) and a
// generated file: the bell sounds at its second and its row ends "完成".
class RingMpvTest : public QObject {
    Q_OBJECT

private slots:
    void realBellRowTurnsDone()
    {
        TempHome home;
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        const QString tone = makeTone(home.music() + QStringLiteral("tone.wav"), 2.0);
        if (tone.isEmpty())
            QSKIP("ffmpeg is missing");
        MpvPlayer player(MpvPlayer::Output::Null);
        try {
            player.setFileName(tone);
            player.open();
            player.close();
        } catch (const AudioError &e) {
            if (e.text().contains(QStringLiteral("audio backend missing")))
                QSKIP("the libmpv player has not landed yet");
            throw;
        }

        SystemClock clock;
        const QDateTime now = clock.now();
        if (now.time() > QTime(23, 59, 45))
            QSKIP("too close to midnight for a one-day list");
        const qint64 due = now.time().msecsSinceStartOfDay() / 1000 + 3;
        store.insert({0, due, "bell", "tone.wav", "日一二三四五六", "2", ""});

        AppPaths paths(home.path());
        BellBoard board(store, clock, paths);
        FakeMessages messages;
        RingEngine engine(board, player, messages, clock);
        QDateTime rangAt;
        connect(&engine, &RingEngine::rang, this, [&] { rangAt = QDateTime::currentDateTime(); });
        bool sawPlaying = false;
        connect(&board, &BellBoard::changed, this, [&] { sawPlaying |= player.isPlaying(); });

        engine.start();
        QTRY_VERIFY_WITH_TIMEOUT(board.running(), 3000);
        QCOMPARE(board.entryAtRow(1)->name, QStringLiteral("bell"));
        QTRY_VERIFY_WITH_TIMEOUT(rangAt.isValid(), 8000);
        QVERIFY(rangAt.time().msecsSinceStartOfDay() / 1000 >= due);
        QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying()
                                     && board.statusText(1)
                                            == QStringLiteral("完成"),
                                 8000);
        QVERIFY(sawPlaying);
        QCOMPARE(board.progressMax() / 100, 20); // the tone's length, about 2000 ms
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(board.day().faultCount(), 0);
    }
};

QTEST_GUILESS_MAIN(RingMpvTest)
#include "tst_ringmpv.moc"
