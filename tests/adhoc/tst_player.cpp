// The ad-hoc player: play and stop, pause and continue, the position bar,
// the advance from line to line, double-click, files that will not open,
// closing while playing. The player follows a fake clock.
#include "adhocfixture.h"

#include <QTimer>

using Mode = AudioPlayer::Mode;

class TestPlayer : public QObject {
    Q_OBJECT
private slots:
    void startsAtTheBarAndStopResetsIt();
    void playButtonNeedsALine();
    void pauseMoveTheBarContinue();
    void advancesAcrossThreeLinesAndEnds();
    void missingFileAtTheButtonMovesOn();
    void missingFileAtTheAdvanceStops();
    void deleteAndClearWhilePlaying();
    void closeWhilePlayingAndReopen();
    void closeAfterTheEndAndReopenAdvances();
    void doubleClick();
    void dragOverTheBarSeeksAndPlaysOn();
    void barArithmeticIsWide();
    void zeroLengthLeavesTheBarAtZero();
};

// Three real files in the list; a: 5 s, b: 3 s, c: 2 s on the fake clock.
static void fill(AdhocFixture &f, const QStringList &names = {"a.wav", "b.wav", "c.wav"})
{
    f.add(f.tones(names));
    f.player.lengths["a.wav"] = 5000;
    f.player.lengths["b.wav"] = 3000;
    f.player.lengths["c.wav"] = 2000;
}

void TestPlayer::startsAtTheBarAndStopResetsIt()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f);
    QCOMPARE(f.playCaption(), QStringLiteral("播  放"));
    QVERIFY(!f.form->ButtonPaused->isEnabled());
    QVERIFY(f.form->Timer1->isActive());
    QVERIFY(!f.form->TimerPostion->isActive()); // the bar sleeps while nobody sees it
    f.form->show();
    QVERIFY(f.form->TimerPostion->isActive());
    f.form->close();
    QVERIFY(!f.form->TimerPostion->isActive());
    QVERIFY(f.form->Timer1->isActive()); // the advance goes on behind a closed window
    QCOMPARE(f.form->TimerPostion->interval(), 100);
    // Idle, nothing of the window or its player keeps a clock running.
    for (const QTimer *t : f.form->findChildren<QTimer *>())
        QVERIFY2(!t->isActive(), qPrintable(t->objectName()));

    f.select(0);
    f.form->TrackBar1->setValue(50);
    f.form->ButtonPlayClick();
    QCOMPARE(f.playCaption(), QStringLiteral("停  止"));
    QCOMPARE(f.pauseCaption(), QStringLiteral("暂  停"));
    QVERIFY(f.form->ButtonPaused->isEnabled());
    QCOMPARE(f.player.mode(), Mode::Playing);
    QCOMPARE(f.player.position(), 2500);
    QCOMPARE(f.player.fileName(), f.home.music() + "a.wav");

    f.tick(1000);
    QCOMPARE(f.form->TrackBar1->value(), 70);
    f.form->ButtonPlayClick();
    QCOMPARE(f.playCaption(), QStringLiteral("播  放"));
    QCOMPARE(f.form->TrackBar1->value(), 0);
    QVERIFY(!f.form->ButtonPaused->isEnabled());
    QCOMPARE(f.player.mode(), Mode::Stopped); // stopped, the file still open
    f.tick(5000);
    QCOMPARE(f.player.playCount, 1); // idle: ticks start nothing
    QVERIFY(f.msgs.shown.isEmpty());
}

void TestPlayer::playButtonNeedsALine()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    f.form->ButtonPlayClick();
    fill(f);
    f.form->ButtonPlayClick();
    QCOMPARE(f.msgs.texts(), QStringList({"无音乐文件！", "请选择音乐文件！"}));
    QCOMPARE(f.playCaption(), QStringLiteral("播  放"));
    QCOMPARE(f.player.playCount, 0);
}

