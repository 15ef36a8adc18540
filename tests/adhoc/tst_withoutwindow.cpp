// The ad-hoc playlist and player driven without a window, the rules the
// window's widgets add (a blank click, Escape), and the ducking of the
// broadcast under a bell.
#include "adhocfixture.h"
#include "adhocplayer.h"
#include "ducking.h"
#include "settings.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using Mode = AudioPlayer::Mode;

struct Bare : AdhocFakes {
    AdhocPlaylist list{store, msgs, dialogs};
    AdhocPlayer adhoc{list, player, msgs};
    bool ok = store.open(home.db()).isEmpty();

    void fill(const QStringList &names)
    {
        QStringList paths;
        for (const QString &n : names)
            paths << home.touchMusic(n);
        dialogs.openManyAnswers.push_back(paths);
        list.addFiles();
    }
    // The bar's tick, the player's news, a move-on that is due.
    void tick(qint64 ms = 1000)
    {
        clock.advanceMs(ms);
        adhoc.TimerPostionTimer();
        player.advance();
        if (adhoc.movingOn())
            adhoc.moveOn();
    }
};

class TestWithoutWindow : public QObject {
    Q_OBJECT
private slots:
    void playsAdvancesAndEndsWithoutWidgets();
    void noOutputIsNotAMissingFile();
    void blankClickAndEscapeInTheWindow();
    void duckingRampsDownAndBack();
    void duckingSettingAndSwitchingOff();
    void bellWatchFollowsTheBellPlayer();
    void advanceFollowsThePlayersNews();
    void timeShownAndCloseAskedWhilePlaying();
    void windowShowsTimeDuckingAndKeepsPlayingOnNo();
    void whatAStepThrowsIsLoggedAndShown();
};

void TestWithoutWindow::playsAdvancesAndEndsWithoutWidgets()
{
    Bare f;
    QVERIFY(f.ok);
    f.fill({"a.wav", "b.wav", "c.wav"});
    f.player.lengths = {{"a.wav", 2000}, {"b.wav", 3000}, {"c.wav", 1000}};
    f.adhoc.FormShow();
    QCOMPARE(f.list.selected(), 0);
    f.list.select(-1); // nothing but a line can be selected
    f.list.select(7);
    QCOMPARE(f.list.selected(), 0);

    QSignalSpy changed(&f.adhoc, &AdhocPlayer::changed);
    f.adhoc.setBar(50);
    f.adhoc.ButtonPlayClick();
    QVERIFY(changed.count() >= 2);
    QCOMPARE(f.adhoc.playCaption(), AdhocPlayer::kStop);
    QVERIFY(f.adhoc.pauseEnabled());
    QCOMPARE(f.player.position(), 1000);
    QStringList selected;
    for (int i = 0; i < 8; ++i) {
        f.tick();
        selected << QString::number(f.list.selected());
    }
    // a ends at the first tick (started half way), b plays 3 s, c 1 s, then nothing.
    QCOMPARE(selected.join(""), QStringLiteral("11122222"));
    QCOMPARE(f.player.played, QStringList({"a.wav", "b.wav", "c.wav"}));
    // Past the last line it is stopped again, as after 停  止.
    QCOMPARE(f.adhoc.playCaption(), AdhocPlayer::kPlay);
    QVERIFY(!f.adhoc.playMode());
    QVERIFY(!f.adhoc.pauseEnabled());
    QCOMPARE(f.adhoc.bar(), 0);
    QVERIFY(f.adhoc.playTime().isEmpty());
    QVERIFY(f.adhoc.Timer1.isActive());
    QVERIFY(f.adhoc.mayClose());
    QVERIFY(f.msgs.shown.isEmpty());
    // No clock of the player runs while nothing plays.
    for (const QTimer *t : f.adhoc.findChildren<QTimer *>())
        QVERIFY(!t->isActive());

    f.adhoc.ButtonPlayClick();
    QCOMPARE(f.adhoc.playCaption(), AdhocPlayer::kStop);
    QCOMPARE(f.player.played.last(), QStringLiteral("c.wav"));
}

