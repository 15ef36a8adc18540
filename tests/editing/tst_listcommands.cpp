#include "editorfixture.h"
#include "listcommands.h"
#include "zonestore.h"

// The editor is shown without a modal loop; the operator's actions run in
// its place and must close it.
struct CommandsFixture : EditorFixture {
    FakePlayer mainPlayer{&clock};
    TestPlayback test{board, mainPlayer, messages};
    std::function<void()> operatorActs;
    int shown = 0;
    bool leftOpen = false;
    ListCommands cmds{board, dlg, test, mainPlayer, messages, [this](TFormEditDaLing &d) {
                          ++shown;
                          if (!show())
                              return;
                          if (operatorActs)
                              operatorActs();
                          leftOpen = d.isVisible();
                          d.hide();
                      }};

    void select(int row) { board.setSelectedRow(row); }
    QString name(int row) const
    {
        const BellEntry *e = board.entryAtRow(row);
        return e ? e->name : QString();
    }
};

class ListCommandsTest : public QObject {
    Q_OBJECT
    using F = CommandsFixture;

private slots:
    void addSavesAndSelectsTheNewEntry()
    {
        F f;
        f.add(6 * 3600, "a");
        f.add(9 * 3600, "c");
        f.home.touchMusic(QStringLiteral("b.mp3"));
        f.board.Refresh();
        f.dlg.EditName->setText(QStringLiteral("left from last time"));
        f.operatorActs = [&] {
            QVERIFY(f.dlg.EditName->text().isEmpty()); // cleared first
            f.fill(f.dlg.EditHour, QStringLiteral("7"));
            f.fill(f.dlg.EditMin, QStringLiteral("30"));
            f.fill(f.dlg.EditSec, QStringLiteral("0"));
            f.fill(f.dlg.EditName, QStringLiteral("b"));
            f.fill(f.dlg.EditYinYue, QStringLiteral("b.mp3"));
            F::click(f.dlg.S);
            F::click(f.dlg.Button1);
        };
        f.cmds.ButtonADDClick();
        QVERIFY(!f.leftOpen);
        QCOMPARE(f.name(2), QStringLiteral("b"));
        QCOMPARE(f.board.entryAtRow(2)->time, 7 * 3600 + 30 * 60);
        QCOMPARE(f.board.entryAtRow(2)->weekdays, QStringLiteral("日一二三四五六"));
        QCOMPARE(f.board.selectedRow(), 2);

        // "关 闭" after typing a time: nothing stored, the selection moves.
        f.operatorActs = [&] {
            QVERIFY(!f.dlg.S0->isChecked() && !f.dlg.S->isChecked()); // cleared, "全选" included
            f.fill(f.dlg.EditHour, QStringLiteral("10"));
            f.fill(f.dlg.EditMin, QStringLiteral("0"));
            f.fill(f.dlg.EditSec, QStringLiteral("0"));
            F::click(f.dlg.Button2);
        };
        f.cmds.ButtonADDClick();
        QCOMPARE(f.all().size(), 3);
        QCOMPARE(f.board.selectedRow(), 4);
        QVERIFY(f.messages.shown.isEmpty());
    }

