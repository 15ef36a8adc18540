// The editor's fields as the operator types into them: digits only in the
// time, the range checked on leaving a field, Enter walking the Tab order,
// and the save naming the first field to correct.
#include "editorfixture.h"
#include "weekdayset.h"

#include <QClipboard>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

#include <limits>

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

class EditorFieldsTest : public QObject {
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
        f.dlg.S1->setChecked(true);
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
        QTest::addColumn<QString>("days"); // the weekdays down
        const auto past = EntryEditor::kPastMidnight;
        const int hour = int(EntryEditor::Field::Hour), music = int(EntryEditor::Field::Music);
        QTest::newRow("24:30:00") << QStringList{"24", "30", "00"} << "a.mp3" << past << hour << "一";
        QTest::newRow("24:00:00") << QStringList{"24", "0", "0"} << "a.mp3" << past << hour << "一";
        QTest::newRow("99 hours") << QStringList{"99", "0", "0"} << "a.mp3" << past << hour << "一";
        QTest::newRow("minute 60") << QStringList{"10", "60", "0"} << "a.mp3" << "不能大于59分"
                                   << int(EntryEditor::Field::Minute) << "一";
        QTest::newRow("second 75") << QStringList{"10", "0", "75"} << "a.mp3" << "不能大于59秒"
                                   << int(EntryEditor::Field::Second) << "一";
        const QString notThere = EntryEditor::notInMusicFolder(QStringLiteral("%1"));
        for (const char *name : {"../../etc/passwd", "nosuch.mp3", "sub", "sub/b.mp3", "..", "/etc/passwd"})
            QTest::addRow("music %s", name) << QStringList{"8", "0", "0"} << name << notThere.arg(name) << music << "一";
        // A bell on no weekday would never ring.
        const int days = int(EntryEditor::Field::Days);
        QTest::newRow("no weekday") << QStringList{"8", "0", "0"} << "a.mp3" << EntryEditor::kNoWeekday << days << "";
        QTest::newRow("23:59:59") << QStringList{"23", "59", "59"} << "a.mp3" << "" << 0 << "日六";
    }
    void saveRefusesWhatCannotRing()
    {
        QFETCH(QStringList, time);
        QFETCH(QString, music);
        QFETCH(QString, says);
        QFETCH(int, field);
        QFETCH(QString, days);
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
        EntryFields fields{time[0], time[1], time[2], "铃", music, "", "", WeekdaySet::toDays(days)};
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

QTEST_MAIN(EditorFieldsTest)
#include "tst_editor_fields.moc"