void TestPlayer::pauseMoveTheBarContinue()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f);
    f.player.lengths["a.wav"] = 10000;
    f.select(0);
    f.form->ButtonPlayClick();
    f.tick(3000);
    QCOMPARE(f.form->TrackBar1->value(), 30);

    f.form->ButtonPausedClick();
    QCOMPARE(f.pauseCaption(), QStringLiteral("继  续"));
    QVERIFY(f.form->ButtonPaused->isEnabled());
    QVERIFY(!f.form->Timer1->isActive());
    QCOMPARE(f.player.mode(), Mode::Paused);
    f.tick(20000); // a long pause plays nothing further
    QCOMPARE(f.player.playCount, 1);
    QCOMPARE(f.form->TrackBar1->value(), 30);

    f.form->TrackBar1->setValue(20);
    f.form->ButtonPausedClick();
    QCOMPARE(f.pauseCaption(), QStringLiteral("暂  停"));
    QVERIFY(f.form->Timer1->isActive());
    QCOMPARE(f.player.mode(), Mode::Playing);
    QCOMPARE(f.player.position(), 2000);
    QCOMPARE(f.player.fileName(), f.home.music() + "a.wav");

    // With the bar left alone, continuing goes on from the exact point of
    // the pause, not back to the whole per cent (2 % = 2000 ms).
    f.tick(345);
    QCOMPARE(f.form->TrackBar1->value(), 23);
    f.form->ButtonPausedClick();
    f.tick(1000);
    f.form->ButtonPausedClick();
    QCOMPARE(f.player.position(), 2345);

    // "暂  停" while nothing plays only changes the caption and the advance.
    f.form->ButtonPlayClick(); // stop
    f.form->ButtonPausedClick();
    QCOMPARE(f.pauseCaption(), QStringLiteral("继  续"));
    QVERIFY(!f.form->Timer1->isActive());
    QVERIFY(f.msgs.shown.isEmpty());
}

void TestPlayer::advancesAcrossThreeLinesAndEnds()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f);
    f.select(0);
    f.form->ButtonPlayClick();
    f.tick(1000);
    QCOMPARE(f.form->selectedIndex(), 0);
    f.tick(4000); // a ends; this tick starts b
    QCOMPARE(f.form->selectedIndex(), 1);
    QCOMPARE(f.player.mode(), Mode::Playing);
    QCOMPARE(f.player.position(), 0);
    f.tick(3000);
    QCOMPARE(f.form->selectedIndex(), 2);
    f.tick(2000); // c ends; nothing follows: the window is back to stopped
    f.tick(1000);
    f.tick(1000);
    QCOMPARE(f.player.played, QStringList({"a.wav", "b.wav", "c.wav"}));
    QCOMPARE(f.form->selectedIndex(), 2);
    QCOMPARE(f.playCaption(), QStringLiteral("播  放"));
    QCOMPARE(f.pauseCaption(), QStringLiteral("暂  停"));
    QVERIFY(!f.form->ButtonPaused->isEnabled());
    QCOMPARE(f.form->TrackBar1->value(), 0);
    QVERIFY(f.form->playTime->text().isEmpty());
    QVERIFY(f.form->Timer1->isActive());
    QVERIFY(f.form->adhocPlayer().mayClose());
    QVERIFY(f.msgs.shown.isEmpty()); // closing asks nothing: nothing plays

    // Selecting another line while one plays: the advance goes on after it.
    f.select(0);
    f.form->ButtonPlayClick(); // play a
    f.select(1);
    f.tick(5000);
    QCOMPARE(f.player.played.last(), QStringLiteral("c.wav"));
    QVERIFY(f.msgs.shown.isEmpty());
}

void TestPlayer::missingFileAtTheButtonMovesOn()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f);
    QVERIFY(QFile::remove(f.home.music() + "a.wav")); // gone after it was added
    f.select(0);
    f.form->ButtonPlayClick();
    QCOMPARE(f.msgs.texts(),
             QStringList({"找不到    " + f.home.music() + "a.wav，  或系统不支持该音乐文件！"}));
    QCOMPARE(f.msgs.shown.first().kind, QStringLiteral("plain"));
    QCOMPARE(f.playCaption(), QStringLiteral("停  止"));
    QVERIFY(!f.form->ButtonPaused->isEnabled());
    QVERIFY(f.form->Timer1->isActive());
    f.tick(1000);
    QCOMPARE(f.form->selectedIndex(), 1);
    QCOMPARE(f.player.played, QStringList({"b.wav"}));
    // The pause button stays off through the lines the advance plays.
    QVERIFY(!f.form->ButtonPaused->isEnabled());

    // "停  止" with nothing open is simply a stop, without an error box.
    f.select(0);
    f.form->ButtonPlayClick(); // stop b
    f.form->ButtonPlayClick(); // a fails again
    f.form->ButtonPlayClick(); // stop: nothing is open
    QCOMPARE(f.playCaption(), QStringLiteral("播  放"));
    QCOMPARE(f.msgs.shown.size(), 2);
    QCOMPARE(f.msgs.shown.last().kind, QStringLiteral("plain"));
}

