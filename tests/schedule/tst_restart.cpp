// The engine started again a few seconds after its last run ended, as the
// service is after a crash or a watchdog kill: the bell that run rang never
// rings again and keeps its one record; one it left sounding (its record
// still 播放中) reads 中断, in the list and in the history, and so does one
// a proper end cut off.
// The last run is a real process on the same store, killed with SIGKILL.
#include "ringfixture.h"

#include <QProcess>
#include <csignal>

#ifndef RING_WORKER
#error RING_WORKER must name the worker executable
#endif

class RestartTest : public QObject {
    Q_OBJECT

    // Runs the last run from 08:00:00 for the given ticks; "kill" kills it
    // once it has ticked, "end" lets it end as the program does.
    static QString lastRun(RingFixture &f, int ticks, const QString &how)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(RING_WORKER),
                {f.home.path(), QStringLiteral("2026-12-07T08:00:00"), QString::number(ticks), how});
        if (!p.waitForStarted() || !p.waitForReadyRead(30000))
            return QStringLiteral("no start");
        const QString played = QString::fromUtf8(p.readLine()).trimmed();
        if (how == u"kill")
            ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(30000);
        return played;
    }

    // Which of the day's records still say their bell sounds.
    static QList<bool> sounding(RingFixture &f)
    {
        f.history.flush();
        QList<bool> out;
        for (const RingRecord &r : f.history.day(f.clock.now().date()))
            out << r.sounding;
        return out;
    }

private slots:
    void aRestartRingsNoBellTwice_data()
    {
        QTest::addColumn<int>("ticks");        // of the last run, from 08:00:00
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("restartAt");    // second of 08:00 of the new run's first tick
        QTest::addColumn<QString>("status");   // the bell's row after the restart
        QTest::addColumn<QString>("record");
        const QString cut = "08:00:05 长铃 中断 2 " + RingHistory::kCutReason;
        // The bell at 08:00:05 plays 10 s.
        QTest::newRow("killed at its second") << 6 << "kill" << 6 << "中断" << cut;
        QTest::newRow("killed while it sounds") << 9 << "kill" << 11 << "中断" << cut;
        QTest::newRow("killed after its end") << 17 << "kill" << 19 << "完成" << "08:00:05 长铃 完成 2";
        QTest::newRow("ended while it sounds") << 9 << "end" << 11 << "中断"
                                               << "08:00:05 长铃 中断 2 " + RingHistory::kEndedReason;
        QTest::newRow("ended after its end") << 17 << "end" << 19 << "完成" << "08:00:05 长铃 完成 2";
    }
    void aRestartRingsNoBellTwice()
    {
        QFETCH(int, ticks);
        QFETCH(QString, how);
        QFETCH(int, restartAt);
        QFETCH(QString, status);
        QFETCH(QString, record);
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "长铃");
        f.add(RingFixture::at(8, 0, 30), "下课");
        QCOMPARE(lastRun(f, ticks, how), QStringLiteral("长铃.mp3"));

        // The new run, as the program starts, inside the catch-up window.
        f.history.closeUnended();
        f.tickRange(RingFixture::at(8, 0, restartAt), RingFixture::at(8, 0, 31));
        QCOMPARE(f.played(), QStringList{"下课.mp3"});
        QCOMPARE(f.status(1), status);
        QCOMPARE(f.records(), QStringList({record, "08:00:30 下课 完成 2"}));
        QCOMPARE(sounding(f), (QList<bool>{false, true}));
        // Once the new run's bell is over, its record says so too.
        f.tickRange(RingFixture::at(8, 0, 32), RingFixture::at(8, 0, 36));
        QCOMPARE(sounding(f), (QList<bool>{false, false}));
    }

    // The list reads a record a killed run left 播放 as 中断 also before
    // the start has closed it (the store would not take the closing).
    void aRecordLeftSoundingReadsInterruptedBeforeItIsClosed()
    {
        RingFixture f;
        f.add(RingFixture::at(8, 0, 5), "长铃");
        QCOMPARE(lastRun(f, 9, "kill"), QStringLiteral("长铃.mp3"));
        f.tickAt(8, 0, 11);
        QCOMPARE(f.status(1), QStringLiteral("中断"));
        QCOMPARE(f.records(), QStringList{"08:00:05 长铃 完成 2"});
        QCOMPARE(sounding(f), QList<bool>{true});
        QVERIFY(f.played().isEmpty());
    }
};

QTEST_GUILESS_MAIN(RestartTest)
#include "tst_restart.moc"
