// Bells on an unhealthy machine: an output that hangs or is away for a
// moment, a bell cut off by a dying output. Every bell ends with an honest
// status and one record in the ring history.
#include "ringfixture.h"

#include <QFile>
#include <QSignalSpy>

class RingFaultTest : public QObject {
    Q_OBJECT
    using F = RingFixture;

private slots:
    void anOutputBackWithinTheWindowRingsLate_data()
    {
        QTest::addColumn<QTime>("due");
        QTest::addColumn<bool>("hung");
        QTest::addColumn<int>("away"); // seconds without output from the bell's second
        QTest::newRow("output missing") << QTime(8, 0, 5) << false << 1;
        QTest::newRow("output not answering") << QTime(8, 0, 5) << true << 1;
        // The list reloads at 00:00:10 meanwhile: the bell stays ahead of the cursor.
        QTest::newRow("across a reload") << QTime(0, 0, 9) << true << 2;
    }
    void anOutputBackWithinTheWindowRingsLate()
    {
        QFETCH(QTime, due);
        QFETCH(bool, hung);
        QFETCH(int, away);
        F f(QDateTime(QDate(2026, 12, 7), due.addSecs(-3)));
        const qint64 t = due.msecsSinceStartOfDay() / 1000;
        f.add(t, "a");
        f.tickRange(t - 3, t - 1);
        f.player.outputDown = true;
        f.player.hung = hung;
        f.tickRange(t, t + away - 1);
        QVERIFY(f.played().isEmpty());
        QVERIFY(f.messages.shown.isEmpty()); // not yet: it is tried again
        f.engine.TimerShanTimer();
        QCOMPARE(f.status(1), QStringLiteral("等待"));
        f.player.outputDown = false;
        f.tickRange(t + away, t + away);
        QCOMPARE(f.played(), QStringList{"a.mp3"});
        f.tickRange(t + away + 1, t + away + 1);
        QCOMPARE(f.status(1), QStringLiteral("完成"));
        QCOMPARE(f.records(), QStringList{QStringLiteral("%1 a 完成 %2").arg(due.toString("hh:mm:ss")).arg(away * 1000 + 2)});
        QVERIFY(f.messages.shown.isEmpty());
    }