void TestPlayer::missingFileAtTheAdvanceStops()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f);
    QVERIFY(QFile::remove(f.home.music() + "b.wav"));
    // Further ticks while the box is open must not run on through the list.
    int ticksInBox = 0;
    f.msgs.whileOpen = [&](const FakeMessages::Shown &) {
        ++ticksInBox;
        f.tick(1000);
        f.tick(1000);
    };
    f.select(0);
    f.form->ButtonPlayClick();
    f.tick(5000);
    QCOMPARE(ticksInBox, 1);
    QCOMPARE(f.msgs.texts(),
             QStringList({"找不到    " + f.home.music() + "b.wav，  或系统不支持该音乐文件！"}));
    QVERIFY(!f.form->Timer1->isActive());
    QCOMPARE(f.form->selectedIndex(), 1);
    QCOMPARE(f.playCaption(), QStringLiteral("停  止"));
    f.tick(1000);
    f.tick(1000);
    QCOMPARE(f.player.played, QStringList({"a.wav"}));

    // Halted: pause and continue go on with the advance, without errors.
    f.msgs.whileOpen = nullptr;
    f.form->ButtonPausedClick();
    f.form->ButtonPausedClick();
    QVERIFY(f.form->Timer1->isActive());
    f.tick(1000);
    QCOMPARE(f.player.played, QStringList({"a.wav", "c.wav"}));
    QCOMPARE(f.msgs.shown.size(), 1);
}

void TestPlayer::deleteAndClearWhilePlaying()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f);
    f.select(1);
    f.form->ButtonPlayClick();
    f.form->Button1Click(); // deletes b, the line that plays
    QCOMPARE(f.lines(), QStringList({"a.wav", "c.wav"}));
    QCOMPARE(f.player.mode(), Mode::Playing);
    f.tick(3000); // b ends: the list starts over at its first line
    QCOMPARE(f.player.played, QStringList({"b.wav", "a.wav"}));
    QCOMPARE(f.form->selectedIndex(), 0);

    f.form->Button2Click();
    QVERIFY(f.lines().isEmpty());
    QCOMPARE(f.player.mode(), Mode::Playing);
    f.tick(5000);
    f.tick(1000);
    QCOMPARE(f.player.played.size(), 2);
    QCOMPARE(f.playCaption(), QStringLiteral("播  放")); // nothing left to play
    QVERIFY(f.msgs.shown.isEmpty());
}

void TestPlayer::closeWhilePlayingAndReopen()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f);
    f.form->show();
    f.select(1);
    f.form->ButtonPlayClick();
    f.tick(1000);
    f.form->close();
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.player.mode(), Mode::Stopped);
    QVERIFY(!f.form->Timer1->isActive());

    f.form->show();
    QCOMPARE(f.playCaption(), QStringLiteral("停  止"));
    QCOMPARE(f.form->selectedIndex(), 0);
    QCOMPARE(f.player.log.last(), QStringLiteral("open a.wav"));
    f.tick(10000);
    QCOMPARE(f.player.played, QStringList({"b.wav"}));
    QVERIFY(f.form->ButtonPaused->isEnabled());

    // "停  止" then "播  放" plays again.
    f.form->ButtonPlayClick();
    f.form->ButtonPlayClick();
    QCOMPARE(f.player.played.last(), QStringLiteral("a.wav"));
    QCOMPARE(f.player.mode(), Mode::Playing);

    // A paused file stays paused over a close.
    f.form->ButtonPausedClick();
    f.form->close();
    QCOMPARE(f.player.mode(), Mode::Paused);
    QCOMPARE(f.pauseCaption(), QStringLiteral("继  续"));
}

void TestPlayer::closeAfterTheEndAndReopenAdvances()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f, {"a.wav", "b.wav"});
    f.form->show();
    f.select(1);
    f.form->ButtonPlayClick();
    f.tick(3000);
    f.tick(1000);
    f.form->close();
    QVERIFY(f.form->Timer1->isActive());
    f.form->show();
    QCOMPARE(f.form->selectedIndex(), 0);
    QCOMPARE(f.playCaption(), QStringLiteral("播  放"));
    f.tick(1000);
    QCOMPARE(f.player.played, QStringList({"b.wav"})); // it ended: nothing starts by itself
    QCOMPARE(f.form->selectedIndex(), 0);
}

