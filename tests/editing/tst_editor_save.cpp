// What the editor stores and shows: a new entry as typed, a change, the
// weekday buttons and "全选", the zone boxes, and closing without saving.
#include "editorfixture.h"
#include "weekdayset.h"

#include <QCheckBox>

#include <array>

class EditorSaveTest : public QObject {
    Q_OBJECT
    using F = EditorFixture;

private slots:
    void zoneBoxesShowAndSaveTheBellsZones()
    {
        F f;
        ZoneStore zones(f.store);
        const qint64 a = zones.add({0, "操场", "pulse/a", 0});
        const qint64 b = zones.add({0, "宿舍", "pulse/b", 0});
        const qint64 id = f.add(7 * 3600, "bell");
        f.home.touchMusic(QStringLiteral("bell.mp3"));
        f.store.update({id, 7 * 3600, "bell", "bell.mp3", "一", "3", "r", {b}});
        f.dlg.setZones(zones.list());
        QCOMPARE(f.dlg.zoneBoxes.size(), 2);
        f.dlg.locate(QString::number(id));
        f.dlg.fillFromRecord();
        QVERIFY(f.show(f.dlg.EditName));
        // Listed by name: 宿舍 before 操场.
        QVERIFY(f.dlg.zoneBoxes[0]->isChecked() && !f.dlg.zoneBoxes[1]->isChecked());
        F::click(f.dlg.zoneBoxes[1]);
        F::click(f.dlg.Button1);
        QCOMPARE(f.all().first().zones, (QList<qint64>{a, b}));
        // Without zones the dialog has its own size and no boxes.
        f.dlg.setZones({});
        QVERIFY(f.dlg.zoneBoxes.isEmpty());
        QCOMPARE(f.dlg.height(), 363);
    }