    void changeFillsTheEditorAndUpdates()
    {
        F f;
        f.add(6 * 3600, "a");
        const qint64 id = f.store.insert({0, 9 * 3600 + 7, "c", "c.mp3", "", "12", "rem"});
        f.home.touchMusic(QStringLiteral("c.mp3"));
        f.home.touchMusic(QStringLiteral("new.mp3"));
        f.board.Refresh();
        f.select(2);
        f.operatorActs = [&] {
            QCOMPARE(f.dlg.EditHour->text(), QStringLiteral("09"));
            QCOMPARE(f.dlg.EditMin->text(), QStringLiteral("00"));
            QCOMPARE(f.dlg.EditSec->text(), QStringLiteral("07"));
            QCOMPARE(f.dlg.EditName->text(), QStringLiteral("c"));
            QCOMPARE(f.dlg.EditYinYue->text(), QStringLiteral("c.mp3"));
            QCOMPARE(f.dlg.EditTimeLong->text(), QStringLiteral("12"));
            QCOMPARE(f.dlg.EditBeiZhu->text(), QStringLiteral("rem"));
            for (QPushButton *b : {f.dlg.S0, f.dlg.S1, f.dlg.S6, f.dlg.S})
                QVERIFY(!b->isChecked()); // empty 周期: every day up
            f.fill(f.dlg.EditHour, QStringLiteral("5"));
            F::click(f.dlg.S3);
            F::click(f.dlg.Button1);
        };
        f.cmds.ButtonEditClick();
        QVERIFY(!f.leftOpen);
        BellEntry want{id, 5 * 3600 + 7, "c", "c.mp3", "三", "12", "rem"};
        QCOMPARE(*f.store.entry(QString::number(id)), want);
        QCOMPARE(f.all().size(), 2);
        QCOMPARE(f.board.selectedRow(), 1); // now the first entry
        QCOMPARE(f.name(1), QStringLiteral("c"));

        // An empty row: the editor opens at 00:00:00 and its save adds.
        f.select(5);
        f.operatorActs = [&] {
            QCOMPARE(f.dlg.EditHour->text() + f.dlg.EditMin->text() + f.dlg.EditSec->text(),
                     QStringLiteral("000000"));
            QVERIFY(f.dlg.EditName->text().isEmpty() && f.dlg.EditYinYue->text().isEmpty());
            QVERIFY(!f.dlg.S2->isChecked());
            f.fill(f.dlg.EditYinYue, QStringLiteral("new.mp3"));
            F::click(f.dlg.Button1);
            QCOMPARE(f.messages.shown.takeLast().text, EntryEditor::kNoWeekday);
            F::click(f.dlg.S2);
            F::click(f.dlg.Button1);
        };
        f.cmds.ButtonEditClick();
        QCOMPARE(f.all().size(), 3);
        QCOMPARE(f.all().first().music, QStringLiteral("new.mp3"));

        // Not while bells ring or a test plays.
        f.board.setRunning(true);
        f.cmds.ButtonEditClick();
        f.cmds.ButtonADDClick();
        f.board.setRunning(false);
        f.board.setTesting(true);
        f.cmds.ButtonEditClick();
        f.cmds.ButtonDelClick();
        QCOMPARE(f.shown, 2);
        QVERIFY(f.messages.shown.isEmpty());
    }

    void deleteAsksByRowNumber()
    {
        F f;
        f.store.remove(QString::number(f.add(1, "gone")));
        f.add(6 * 3600, "a");
        f.add(7 * 3600, "b");
        const qint64 idC = f.add(8 * 3600, "c");
        f.board.Refresh();
        f.select(3);
        f.messages.answers = {Messages::Answer::No, Messages::Answer::Yes};
        f.cmds.ButtonDelClick();
        QCOMPARE(f.all().size(), 3);
        QCOMPARE(f.messages.shown.last().kind, QStringLiteral("Confirm"));
        QCOMPARE(f.messages.shown.last().text, QStringLiteral("你确定删除第  3 条 【c】 吗？"));
        QVERIFY(idC != 3);

        f.dlg.EditName->setText(QStringLiteral("x"));
        f.cmds.ButtonDelClick();
        QVERIFY(!f.store.entry(QString::number(idC)));
        QCOMPARE(f.all().size(), 2);
        QVERIFY(f.name(3).isEmpty()); // reloaded
        QVERIFY(f.dlg.EditName->text().isEmpty());           // the editor was cleared

        // An empty row holds nothing to delete: said plainly, nothing asked,
        // nothing deleted and the grid not reloaded.
        f.add(9 * 3600, "d");
        f.messages.shown.clear();
        f.select(4);
        try {
            f.cmds.ButtonDelClick();
            QFAIL("no error");
        } catch (const StoreError &e) {
            QCOMPARE(e.text(), QStringLiteral("所选行没有铃声记录，无法删除"));
        }
        QVERIFY(f.messages.shown.isEmpty());
        QCOMPARE(f.all().size(), 3);
        QVERIFY(f.name(3).isEmpty());
    }

    void clearAsksThenEmptiesTheList()
    {
        F f;
        f.add(6 * 3600, "a");
        f.board.Refresh();
        f.messages.answers = {Messages::Answer::No};
        f.cmds.N6Click();
        QCOMPARE(f.all().size(), 1);
        QCOMPARE(f.messages.shown.last().text, ListCommands::kClearQuestion);
        QCOMPARE(f.messages.shown.last().kind, QStringLiteral("Confirm"));

        // Also in running mode, and again on an empty list.
        f.board.setRunning(true);
        f.board.setLabelNowTime(QStringLiteral("0"));
        f.cmds.N6Click();
        QVERIFY(f.all().isEmpty());
        QVERIFY(f.name(1).isEmpty());
        f.cmds.N6Click();
        QCOMPARE(f.messages.count(ListCommands::kClearQuestion), 3);
    }