void TestPlayer::doubleClick()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    f.form->ListBox1DblClick(); // empty list: nothing, no message
    fill(f);
    f.form->ListBox1DblClick(); // no line selected: nothing
    QCOMPARE(f.playCaption(), QStringLiteral("播  放"));
    QCOMPARE(f.player.log, QStringList());

    f.form->TrackBar1->setValue(50);
    f.select(2);
    f.form->ListBox1DblClick();
    QCOMPARE(f.playCaption(), QStringLiteral("停  止"));
    QVERIFY(f.form->ButtonPaused->isEnabled());
    QCOMPARE(f.player.position(), 0); // from the beginning, whatever the bar says
    f.tick(1000);
    QCOMPARE(f.form->TrackBar1->value(), 50);

    f.select(0); // any line: a double-click in play mode stops
    f.form->ListBox1DblClick();
    QCOMPARE(f.playCaption(), QStringLiteral("播  放"));
    QVERIFY(!f.form->ButtonPaused->isEnabled());
    QCOMPARE(f.player.mode(), Mode::Stopped);
    QCOMPARE(f.form->TrackBar1->value(), 50);

    // With the mouse: the first click selects the line, the double-click plays it.
    f.form->show();
    QTest::mouseDClick(f.form->ListBox1->viewport(), Qt::LeftButton, {}, f.lineCentre(1));
    QCOMPARE(f.form->selectedIndex(), 1);
    QCOMPARE(f.player.played.last(), QStringLiteral("b.wav"));
    QCOMPARE(f.player.mode(), Mode::Playing);
    QVERIFY(f.msgs.shown.isEmpty());
    f.form->close();
}

void TestPlayer::dragOverTheBarSeeksAndPlaysOn()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f);
    f.player.lengths["a.wav"] = 10000;
    f.form->show();
    PositionBar *bar = f.form->TrackBar1;
    const QPoint at75(bar->width() * 3 / 4, bar->height() / 2);
    const int v = bar->valueAt(at75);
    QVERIFY2(v > 60 && v < 90, qPrintable(QString::number(v)));

    f.form->TrackBar1DragOver(at75); // idle: nothing
    QCOMPARE(bar->value(), 0);
    f.select(0);
    f.form->ButtonPlayClick();
    f.form->TrackBar1DragOver(at75);
    QCOMPARE(bar->value(), v);
    QCOMPARE(f.player.mode(), Mode::Playing);
    QCOMPARE(f.player.position(), qint64(v) * 100);
    f.tick(1000);
    // The same file plays on; no skip to the next line.
    QCOMPARE(f.player.played, QStringList({"a.wav", "a.wav"}));
    QCOMPARE(f.form->selectedIndex(), 0);
    QCOMPARE(f.player.position(), qint64(v) * 100 + 1000);
    f.form->close();
}

void TestPlayer::barArithmeticIsWide()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    fill(f);
    const qint64 eightHours = 8LL * 3600 * 1000;
    f.player.lengths["a.wav"] = eightHours;
    f.select(0);
    f.form->TrackBar1->setValue(80);
    f.form->ButtonPlayClick();
    QCOMPARE(f.player.position(), eightHours * 80 / 100);
    f.tick(3600 * 1000); // 7 h 24 min of 8 h
    QCOMPARE(f.form->TrackBar1->value(), 92);
}

// Reports a length of 0 while it plays.
class ZeroLengthPlayer : public FakePlayer {
public:
    using FakePlayer::FakePlayer;
    qint64 length() const override { return 0; }
};

void TestPlayer::zeroLengthLeavesTheBarAtZero()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    ZeroLengthPlayer player(&f.clock);
    TFormLinShiGuangBo form(f.store, player, f.msgs, f.dialogs);
    f.add(f.tones({"z.wav"}));
    form.Refresh();
    form.ListBox1->setCurrentRow(0);
    form.TrackBar1->setValue(40);
    form.ButtonPlayClick();
    QCOMPARE(player.mode(), Mode::Playing);
    f.clock.advanceMs(1000);
    form.TimerPostionTimer();
    QCOMPARE(form.TrackBar1->value(), 0);
    QVERIFY(f.msgs.shown.isEmpty());
}

QTEST_MAIN(TestPlayer)
#include "tst_player.moc"