void TestWithoutWindow::noOutputIsNotAMissingFile()
{
    Bare f;
    QVERIFY(f.ok);
    f.fill({"a.wav", "b.wav"});
    f.adhoc.FormShow();
    f.player.outputDown = true;
    QString captionInBox;
    f.msgs.whileOpen = [&](const FakeMessages::Shown &) { captionInBox = f.adhoc.playCaption(); };
    f.adhoc.ButtonPlayClick();
    QCOMPARE(f.msgs.texts(), QStringList({AdhocPlayer::kNoOutput}));
    QCOMPARE(captionInBox, AdhocPlayer::kStop); // the box shows over the state reached
    // At the advance the output message stops the advance as a bad file does.
    f.tick();
    QCOMPARE(f.msgs.texts().size(), 2);
    QCOMPARE(f.msgs.texts().last(), AdhocPlayer::kNoOutput);
    QVERIFY(!f.adhoc.Timer1.isActive());
    // A missing file still names the file.
    f.player.outputDown = false;
    QFile::remove(f.home.music() + "a.wav");
    f.list.select(0);
    f.adhoc.ListBox1DblClick(); // leaves play mode
    f.adhoc.ListBox1DblClick();
    QCOMPARE(f.msgs.texts().last(), AdhocPlayer::fileMessage(f.home.music() + "a.wav"));
}

void TestWithoutWindow::blankClickAndEscapeInTheWindow()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    auto &[home, store, clock, player, msgs, dialogs] = static_cast<AdhocFakes &>(f);
    TFormLinShiGuangBo &form = *f.form;
    dialogs.openManyAnswers.push_back({home.touchMusic("a.wav"), home.touchMusic("b.wav")});
    form.show();
    form.ButtonOpenClick();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *list = form.ListBox1;
    const QRect last = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, last.center());
    QCOMPARE(form.selectedIndex(), 1);
    const QPoint blank(last.center().x(), last.bottom() + 40);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, blank);
    QVERIFY(list->item(1)->isSelected());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, last.center());
    QVERIFY(list->item(1)->isSelected());
    QCOMPARE(form.selectedIndex(), 1);
    QCOMPARE(list->currentRow(), 1);

    // Escape and Enter neither close the window nor start playing.
    QTest::keyClick(list, Qt::Key_Escape);
    QTest::keyClick(&form, Qt::Key_Escape);
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(form.isVisible());
    QCOMPARE(player.playCount, 0);
    form.Button1Click(); // deletes the line the blank click kept
    QVERIFY(msgs.shown.isEmpty());
    QCOMPARE(form.lineIds().size(), 1);
}

void TestWithoutWindow::duckingRampsDownAndBack()
{
    FakeClock clock;
    FakePlayer broadcast(&clock);
    broadcast.setVolume(80);
    broadcast.volumes.clear();
    Ducking d(broadcast, nullptr);
    QCOMPARE(d.ramp.interval() * Ducking::kRampSteps, Ducking::kRampMs);
    d.bellStarted();
    d.bellStarted(); // a second bell over the first changes nothing
    QVERIFY(d.ducked());
    QVERIFY(d.ramp.isActive());
    for (int i = 0; i < Ducking::kRampSteps; ++i)
        d.rampStep();
    QVERIFY(!d.ramp.isActive());
    QCOMPARE(broadcast.volume(), 16); // a fifth of its own 80
    QCOMPARE(broadcast.volumes.size(), Ducking::kRampSteps);
    QVERIFY(std::is_sorted(broadcast.volumes.rbegin(), broadcast.volumes.rend()));

    // The bell ends half way back, another starts: down again, and back to
    // the broadcast's own level, never to the half-way one.
    d.bellEnded();
    for (int i = 0; i < Ducking::kRampSteps / 2; ++i)
        d.rampStep();
    QCOMPARE(broadcast.volume(), 48);
    d.bellStarted();
    for (int i = 0; i < Ducking::kRampSteps; ++i)
        d.rampStep();
    QCOMPARE(broadcast.volume(), 16);
    d.bellEnded();
    QTRY_VERIFY_WITH_TIMEOUT(!d.ramp.isActive(), 2000); // the real timer ends the ramp
    QCOMPARE(broadcast.volume(), 80);
    d.bellEnded();
    QCOMPARE(broadcast.volume(), 80);
}

