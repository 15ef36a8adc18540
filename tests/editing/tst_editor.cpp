#include "../audio/audiotestutil.h"
#include "editorfixture.h"

#include <QCheckBox>
#include "weekdayset.h"

#include "mpvplayer.h"

#include <QClipboard>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

// Real modal boxes, answered by a timer: the focus goes to the box and back
// as it does for the operator.
class ModalMessages : public FakeMessages {
public:
    void typedOk(Kind kind, const QString &text) override
    {
        FakeMessages::typedOk(kind, text);
        QTimer::singleShot(50, [] {
            if (QWidget *box = QApplication::activeModalWidget())
                box->close();
        });
        QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Error"), text);
    }
};

namespace {

// A WAV header announcing `ms` milliseconds at 1000 bytes a second (the
// samples themselves are not needed to tell the length).
QByteArray wavHeader(quint32 ms)
{
    QByteArray b;
    auto le32 = [&](quint32 v) { for (int i = 0; i < 4; ++i) b.append(char(v >> (8 * i))); };
    auto le16 = [&](quint16 v) { b.append(char(v)); b.append(char(v >> 8)); };
    b.append("RIFF");
    le32(36 + ms);
    b.append("WAVEfmt ");
    le32(16);
    le16(1);
    le16(1);
    le32(1000);
    le32(1000);
    le16(1);
    le16(8);
    b.append("data");
    le32(ms);
    return b;
}

} // namespace