    void aHungOutputAcrossABell()
    {
        F f;
        f.engine.setCatchUpSeconds(3);
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "lost");
        f.add(t + 10, "after");
        QSignalSpy failed(&f.engine, &RingEngine::ringFailed);
        f.tickRange(t - 3, t - 1);
        f.player.outputDown = f.player.hung = true;
        // Ticks inside the box go on; the clock updates every second.
        f.messages.whileOpen = [&](const FakeMessages::Shown &) {
            for (qint64 s = t + 4; s <= t + 7; ++s) {
                f.tickRange(s, s);
                QCOMPARE(f.board.clockText(), inttotime(s));
            }
            f.player.outputDown = f.player.hung = false; // the server is back
        };
        for (qint64 s = t; s <= t + 2; ++s) {
            f.tickRange(s, s);
            QCOMPARE(f.board.clockText(), inttotime(s));
        }
        QVERIFY(f.messages.shown.isEmpty());
        f.tickRange(t + 3, t + 3);
        // Only once the window has passed: 失败, and the box for a hung output.
        QCOMPARE(f.messages.texts(), QStringList{BellBoard::kNoResponse});
        QCOMPARE(BellBoard::kNoResponse, QStringLiteral("声音输出没有响应，铃声没有播出！请检查声卡和声音服务。"));
        QCOMPARE(f.status(1), QStringLiteral("失败"));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed[0][1].value<BellStatus>(), BellStatus::Failed);
        f.tickRange(t + 8, t + 11);
        QCOMPARE(f.played(), QStringList{"after.mp3"});
        QCOMPARE(f.player.playTimes.first().time(), QTime(8, 0, 15, 2));
        QCOMPARE(f.records(), (QStringList{"08:00:05 lost 失败 - " + BellBoard::kNoResponse,
                                           "08:00:15 after 完成 2"}));
        // The mark stays through reloads and the blink.
        f.engine.ButtonPlayClick();
        f.engine.ButtonPlayClick();
        f.engine.TimerShanTimer();
        QCOMPARE(f.status(1), QStringLiteral("失败"));
    }

    void aMissingFileFailsAtOnceEvenWithTheOutputAway()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "gone", F::allDays(), true);
        f.player.outputDown = true;
        f.tickRange(t - 1, t);
        QCOMPARE(f.messages.texts(), QStringList{BellBoard::kNotFound});
        QCOMPARE(f.records(), QStringList{"08:00:05 gone 失败 - " + BellBoard::kNotFound});
    }

    void aBellCutOffByItsOutputReadsInterrupted()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "cut");
        f.add(t + 30, "next");
        QSignalSpy rang(&f.engine, &RingEngine::rang);
        QSignalSpy ended(&f.engine, &RingEngine::bellEnded);
        f.tickRange(t - 1, t + 2);
        QCOMPARE(rang.size(), 1);
        QVERIFY(ended.isEmpty());
        f.sounding().interruptNow();
        f.engine.TimerShanTimer(); // the blink sees it first: never "完成"
        QCOMPARE(f.status(1), QStringLiteral("中断"));
        f.tickRange(t + 3, t + 12);
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended[0][1].value<BellStatus>(), BellStatus::Interrupted);
        f.engine.ButtonPlayClick();
        f.engine.ButtonPlayClick();
        QCOMPARE(f.status(1), QStringLiteral("中断"));
        QCOMPARE(f.records(), QStringList{"08:00:05 cut 中断 2 " + RingEngine::kInterruptedReason});

        // A bell that plays to its end, or is cut by the next, is 完成.
        f.tickRange(t + 29, t + 40);
        QCOMPARE(ended.size(), 2);
        QCOMPARE(ended[1][1].value<BellStatus>(), BellStatus::Done);
        QCOMPARE(f.records().last(), QStringLiteral("08:00:35 next 完成 2"));
    }

    // A slow file goes on loading past the player's bound: the bell starts
    // when it has loaded, within the catch-up window, or fails after it.
    void aSlowFileStartsWhenLoaded_data()
    {
        QTest::addColumn<int>("loadedAfterMs"); // from the bell's second; -1: never
        QTest::addColumn<bool>("badFile");
        QTest::addColumn<QString>("record");
        QTest::newRow("loaded in its second") << 400 << false << "08:00:05 a 完成 400";
        QTest::newRow("loaded two seconds late") << 2300 << false << "08:00:05 a 完成 2300";
        QTest::newRow("never within the window") << -1 << false
            << "08:00:05 a 失败 - " + RingEngine::kSlowOpenReason;
        QTest::newRow("loaded, but not playable") << 400 << true << "08:00:05 a 失败 - " + BellBoard::kNotFound;
    }
    void aSlowFileStartsWhenLoaded()
    {
        QFETCH(int, loadedAfterMs);
        QFETCH(bool, badFile);
        QFETCH(QString, record);
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "a");
        f.add(t + 10, "b");
        f.player.slowOpen = true;
        f.tickRange(t - 3, t - 1); // opened ahead: it goes on loading
        QVERIFY(f.player.opening());
        f.player.slowOpen = false;
        f.tickRange(t, t + std::max(loadedAfterMs, 0) / 1000);
        QVERIFY(f.played().isEmpty());
        if (loadedAfterMs >= 0) {
            f.clock.set(QDateTime(f.clock.now().date(), QTime(8, 0, 5).addMSecs(loadedAfterMs)));
            if (badFile)
                QFile::remove(f.home.music() + "a.mp3");
            f.player.finishOpen();
            QCoreApplication::sendPostedEvents(&f.engine, QEvent::MetaCall);
        }
        f.tickRange(t + 4, t + 10);
        QCOMPARE(f.records(), (QStringList{record, "08:00:15 b 完成 2"}));
        QCOMPARE(f.status(1), record.contains("完成") ? QStringLiteral("完成") : QStringLiteral("失败"));
        QCOMPARE(f.messages.shown.size(), record.contains("完成") ? 0 : 1);
    }

    // The tick returns before a failed bell's box opens; the clock goes on
    // while it is open, and the log names the bell and why.
    void aBoxNeverHoldsTheClock()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "gone", F::allDays(), true);
        f.add(t + 1, "next");
        static QStringList log;
        log.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &ctx, const QString &text) {
                log << QString::fromLatin1(ctx.category) + u' ' + text;
            });
        f.tickRange(t - 2, t - 1);
        f.clock.set(QDateTime(f.clock.now().date(), QTime(8, 0, 5, 2)));
        f.engine.TimerShiJianTimer();
        QVERIFY(f.messages.shown.isEmpty()); // posted, not shown inside the tick
        f.messages.whileOpen = [&](const FakeMessages::Shown &) { f.tickRange(t + 1, t + 1); };
        QCoreApplication::sendPostedEvents(&f.engine, QEvent::MetaCall);
        qInstallMessageHandler(previous);
        QCOMPARE(f.messages.texts(), QStringList{BellBoard::kNotFound});
        QCOMPARE(f.played(), QStringList{"next.mp3"});
        QCOMPARE(f.player.playTimes[0].time(), QTime(8, 0, 6, 2));
        const QStringList failed = log.filter(QStringLiteral("daling.ring")).filter(QStringLiteral("gone"));
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed[0].contains("失败") && failed[0].contains(BellBoard::kNotFound));
    }

    void aStoreThatCannotBeWrittenNeverStopsABell()
    {
        F f;
        const qint64 t = F::at(8, 0, 5);
        f.add(t, "a");
        f.add(t + 10, "b");
        f.tickRange(t - 1, t - 1);
        QSqlQuery(f.store.database()).exec("create table if not exists jilu (x)"); // wrong shape
        f.tickRange(t, t + 10);
        QCOMPARE(f.played(), (QStringList{"a.mp3", "b.mp3"}));
        QVERIFY(!f.history.flush());
        QCOMPARE(f.history.queued(), 2);
        // Mended: the queued records arrive.
        QSqlQuery(f.store.database()).exec("drop table jilu");
        QVERIFY(f.history.flush());
        QCOMPARE(f.records().size(), 2);
    }
};

QTEST_GUILESS_MAIN(RingFaultTest)
#include "tst_ringfault.moc"