void TestWithoutWindow::duckingSettingAndSwitchingOff()
{
    TempHome home;
    BellStore store;
    QVERIFY(store.open(home.db()).isEmpty());
    Settings settings(store);
    FakeClock clock;
    FakePlayer broadcast(&clock);
    {
        Ducking d(broadcast, &settings);
        QVERIFY(d.enabled()); // on by default
        d.bellStarted();
        for (int i = 0; i < Ducking::kRampSteps; ++i)
            d.rampStep();
        QCOMPARE(broadcast.volume(), 20);
        d.setEnabled(false); // off while the bell sounds: back at once
        QCOMPARE(broadcast.volume(), 100);
        QVERIFY(!d.ramp.isActive());
        d.bellEnded();
        d.bellStarted();
        QCOMPARE(broadcast.volume(), 100);
        QVERIFY(!d.ramp.isActive());
    }
    QCOMPARE(settings.value(Ducking::kSetting), QStringLiteral("0"));
    Ducking again(broadcast, &settings);
    QVERIFY(!again.enabled());
}

void TestWithoutWindow::bellWatchFollowsTheBellPlayer()
{
    TempHome home;
    FakeClock clock;
    FakePlayer bell(&clock);
    bell.lengths["b.wav"] = 2000;
    BellSoundWatch w(bell);
    QSignalSpy started(&w, &BellSoundWatch::started), ended(&w, &BellSoundWatch::ended);

    // Announced by the engine: started at once, even before the player plays.
    w.bellRang();
    QCOMPARE(started.count(), 1);
    bell.setFileName(home.touchMusic("b.wav"));
    bell.open();
    bell.play();
    QCOMPARE(ended.count(), 0);
    // The player tells the end: over at once, and nothing left to wait for.
    clock.advanceMs(2500);
    emit bell.ended(false);
    QCOMPARE(ended.count(), 1);
    QVERIFY(!w.grace.isActive());

    // A bell announced that never sounds is over when its grace ends; one
    // stopped by a caller is over at once. Nothing is looked at meanwhile.
    w.grace.setInterval(10);
    w.bellRang();
    QVERIFY(w.grace.isActive());
    QTRY_COMPARE(ended.count(), 2);
    bell.play();
    w.bellRang();
    QVERIFY(!w.grace.isActive()); // it sounds already: its signals tell the end
    bell.stop();
    QCOMPARE(ended.count(), 3);

    // Test playback: the whole test counts, across the ends of its files.
    w.setTesting(true);
    QCOMPARE(started.count(), 4);
    bell.play();
    clock.advanceMs(2500);
    emit bell.ended(false);
    bell.play();
    bell.close();
    QCOMPARE(ended.count(), 3);
    w.setTesting(false);
    QCOMPARE(ended.count(), 4);
}

// The advance runs when the player tells its file ended, not by looking;
// a slow open (going on in the background) plays when it is read.
void TestWithoutWindow::advanceFollowsThePlayersNews()
{
    struct SlowPlayer : FakePlayer {
        using FakePlayer::FakePlayer;
        bool slow = false;
        void open() override
        {
            FakePlayer::open();
            if (slow)
                throw AudioError(QStringLiteral("正在读取…"), AudioError::Cause::Pending);
        }
    };
    AdhocFakes f;
    QVERIFY(f.store.open(f.home.db()).isEmpty());
    SlowPlayer player(&f.clock);
    AdhocPlaylist list(f.store, f.msgs, f.dialogs);
    AdhocPlayer adhoc(list, player, f.msgs);
    f.dialogs.openManyAnswers.push_back({f.home.touchMusic("a.wav"), f.home.touchMusic("b.wav")});
    list.addFiles();
    player.lengths = {{"a.wav", 2000}, {"b.wav", 2000}};
    adhoc.FormShow();
    adhoc.ButtonPlayClick();
    // Nothing here calls the advance: only the player's news moves it.
    f.clock.advanceMs(2500);
    if (list.selected() == 0) // a fake that does not tell the end by itself
        emit player.ended(false);
    QCOMPARE(list.selected(), 1);
    QCOMPARE(player.played, QStringList({"a.wav", "b.wav"}));

    adhoc.ButtonPlayClick(); // stop
    list.select(0);
    player.slow = true;
    adhoc.ButtonPlayClick();
    QVERIFY(f.msgs.shown.isEmpty()); // no "系统不支持" for a file still being read
    QCOMPARE(player.played.size(), 2);
    emit player.opened();
    QCOMPARE(player.played.last(), QStringLiteral("a.wav"));
    QCOMPARE(player.playCount, 3);

    // One that turns out bad names its file, as a failed open at once does.
    adhoc.ButtonPlayClick();
    adhoc.ButtonPlayClick();
    emit player.openFailed(QStringLiteral("坏"), AudioError::Cause::File);
    QCOMPARE(f.msgs.texts(), QStringList({AdhocPlayer::fileMessage(f.home.music() + "a.wav")}));
    QCOMPARE(player.playCount, 3);
}