class EditorTest : public QObject {
    Q_OBJECT
    using F = EditorFixture;

private slots:
    void timeFieldsTakeDigitsOnly()
    {
        F f;
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        F::type(QStringLiteral("1a:2 b"));
        QCOMPARE(f.dlg.EditHour->text(), QStringLiteral("12"));
        F::key(Qt::Key_Backspace);
        QCOMPARE(f.dlg.EditHour->text(), QStringLiteral("1"));
        // A paste cannot bring letters in either.
        QApplication::clipboard()->setText(QStringLiteral("3x"));
        QTest::keyClick(F::focused(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f.dlg.EditHour->text(), QStringLiteral("1"));
        // Other fields take any text.
        F::key(Qt::Key_Tab);
        F::key(Qt::Key_Tab);
        F::key(Qt::Key_Tab);
        QCOMPARE(F::focused(), f.dlg.EditName);
        F::type(QStringLiteral("ab 1"));
        QCOMPARE(f.dlg.EditName->text(), QStringLiteral("ab 1"));
    }

    void leavingTimeFieldsFillsAndChecksRange()
    {
        F f;
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        F::key(Qt::Key_Tab);
        F::key(Qt::Key_Return); // Enter leaves a field just as Tab does
        F::key(Qt::Key_Tab);
        QCOMPARE(f.dlg.EditHour->text(), QStringLiteral("00"));
        QCOMPARE(f.dlg.EditMin->text(), QStringLiteral("00"));
        QCOMPARE(f.dlg.EditSec->text(), QStringLiteral("00"));
        QVERIFY(f.messages.shown.isEmpty());

        f.fill(f.dlg.EditHour, QStringLiteral("24"));
        F::key(Qt::Key_Tab);
        QVERIFY(f.messages.shown.isEmpty());
        QCOMPARE(F::focused(), f.dlg.EditMin);

        // 25 is refused; the value stays and the field keeps the focus, and
        // the field it was leaving for is not checked in passing.
        f.fill(f.dlg.EditHour, QStringLiteral("25"));
        f.dlg.EditMin->clear();
        F::key(Qt::Key_Return);
        QCOMPARE(f.messages.texts(), QStringList{QStringLiteral("不能大于24小时")});
        QCOMPARE(f.messages.shown.last().kind, QStringLiteral("Error"));
        QCOMPARE(F::focused(), f.dlg.EditHour);
        QCOMPARE(f.dlg.EditHour->text(), QStringLiteral("25"));
        QCOMPARE(f.dlg.EditMin->text(), QString());

        f.fill(f.dlg.EditHour, QStringLiteral("0"));
        f.fill(f.dlg.EditMin, QStringLiteral("60"));
        F::click(f.dlg.EditName);
        f.fill(f.dlg.EditMin, QStringLiteral("59"));
        f.fill(f.dlg.EditSec, QStringLiteral("060"));
        F::key(Qt::Key_Tab);
        QCOMPARE(f.messages.texts(), (QStringList{QStringLiteral("不能大于24小时"),
                                                  QStringLiteral("不能大于59分"),
                                                  QStringLiteral("不能大于59秒")}));
        QCOMPARE(F::focused(), f.dlg.EditSec);
    }

    void rangeCheckWithARealBox()
    {
        TempHome home;
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        FakeClock clock;
        BellBoard board{store, clock, AppPaths(home.path())};
        FakePlayer player{&clock};
        ModalMessages messages;
        FakeFileDialogs dialogs;
        TFormEditDaLing dlg{store, board, player, messages, dialogs};
        dlg.beginInsert();
        dlg.show();
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.EditHour->setFocus();
        F::type(QStringLiteral("30"));
        F::key(Qt::Key_Tab);
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("不能大于24小时")});
        // The window system hands the activation back after the box.
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(QApplication::focusWidget(), dlg.EditHour);
        QCOMPARE(dlg.EditMin->text(), QString()); // not checked in passing
        QCOMPARE(messages.shown.size(), 1);
        F::type(QStringLiteral("\b\b2"));
        F::key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dlg.EditMin);
        QCOMPARE(messages.shown.size(), 1);
    }

    void enterWalksTheTabOrderAndPressesButtons()
    {
        F f;
        f.home.touchMusic(QStringLiteral("a.mp3"));
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        const QList<QWidget *> order{f.dlg.EditMin, f.dlg.EditSec, f.dlg.EditName,
                                     f.dlg.EditYinYue, f.dlg.EditBeiZhu, f.dlg.Button1,
                                     f.dlg.Button2};
        for (QWidget *next : order) {
            F::key(Qt::Key_Tab);
            QCOMPARE(F::focused(), next);
        }
        F::click(f.dlg.EditHour);
        for (QWidget *next : order.mid(0, 6)) {
            F::key(Qt::Key_Enter);
            QCOMPARE(F::focused(), next);
        }
        // Enter on "保 存": the save runs and asks for the music file.
        F::key(Qt::Key_Return);
        QCOMPARE(f.messages.texts().last(), QStringLiteral("必须选择音乐文件"));
        QCOMPARE(F::focused(), f.dlg.EditYinYue);
        F::type(QStringLiteral("a.mp3"));
        F::key(Qt::Key_Return);
        F::key(Qt::Key_Return);
        F::key(Qt::Key_Tab);
        QCOMPARE(F::focused(), f.dlg.Button2);
        F::key(Qt::Key_Return);
        QVERIFY(!f.dlg.isVisible());
        QVERIFY(f.all().isEmpty());
    }

    void saveNamesTheFirstMissingField()
    {
        F f;
        f.dlg.beginInsert();
        f.dlg.EditName->setFocus(); // where the last use of the dialog left it
        QVERIFY(f.show());
        QCOMPARE(F::focused(), f.dlg.EditName);
        const QList<std::pair<QLineEdit *, QString>> steps{
            {f.dlg.EditHour, QStringLiteral("必须输入小时")},
            {f.dlg.EditMin, QStringLiteral("必须输入分钟")},
            {f.dlg.EditSec, QStringLiteral("必须输入秒钟")},
            {f.dlg.EditYinYue, QStringLiteral("必须选择音乐文件")}};
        for (const auto &[field, text] : steps) {
            F::click(f.dlg.Button1);
            QCOMPARE(f.messages.shown.last().text, text);
            QCOMPARE(f.messages.shown.last().kind, QStringLiteral("Error"));
            QCOMPARE(F::focused(), field);
            field->setText(QStringLiteral("1"));
            F::click(f.dlg.EditName); // the next missing field is not filled in passing
        }
        QVERIFY(f.dlg.isVisible());
        QVERIFY(f.all().isEmpty());
    }

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
        F::click(f.dlg.Button1);

        QVERIFY(!f.dlg.isVisible());
        QVERIFY(f.messages.shown.isEmpty());
        const QList<BellEntry> all = f.all();
        QCOMPARE(all.size(), 3);
        const BellEntry e = all[1];
        QCOMPARE(e.time, 7 * 3600 + 30 * 60 + 5);
        QCOMPARE(e.name, QStringLiteral("早读 铃"));
        QCOMPARE(e.music, QStringLiteral("上课 铃.mp3"));
        QCOMPARE(e.weekdays, QString()); // no day down
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

        // "全选" left down: the next add opens with every day down.
        f.dlg.clearedit();
        QCOMPARE(downDays(), QStringLiteral("日一二三四五六"));
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

    void chooserAcceptsOnlyTheMusicFolder()
    {
        F f;
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        for (QLineEdit *e : {f.dlg.EditHour, f.dlg.EditMin, f.dlg.EditSec})
            e->setText(QStringLiteral("08"));
        f.dlg.EditYinYue->setText(QStringLiteral("old.mp3"));
        f.dlg.EditTimeLong->setText(QStringLiteral("7"));
        // 185.6 s by its header; measured without any sound output.
        const QString good = f.home.touchMusic(QStringLiteral("上课.mp3"), wavHeader(185600));
        f.editorPlayer.outputDown = true;
        QDir(f.home.music()).mkpath(QStringLiteral("sub"));
        const QString sub = f.home.touchMusic(QStringLiteral("sub/b.mp3"));
        const QString outside = f.home.path() + QStringLiteral("c.mp3");
        const QString upper = f.home.path() + QStringLiteral("音乐/../音乐/d.mp3");

        auto choose = [&](std::optional<QString> answer) {
            f.dialogs.openAnswers.push_back(std::move(answer));
            F::click(f.dlg.SpeedButton8);
        };
        choose(std::nullopt); // cancelled: nothing changes
        QCOMPARE(f.dlg.EditYinYue->text(), QStringLiteral("old.mp3"));
        QVERIFY(f.messages.shown.isEmpty());

        const QString hint = QStringLiteral("为了方便管理，请先把 \r\r%1\r\r复制到：\r\r%2");
        for (const QString &path : {outside, sub, upper}) {
            choose(path);
            QCOMPARE(f.dlg.EditYinYue->text(), QString());
            QCOMPARE(f.dlg.EditTimeLong->text(), QStringLiteral("7"));
            QCOMPARE(f.messages.shown.last().kind, QStringLiteral("plain"));
            QCOMPARE(f.messages.shown.last().text, hint.arg(path, f.home.music()));
        }
        QVERIFY(f.editorPlayer.log.isEmpty());
        F::click(f.dlg.Button1);
        QCOMPARE(f.messages.texts().last(), QStringLiteral("必须选择音乐文件"));

        f.messages.shown.clear();
        choose(good);
        QCOMPARE(f.dlg.EditYinYue->text(), QStringLiteral("上课.mp3"));
        QCOMPARE(f.dlg.EditTimeLong->text(), QStringLiteral("185"));
        QVERIFY(f.messages.shown.isEmpty());
        QCOMPARE(f.editorPlayer.mode(), AudioPlayer::Mode::NotReady);
        QVERIFY(f.editorPlayer.log.isEmpty());

        // A file the player cannot open.
        const QString broken = f.home.touchMusic(QStringLiteral("broken.mp3"), QByteArray());
        choose(broken);
        QCOMPARE(f.messages.texts(), QStringList{QStringLiteral("系统不支持该音乐文件！")});
        QCOMPARE(f.messages.shown.last().kind, QStringLiteral("plain"));
        QCOMPARE(f.dlg.EditYinYue->text(), QString());
        QCOMPARE(f.dlg.EditTimeLong->text(), QStringLiteral("185"));

        // Each use starts from the file chosen last; a cancel keeps it.
        choose(std::nullopt);
        QCOMPARE(f.dialogs.openStartPaths,
                 (QStringList{QString(), QString(), outside, sub, upper, good, broken}));
        QCOMPARE(f.dlg.lastChosenPath(), broken);
    }

    void chooserMeasuresWithTheRealPlayer()
    {
        F f;
        MpvPlayer player(MpvPlayer::Output::Null);
        TFormEditDaLing dlg{f.store, f.board, player, f.messages, f.dialogs};
        const QString tone = makeTone(f.home.music() + QStringLiteral("tone.wav"), 2.5);
        if (tone.isEmpty())
            QSKIP("ffmpeg is missing");
        try {
            player.setFileName(tone);
            openWaiting(player);
            player.close();
        } catch (const AudioError &e) {
            QSKIP(qPrintable(QStringLiteral("the player cannot open a good file yet: ") + e.text()));
        }
        // An m4a's header gives no length: the player measures it, in the
        // background where the machine is slow ("正在读取…" meanwhile).
        const QString m4a = makeTone(f.home.music() + QStringLiteral("tone.m4a"), 3.5);
        f.dialogs.openAnswers = {m4a, tone, f.home.touchMusic(QStringLiteral("text.mp3"), "not audio\n")};
        dlg.SpeedButton8Click();
        QCOMPARE(dlg.EditYinYue->text(), QStringLiteral("tone.m4a"));
        QVERIFY(dlg.EditTimeLong->text() == QStringLiteral("3") || dlg.EditTimeLong->text() == EntryEditor::kReading);
        QVERIFY(QTest::qWaitFor([&] { return dlg.EditTimeLong->text() == QStringLiteral("3"); }, 20000));
        QVERIFY(f.messages.shown.isEmpty());
        dlg.SpeedButton8Click();
        QCOMPARE(dlg.EditYinYue->text(), QStringLiteral("tone.wav"));
        QCOMPARE(dlg.EditTimeLong->text(), QStringLiteral("2"));
        dlg.SpeedButton8Click();
        QCOMPARE(f.messages.texts(), QStringList{QStringLiteral("系统不支持该音乐文件！")});
        QCOMPARE(dlg.EditYinYue->text(), QString());
        QCOMPARE(dlg.EditTimeLong->text(), QStringLiteral("2"));
        QCOMPARE(player.mode(), AudioPlayer::Mode::NotReady);
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

    void hugeNumbersAreReportedNotFatal()
    {
        F f;
        f.add(6 * 3600, "a");
        f.home.touchMusic(QStringLiteral("a.mp3"));
        f.dlg.clearedit();
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        const QString huge(40, u'9');
        F::type(huge);
        QCOMPARE(f.dlg.EditHour->text(), huge); // no length limit
        F::key(Qt::Key_Tab);
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.messages.shown.last().kind, QStringLiteral("general"));
        QVERIFY(f.messages.shown.last().text.startsWith(QStringLiteral("小时的数字太大")));
        QCOMPARE(F::focused(), f.dlg.EditHour);

        f.dlg.EditMin->setText(QStringLiteral("0"));
        f.dlg.EditSec->setText(QStringLiteral("0"));
        f.dlg.EditYinYue->setText(QStringLiteral("a.mp3"));
        f.messages.shown.clear();
        f.dlg.Button1->click(); // without leaving the field
        QVERIFY(f.dlg.isVisible());
        QCOMPARE(f.messages.shown.size(), 1);
        QVERIFY(f.messages.shown.last().text.startsWith(QStringLiteral("小时的数字太大")));
        QCOMPARE(f.dlg.recordState(), TFormEditDaLing::RecordState::Insert);
        QCOMPARE(f.all().size(), 1);

        // Closing drops the new entry but waits for a number it can place.
        f.dlg.Button2->click();
        QVERIFY(f.dlg.isVisible());
        QCOMPARE(f.messages.shown.size(), 2);
        QCOMPARE(f.dlg.recordState(), TFormEditDaLing::RecordState::Browse);

        // A number that fits but whose time does not: saving is refused,
        // closing places it after every entry.
        f.dlg.EditHour->setText(QString::number(std::numeric_limits<qint64>::max()));
        f.dlg.Button1->click();
        QVERIFY(f.dlg.isVisible());
        QCOMPARE(f.messages.shown.last().text,
                 Messages::errorText(QStringLiteral("时间的数字太大，无法保存，请重新输入")));
        f.dlg.Button2->click();
        QVERIFY(!f.dlg.isVisible());
        QCOMPARE(f.board.lastEditedIndex(), 1);
        QCOMPARE(f.all().size(), 1);

        // Many leading zeros are still a small number.
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        f.fill(f.dlg.EditHour, QString(30, u'0') + QStringLiteral("7"));
        F::click(f.dlg.Button1);
        QCOMPARE(f.all().last().time, 7 * 3600);
    }

    // The save refuses what the day could never ring and any file but one
    // of the music folder, naming the field to correct.
    void saveRefusesWhatCannotRing_data()
    {
        QTest::addColumn<QStringList>("time");
        QTest::addColumn<QString>("music");
        QTest::addColumn<QString>("says"); // empty: saved
        QTest::addColumn<int>("field");
        const auto past = EntryEditor::kPastMidnight;
        const int hour = int(EntryEditor::Field::Hour), music = int(EntryEditor::Field::Music);
        QTest::newRow("24:30:00") << QStringList{"24", "30", "00"} << "a.mp3" << past << hour;
        QTest::newRow("24:00:00") << QStringList{"24", "0", "0"} << "a.mp3" << past << hour;
        QTest::newRow("99 hours") << QStringList{"99", "0", "0"} << "a.mp3" << past << hour;
        QTest::newRow("minute 60") << QStringList{"10", "60", "0"} << "a.mp3" << "不能大于59分"
                                   << int(EntryEditor::Field::Minute);
        QTest::newRow("second 75") << QStringList{"10", "0", "75"} << "a.mp3" << "不能大于59秒"
                                   << int(EntryEditor::Field::Second);
        const QString notThere = EntryEditor::notInMusicFolder(QStringLiteral("%1"));
        for (const char *name : {"../../etc/passwd", "nosuch.mp3", "sub", "sub/b.mp3", "..", "/etc/passwd"})
            QTest::addRow("music %s", name) << QStringList{"8", "0", "0"} << name << notThere.arg(name) << music;
        QTest::newRow("23:59:59") << QStringList{"23", "59", "59"} << "a.mp3" << "" << 0;
    }
    void saveRefusesWhatCannotRing()
    {
        QFETCH(QStringList, time);
        QFETCH(QString, music);
        QFETCH(QString, says);
        QFETCH(int, field);
        TempHome home;
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        FakeClock clock;
        FakePlayer player(&clock);
        home.touchMusic(QStringLiteral("a.mp3"));
        QDir(home.music()).mkpath(QStringLiteral("sub"));
        home.touchMusic(QStringLiteral("sub/b.mp3"));
        EntryEditor editor(store, player, home.music());
        editor.beginInsert();
        EntryFields fields{time[0], time[1], time[2], "铃", music, "", "", {}};
        const auto refusal = editor.save(fields);
        if (says.isEmpty()) {
            QVERIFY(!refusal);
            QCOMPARE(store.list("%").size(), 1);
            QCOMPARE(store.list("%").first().time, 86399);
            return;
        }
        QVERIFY(refusal);
        QCOMPARE(refusal->text, says);
        QCOMPARE(int(refusal->field), field);
        QVERIFY(store.list("%").isEmpty());
        QCOMPARE(editor.recordState(), EntryEditor::RecordState::Insert);
    }
};

QTEST_MAIN(EditorTest)
#include "tst_editor.moc"
