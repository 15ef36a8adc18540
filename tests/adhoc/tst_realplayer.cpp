// The window over the real libmpv player (null output) with its own timers
// running: generated tones play, advance and fail as an operator sees them.
#include "../audio/audiotestutil.h"
#include "adhocfixture.h"
#include "mpvplayer.h"

class TestRealPlayer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void playsFromTheBarAndAdvancesToTheEnd();
    void removedFileGivesTheMessageAndMovesOn();
};

struct RealFixture : AdhocFixture {
    MpvPlayer mpv{MpvPlayer::Output::Null};
    std::unique_ptr<TFormLinShiGuangBo> real;
    RealFixture()
    {
        if (ok())
            real = std::make_unique<TFormLinShiGuangBo>(store, mpv, msgs, dialogs);
    }
    QStringList realTones(const QStringList &names, double seconds)
    {
        QStringList paths;
        for (const QString &n : names)
            paths << makeTone(home.music() + n, seconds);
        return paths;
    }
};

void TestRealPlayer::initTestCase()
{
    QTemporaryDir dir;
    const QString tone = makeTone(dir.path() + "/probe.wav", 0.2);
    QVERIFY2(!tone.isEmpty(), "ffmpeg could not generate a tone");
    MpvPlayer probe(MpvPlayer::Output::Null);
    probe.setFileName(tone);
    try {
        openWaiting(probe);
    } catch (const AudioError &e) {
        QSKIP(qPrintable("the audio backend cannot open a generated tone: " + e.text()));
    }
}

void TestRealPlayer::playsFromTheBarAndAdvancesToTheEnd()
{
    RealFixture f;
    QVERIFY(f.ok());
    f.dialogs.openManyAnswers.push_back(f.realTones({"a.wav", "b.wav"}, 2.0));
    f.real->ButtonOpenClick();
    f.real->show();
    QCOMPARE(f.real->selectedIndex(), 0);
    QCOMPARE(f.mpv.fileName(), f.home.music() + "a.wav");

    f.real->TrackBar1->setValue(50);
    f.real->ButtonPlayClick();
    // At once, or once a slow open (a loaded machine) has read the file.
    QTRY_COMPARE_WITH_TIMEOUT(f.mpv.mode(), AudioPlayer::Mode::Playing, 10000);
    QVERIFY2(qAbs(f.mpv.position() - 1000) < 300, qPrintable(QString::number(f.mpv.position())));
    QTRY_VERIFY_WITH_TIMEOUT(f.real->TrackBar1->value() >= 60, 2000);

    // a ends after about a second; within a further second b starts.
    QTRY_COMPARE_WITH_TIMEOUT(f.real->selectedIndex(), 1, 4000);
    QTRY_COMPARE_WITH_TIMEOUT(f.mpv.mode(), AudioPlayer::Mode::Playing, 2000);
    QCOMPARE(f.mpv.fileName(), f.home.music() + "b.wav");
    // b plays to its end and nothing follows: the window is stopped.
    QTRY_VERIFY_WITH_TIMEOUT(f.mpv.mode() != AudioPlayer::Mode::Playing, 4000);
    QTest::qWait(1500);
    QVERIFY(!f.mpv.isPlaying());
    QCOMPARE(f.real->selectedIndex(), 1);
    // The player's end brings the window back to its stopped state.
    QCOMPARE(f.real->ButtonPlay->text(), QStringLiteral("播  放"));
    QVERIFY(!f.real->ButtonPaused->isEnabled());
    QVERIFY(f.real->playTime->text().isEmpty());
    QVERIFY(f.msgs.shown.isEmpty());
    f.real->close();
}

void TestRealPlayer::removedFileGivesTheMessageAndMovesOn()
{
    RealFixture f;
    QVERIFY(f.ok());
    f.dialogs.openManyAnswers.push_back(f.realTones({"gone.wav", "b.wav"}, 1.0));
    f.real->ButtonOpenClick();
    QVERIFY(QFile::remove(f.home.music() + "gone.wav"));
    f.real->show(); // opening the first line fails while the window opens
    QCOMPARE(f.msgs.texts(),
             QStringList({"找不到    " + f.home.music() + "gone.wav，  或系统不支持该音乐文件！"}));
    f.real->ButtonPlayClick();
    QCOMPARE(f.msgs.shown.size(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(f.real->selectedIndex(), 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(f.mpv.mode(), AudioPlayer::Mode::Playing, 2000);
    f.real->close(); // asked once, answered Yes
    QVERIFY(!f.mpv.isPlaying());
    QCOMPARE(f.msgs.shown.size(), 3);
    QCOMPARE(f.msgs.texts().last(), AdhocPlayer::kCloseWhilePlaying);
}

QTEST_MAIN(TestRealPlayer)
#include "tst_realplayer.moc"