void TestWithoutWindow::timeShownAndCloseAskedWhilePlaying()
{
    QCOMPARE(AdhocPlayer::timeText(83'000, 296'000), QStringLiteral("01:23 / 04:56"));
    QCOMPARE(AdhocPlayer::timeText(-40, 999), QStringLiteral("00:00 / 00:00"));
    QCOMPARE(AdhocPlayer::timeText(3'723'000, 7'200'000), QStringLiteral("1:02:03 / 2:00:00"));

    Bare f;
    QVERIFY(f.ok);
    f.fill({"a.wav"});
    f.player.lengths = {{"a.wav", 296'000}};
    f.adhoc.FormShow();
    QVERIFY(f.adhoc.mayClose()); // nothing plays: no question
    f.adhoc.ButtonPlayClick();
    f.tick(83'000);
    QCOMPARE(f.adhoc.playTime(), QStringLiteral("01:23 / 04:56"));


    // Paused, the time stays and closing loses no sound; stopped, it goes.
    f.adhoc.ButtonPausedClick();
    f.tick();
    QCOMPARE(f.adhoc.playTime(), QStringLiteral("01:23 / 04:56"));
    QVERIFY(f.adhoc.mayClose());
    f.adhoc.ButtonPlayClick();
    QVERIFY(f.adhoc.playTime().isEmpty());
    QVERIFY(f.msgs.shown.isEmpty());
}

void TestWithoutWindow::windowShowsTimeDuckingAndKeepsPlayingOnNo()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    TFormLinShiGuangBo &form = *f.form;
    f.dialogs.openManyAnswers.push_back({f.home.touchMusic("a.wav")});
    f.player.lengths = {{"a.wav", 60'000}};
    Ducking ducking(f.player, nullptr);
    form.watchDucking(ducking);
    form.ButtonOpenClick();
    form.show(); // selects and opens the first line
    QVERIFY(form.duckedNote->isHidden());
    ducking.bellStarted();
    QVERIFY(!form.duckedNote->isHidden());
    QCOMPARE(form.duckedNote->text(), Ducking::kDuckedNote);

    form.ButtonPlayClick();
    f.tick(5'000);
    QCOMPARE(form.playTime->text(), QStringLiteral("00:05 / 01:00"));
    f.msgs.answers = {Messages::Answer::No};
    form.close();
    QVERIFY(form.isVisible());
    QCOMPARE(f.player.mode(), AudioPlayer::Mode::Playing);
    QCOMPARE(f.msgs.texts(), QStringList{AdhocPlayer::kCloseWhilePlaying});
    QCOMPARE(f.msgs.shown[0].caption, QStringLiteral("&No")); // a stray Enter keeps it playing
    f.msgs.answers = {Messages::Answer::Yes};
    form.close(); // asked once more, and only once
    QVERIFY(!form.isVisible());
    QVERIFY(f.player.mode() != AudioPlayer::Mode::Playing);
    QCOMPARE(f.msgs.shown.size(), 2);
    ducking.setEnabled(false); // back at once, the note goes with it
    QVERIFY(form.duckedNote->isHidden());
}

QTEST_MAIN(TestWithoutWindow)
// Whatever a step throws (not only the player's own errors) is logged in
// daling.audio and shown; the state the window shows stays consistent.
void TestWithoutWindow::whatAStepThrowsIsLoggedAndShown()
{
    struct BrokenPause : FakePlayer {
        using FakePlayer::FakePlayer;
        void pause() override { throw std::runtime_error("pipe closed"); }
    };
    Bare f;
    QVERIFY(f.ok);
    BrokenPause broken(&f.clock);
    AdhocPlayer adhoc(f.list, broken, f.msgs);
    f.fill({"a.wav"});
    adhoc.FormShow();
    adhoc.ButtonPlayClick();
    QVERIFY(broken.isPlaying());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ad-hoc broadcast.*pipe closed"));
    adhoc.ButtonPausedClick();
    QCOMPARE(f.msgs.texts().size(), 1);
    QVERIFY(f.msgs.texts().first().startsWith("pipe closed"));
}

#include "tst_withoutwindow.moc"