    // An add after a save in a zone with "全选" down opens with no zone, no
    // day and "全选" up; a save without a weekday is refused and says why.
    void addStartsFromNothingAndNeedsAWeekday()
    {
        F f;
        ZoneStore zones(f.store);
        const qint64 a = zones.add({0, "教学楼A", "pulse/a", 0});
        zones.add({0, "操场", "pulse/b", 0});
        f.dlg.setZones(zones.list());
        f.home.touchMusic(QStringLiteral("a.mp3"));
        f.dlg.clearedit();
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        F::type(QStringLiteral("8"));
        f.fill(f.dlg.EditMin, QStringLiteral("0"));
        f.fill(f.dlg.EditSec, QStringLiteral("0"));
        f.fill(f.dlg.EditYinYue, QStringLiteral("a.mp3"));
        F::click(f.dlg.S);
        QCheckBox *boxA = f.dlg.zoneBoxes[0]->property("zone").toLongLong() == a ? f.dlg.zoneBoxes[0]
                                                                                 : f.dlg.zoneBoxes[1];
        F::click(boxA);
        F::click(f.dlg.Button1);
        QCOMPARE(f.all().size(), 1);
        QCOMPARE(f.all().first().zones, QList<qint64>{a});

        f.dlg.clearedit();
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        for (QCheckBox *b : f.dlg.zoneBoxes)
            QVERIFY2(!b->isChecked(), qPrintable(b->text()));
        QVERIFY(!f.dlg.S->isChecked());
        for (QPushButton *d : {f.dlg.S0, f.dlg.S1, f.dlg.S2, f.dlg.S3, f.dlg.S4, f.dlg.S5, f.dlg.S6})
            QVERIFY(!d->isChecked());
        F::type(QStringLiteral("9"));
        f.fill(f.dlg.EditMin, QStringLiteral("0"));
        f.fill(f.dlg.EditSec, QStringLiteral("0"));
        f.fill(f.dlg.EditYinYue, QStringLiteral("a.mp3"));
        F::click(f.dlg.Button1);
        QVERIFY(f.dlg.isVisible());
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.messages.shown.last().text, EntryEditor::kNoWeekday);
        QCOMPARE(f.messages.shown.last().kind, QStringLiteral("Error"));
        QCOMPARE(F::focused(), f.dlg.S0);
        QCOMPARE(f.all().size(), 1);
        F::click(f.dlg.S1);
        F::click(f.dlg.Button1);
        QVERIFY(!f.dlg.isVisible());
        QCOMPARE(f.all().size(), 2);
        QCOMPARE(f.all().last().weekdays, QStringLiteral("一"));
        QVERIFY(f.all().last().zones.isEmpty());
    }

    void newEntryIsSavedAsTyped()
    {
        F f;
        f.add(6 * 3600, "early");
        f.add(9 * 3600, "late");
        f.dlg.clearedit();
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        F::type(QStringLiteral("7"));
        F::key(Qt::Key_Return);
        F::type(QStringLiteral("30"));
        F::key(Qt::Key_Return);
        F::type(QStringLiteral("5"));
        F::key(Qt::Key_Return);
        F::type(QStringLiteral("早读 铃"));
        F::key(Qt::Key_Return);
        f.home.touchMusic(QStringLiteral("上课 铃.mp3"));
        F::type(QStringLiteral("上课 铃.mp3")); // typed, never measured
        F::key(Qt::Key_Return);
        F::type(QStringLiteral("备注"));
        F::click(f.dlg.S2);
        F::click(f.dlg.Button1);

        QVERIFY(!f.dlg.isVisible());
        QVERIFY(f.messages.shown.isEmpty());
        const QList<BellEntry> all = f.all();
        QCOMPARE(all.size(), 3);
        const BellEntry e = all[1];
        QCOMPARE(e.time, 7 * 3600 + 30 * 60 + 5);
        QCOMPARE(e.name, QStringLiteral("早读 铃"));
        QCOMPARE(e.music, QStringLiteral("上课 铃.mp3"));
        QCOMPARE(e.weekdays, QStringLiteral("二"));
        QCOMPARE(e.duration, QString());
        QCOMPARE(e.remark, QStringLiteral("备注"));
        QCOMPARE(f.dlg.recordState(), TFormEditDaLing::RecordState::Browse);
        QCOMPARE(f.dlg.record()->id, e.id);
        QCOMPARE(f.board.lastEditedIndex(), 1);
        QVERIFY(f.editorPlayer.log.isEmpty());
    }

    void allDaysToggleAcrossAddsAndChanges()
    {
        F f;
        const qint64 id = f.add(8 * 3600, "x", QStringLiteral(""));
        f.home.touchMusic(QStringLiteral("a.mp3"));
        f.dlg.clearedit();
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        auto downDays = [&] {
            QString s;
            for (int i = 0; i < 7; ++i)
                if ((std::array{f.dlg.S0, f.dlg.S1, f.dlg.S2, f.dlg.S3, f.dlg.S4, f.dlg.S5,
                                f.dlg.S6})[i]->isChecked())
                    s += WeekdaySet::dayChar(i);
            return s;
        };
        QCOMPARE(downDays(), QString());
        F::click(f.dlg.S);
        QCOMPARE(downDays(), QStringLiteral("日一二三四五六"));
        F::click(f.dlg.S0);
        F::click(f.dlg.S6);
        QVERIFY(f.dlg.S->isChecked()); // single days leave "全选" alone
        QCOMPARE(downDays(), QStringLiteral("一二三四五"));
        QCOMPARE(F::focused(), f.dlg.EditHour); // toggles take no focus
        F::click(f.dlg.S);
        QCOMPARE(downDays(), QString());
        F::click(f.dlg.S);
        F::click(f.dlg.S3);
        F::type(QStringLiteral("8"));
        F::key(Qt::Key_Tab);
        F::key(Qt::Key_Tab);
        F::key(Qt::Key_Tab);
        f.fill(f.dlg.EditYinYue, QStringLiteral("a.mp3"));
        F::click(f.dlg.Button1);
        QCOMPARE(f.store.entry(QString::number(f.dlg.record()->id))->weekdays,
                 QStringLiteral("日一二四五六"));

        // "全选" left down: the next add still opens with "全选" and every day up.
        f.dlg.clearedit();
        QCOMPARE(downDays(), QString());
        QVERIFY(!f.dlg.S->isChecked());
        QVERIFY(f.dlg.EditHour->text().isEmpty() && f.dlg.EditYinYue->text().isEmpty());
        // A change sets "全选" up and shows the entry's days (none here) …
        f.dlg.locate(QString::number(id));
        f.dlg.fillFromRecord();
        QVERIFY(!f.dlg.S->isChecked());
        QCOMPARE(downDays(), QString());
        QCOMPARE(f.dlg.EditHour->text(), QStringLiteral("08"));
        // … so the add after it opens with none down.
        f.dlg.S1->setChecked(true);
        f.dlg.clearedit();
        QCOMPARE(downDays(), QString());
    }

    void closeDropsTheChangeButMovesTheSelection()
    {
        F f;
        f.add(6 * 3600, "a");
        f.add(7 * 3600, "b");
        const qint64 id = f.add(12 * 3600, "c");
        const BellEntry before = *f.store.entry(QString::number(id));
        f.dlg.locate(QString::number(id));
        f.dlg.fillFromRecord();
        QVERIFY(f.show(f.dlg.EditHour));
        f.fill(f.dlg.EditHour, QStringLiteral("6"));
        f.fill(f.dlg.EditMin, QStringLiteral("30"));
        f.fill(f.dlg.EditName, QStringLiteral("changed"));
        F::click(f.dlg.S2);
        F::click(f.dlg.Button2);
        QVERIFY(!f.dlg.isVisible());
        QCOMPARE(*f.store.entry(QString::number(id)), before);
        QCOMPARE(f.board.lastEditedIndex(), 1); // 06:30:00 stands after "a"
        QCOMPARE(f.dlg.recordState(), TFormEditDaLing::RecordState::Browse);

        // The close box too; an empty time field leaves the index alone.
        f.dlg.locate(QString::number(id));
        f.dlg.fillFromRecord();
        QVERIFY(f.show(f.dlg.EditName));
        f.dlg.EditHour->clear();
        f.dlg.close();
        QVERIFY(!f.dlg.isVisible());
        QCOMPARE(f.board.lastEditedIndex(), 1);
        QVERIFY(f.messages.shown.isEmpty());
    }

    void storedWeekdayTextsShowTheirDays()
    {
        const struct { const char *stored, *down; } cases[] = {
            {"一二三四五", "0111110"}, {"工作日", "0111110"}, {"周一至周五", "0111110"},
            {"周末", "1000001"}, {"日六", "1000001"}, {"", "0000000"},
            {"一？三", "0101000"}, // unreadable: the characters it holds, as before
        };
        for (const auto &c : cases) {
            QString down;
            for (bool d : EntryEditor::storedDays(QString::fromUtf8(c.stored)))
                down += d ? u'1' : u'0';
            QCOMPARE(down, QString::fromLatin1(c.down));
        }
        F f;
        const qint64 id = f.add(8 * 3600, "a", QStringLiteral("周一至周五"));
        f.dlg.locate(QString::number(id));
        f.dlg.fillFromRecord();
        QVERIFY(f.dlg.S3->isChecked() && !f.dlg.S6->isChecked() && !f.dlg.S0->isChecked());
    }

    void changeIsSavedAndAFailedSaveStaysOpen()
    {
        F f;
        const qint64 id = f.add(12 * 3600, "c");
        f.home.touchMusic(QStringLiteral("c.mp3"));
        f.dlg.locate(QString::number(id));
        f.dlg.fillFromRecord();
        QVERIFY(f.show(f.dlg.EditName));
        f.fill(f.dlg.EditName, QStringLiteral("new"));
        F::click(f.dlg.Button1);
        QVERIFY(!f.dlg.isVisible());
        BellEntry want{id, 12 * 3600, "new", "c.mp3", "一二三四五", "3", "r"};
        QCOMPARE(*f.store.entry(QString::number(id)), want);
        QCOMPARE(f.all().size(), 1);

        // The entry vanished while the dialog was open: the save says so, the
        // dialog stays with the change pending, and closing drops it.
        f.dlg.locate(QString::number(id));
        f.dlg.fillFromRecord();
        QVERIFY(f.show(f.dlg.EditName));
        f.store.clear();
        F::click(f.dlg.Button1);
        QVERIFY(f.dlg.isVisible());
        QCOMPARE(f.messages.shown.last().kind, QStringLiteral("general"));
        QVERIFY(f.messages.shown.last().text.startsWith(QStringLiteral("该铃声记录已不存在")));
        QCOMPARE(f.dlg.recordState(), TFormEditDaLing::RecordState::Edit);
        F::click(f.dlg.Button2);
        QVERIFY(!f.dlg.isVisible());
        QCOMPARE(f.dlg.recordState(), TFormEditDaLing::RecordState::Browse);
        QVERIFY(f.all().isEmpty());
    }
};

QTEST_MAIN(EditorSaveTest)
#include "tst_editor_save.moc"