    void doubleClickPlaysThroughTestPlayback()
    {
        F f;
        f.add(6 * 3600, "missing");
        f.add(7 * 3600, "good");
        f.add(8 * 3600, "other");
        f.home.touchMusic(QStringLiteral("good.mp3"));
        f.home.touchMusic(QStringLiteral("other.mp3"));
        f.mainPlayer.lengths[QStringLiteral("good.mp3")] = 4000;
        f.board.Refresh();

        // Running mode: nothing.
        f.board.setRunning(true);
        f.cmds.StringGridshowDblClick();
        QVERIFY(!f.board.testing());
        f.board.setRunning(false);
        f.board.Refresh();

        // A missing file: the test's start asks whether to go on, the click
        // says the file is not found.
        f.select(1);
        f.cmds.StringGridshowDblClick();
        QCOMPARE(f.messages.shown.size(), 2);
        QCOMPARE(f.messages.shown.first().kind, QStringLiteral("Confirm"));
        QCOMPARE(f.messages.count(BellBoard::kNotFound), 1);
        QCOMPARE(f.messages.shown.last().kind, QStringLiteral("plain"));
        QVERIFY(f.board.testing());
        QCOMPARE(f.board.checkCaption(), QStringLiteral("停止测试"));
        QCOMPARE(f.board.yunXing(), QStringLiteral("missing.mp3"));
        // Ending it with nothing open has nothing to stop, and says nothing.
        f.test.ButtonCheckClick();
        QVERIFY(!f.board.testing());

        // A good file plays from its beginning; the editing buttons go off.
        f.messages.shown.clear();
        f.select(2);
        f.cmds.StringGridshowDblClick();
        QVERIFY(f.messages.shown.isEmpty());
        QVERIFY(f.board.testing());
        QVERIFY(!f.board.editingEnabled());
        QCOMPARE(f.mainPlayer.played.last(), QStringLiteral("good.mp3"));
        QCOMPARE(f.mainPlayer.mode(), AudioPlayer::Mode::Playing);
        QCOMPARE(f.mainPlayer.position(), 0);
        QCOMPARE(f.board.progressMax(), 4000);

        // During the test a double-click moves it to the clicked row.
        f.clock.advanceMs(1500);
        f.select(3);
        f.cmds.StringGridshowDblClick();
        QVERIFY(f.board.testing());
        QCOMPARE(f.mainPlayer.played.last(), QStringLiteral("other.mp3"));
        QCOMPARE(f.board.yunXing(), QStringLiteral("other.mp3"));
        QCOMPARE(f.mainPlayer.position(), 0);
        QVERIFY(f.messages.shown.isEmpty());
        f.test.ButtonCheckClick();
    }

    // A bell with zones is heard in its zones only, never also on 铃声输出;
    // moving on to a bell without zones silences the zones.
    void doubleClickPlaysABellWithZonesInItsZonesOnly()
    {
        F f;
        FakePlayer zonePlayer{&f.clock};
        const qint64 zone = ZoneStore(f.store).add({0, "操场", "pulse/field", 0});
        f.test.zonePlayer = [&](qint64 id) { return id == zone ? &zonePlayer : nullptr; };
        f.store.insert({0, 7 * 3600, "上课", "a.mp3", "一", "", "", {zone}});
        f.store.insert({0, 8 * 3600, "下课", "b.mp3", "一", "", "", {zone}});
        f.add(9 * 3600, "plain");
        for (const char *m : {"a.mp3", "b.mp3", "plain.mp3"})
            f.home.touchMusic(QString::fromLatin1(m));
        f.board.Refresh();

        f.select(1);
        f.cmds.StringGridshowDblClick();
        QVERIFY(f.board.testing());
        QCOMPARE(zonePlayer.played, QStringList{"a.mp3"});
        QVERIFY(zonePlayer.isPlaying());
        QVERIFY2(f.mainPlayer.played.isEmpty(), qPrintable(f.mainPlayer.played.join(',')));

        f.select(2);
        f.cmds.StringGridshowDblClick();
        QCOMPARE(zonePlayer.played, (QStringList{"a.mp3", "b.mp3"}));
        QVERIFY(zonePlayer.isPlaying());
        QVERIFY(f.mainPlayer.played.isEmpty());
        QCOMPARE(f.board.yunXing(), QStringLiteral("b.mp3"));

        f.select(3);
        f.cmds.StringGridshowDblClick();
        QCOMPARE(f.mainPlayer.played, QStringList{"plain.mp3"});
        QVERIFY(!zonePlayer.isPlaying());
        QVERIFY(f.messages.shown.isEmpty());
        f.test.ButtonCheckClick();
    }
};

QTEST_MAIN(ListCommandsTest)
#include "tst_listcommands.moc"
