// The operator's day against the fake clock: what stopped mode says and
// records, and a morning replayed (stopped mode, an edit, bells that pass
// while stopped, a failed bell, a timetable switch, a clock stepped over a
// bell and a restart) in which every bell ends with one record, and the
// day's list says what the record says.
#include "ringfixture.h"
#include "timetablestore.h"

namespace {

using F = RingFixture;

// Each listed bell as "hh:mm:ss name status", and the same from the day's
// records (the last record of a bell holds).
QStringList listed(const BellBoard &board)
{
    QStringList out;
    for (int r = 1; board.entryAtRow(r); ++r)
        out << QStringLiteral("%1 %2 %3").arg(inttotime(board.entryAtRow(r)->time),
                                              board.entryAtRow(r)->name, board.statusText(r));
    return out;
}

QStringList recorded(F &f)
{
    f.history.flush();
    QMap<QPair<qint64, QString>, QString> last;
    for (const RingRecord &r : f.history.day(f.clock.now().date()))
        last[{r.time, r.name}] = bellstatus::text(r.result);
    QStringList out;
    for (auto it = last.cbegin(); it != last.cend(); ++it)
        out << QStringLiteral("%1 %2 %3").arg(inttotime(it.key().first), it.key().second, it.value());
    return out;
}

} // namespace

class WeekTest : public QObject {
    Q_OBJECT

private slots:
    // Stopped mode keeps its meaning, but says so while bells are still to
    // come today, and every bell it skips is recorded 错过 with its reason.
    void stoppedModeSaysSoAndRecordsWhatItSkips()
    {
        F f;
        f.add(F::at(8, 0, 5), "a");
        f.add(F::at(8, 0, 5), "a twin");
        f.add(F::at(8, 0, 8), "b");
        f.add(F::at(8, 0, 9), "sunday", "日");
        f.add(F::at(8, 0, 12), "c");
        f.tickAt(8, 0, 1);
        QVERIFY(f.alerts.stoppedText().isEmpty());
        f.engine.ButtonPlayClick(); // stopped: the band comes with the click
        QCOMPARE(f.alerts.stoppedText(), RingAlerts::kStopped + QStringLiteral("（下一个不会响的铃声：08:00:05 a）"));
        f.tickRange(F::at(8, 0, 2), F::at(8, 0, 8));
        QVERIFY(f.played().isEmpty());
        QVERIFY(f.alerts.stoppedText().endsWith(QStringLiteral("08:00:12 c）")));
        const QString skipped = QStringLiteral(" 错过 - ") + RingEngine::kStoppedReason;
        QCOMPARE(f.records(), (QStringList{"08:00:05 a" + skipped, "08:00:05 a twin" + skipped,
                                           "08:00:08 b" + skipped}));
        QCOMPARE(f.alerts.notRungText(),
                 QStringLiteral("08:00:08 b 没有响：停止打铃期间，没有播放（共 3 个铃声没有响，详见 系统 → 打铃记录…）"));
        // Started again: the day's list shows them 错过; the band goes.
        f.engine.ButtonPlayClick();
        QVERIFY(f.alerts.stoppedText().isEmpty());
        f.tickAt(8, 0, 9);
        QStringList shown;
        for (int r = 1; r <= 4; ++r)
            shown << f.status(r);
        QCOMPARE(shown, (QStringList{"错过", "错过", "错过", ""}));
        f.alerts.dismiss();
        QVERIFY(f.alerts.notRungText().isEmpty());
        // Stopped after the day's last bell: nothing left to skip, no band.
        f.tickRange(F::at(8, 0, 10), F::at(8, 0, 13));
        f.engine.ButtonPlayClick();
        QVERIFY(f.alerts.stoppedText().isEmpty());
        QCOMPARE(f.played(), QStringList{"c.mp3"});
        QCOMPARE(f.records().size(), 4);
    }

    void everyBellEndsWithARecordAndAStatusThatAgree()
    {
        F f(QDateTime(QDate(2026, 12, 7), QTime(7, 59, 58)));
        f.add(F::at(8, 0, 0), "第一节上课");
        f.add(F::at(8, 0, 40), "眼保健操");
        f.add(F::at(8, 1, 0), "第一节下课", F::allDays(), true); // its file is gone
        f.add(F::at(8, 2, 0), "第二节上课");
        f.tickRange(F::at(7, 59, 58), F::at(8, 0, 2));

        // Stop, add a bell, let two bells pass.
        f.engine.ButtonPlayClick();
        f.add(F::at(8, 0, 30), "临时通知");
        f.board.Refresh();
        f.tickRange(F::at(8, 0, 3), F::at(8, 0, 5));
        QVERIFY(f.alerts.stoppedText().endsWith(QStringLiteral("08:00:30 临时通知）")));
        f.tickRange(F::at(8, 0, 6), F::at(8, 0, 50));
        f.engine.ButtonPlayClick();
        QVERIFY(f.alerts.stoppedText().isEmpty());

        // The bell whose file is gone fails; the box says so after the tick.
        f.tickRange(F::at(8, 0, 51), F::at(8, 1, 2));
        QCOMPARE(f.messages.texts(), QStringList{BellBoard::kNotFound});

        // 立即切换 to a timetable of the same bells: new rows, new ids.
        TimetableStore timetables(f.store);
        timetables.switchTo(timetables.saveCurrentAs(QStringLiteral("冬季作息")));
        f.board.Refresh();
        const QStringList beforeStep{"08:00:00 第一节上课 完成", "08:00:30 临时通知 错过",
                                     "08:00:40 眼保健操 错过", "08:01:00 第一节下课 失败"};
        QCOMPARE(listed(f.board).mid(0, 4), beforeStep);

        // The clock steps 25 s over a bell: it rings late, with its delay.
        f.tickRange(F::at(8, 1, 3), F::at(8, 1, 50));
        f.tickRange(F::at(8, 2, 15), F::at(8, 2, 21)); // and it ends
        QCOMPARE(f.played(), (QStringList{"第一节上课.mp3", "第二节上课.mp3"}));
        QCOMPARE(f.records().last(), QStringLiteral("08:02:00 第二节上课 完成 15002"));
        const QStringList day = beforeStep + QStringList{"08:02:00 第二节上课 完成"};
        QCOMPARE(listed(f.board), day);
        QCOMPARE(recorded(f), day);

        // A restart the same day lists the same from the records alone.
        BellBoard restarted(f.store, f.clock, f.paths);
        RingHistory history(f.store);
        restarted.setHistory(&history);
        restarted.setRunning(true);
        restarted.setLabelNowTime(QString::number(F::at(8, 2, 22)));
        restarted.Refresh();
        QCOMPARE(listed(restarted), day);
        QCOMPARE(f.alerts.notRungCount(), 3);
    }
};

QTEST_GUILESS_MAIN(WeekTest)
#include "tst_week.moc"
