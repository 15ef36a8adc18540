// A sound server that stops answering (SIGSTOP on a PulseAudio server of the
// test's own): no call of the player may hold its caller for long, the calls
// that cannot be done say so (NoResponse), and once the server answers again
// the same player opens and sounds again, heard on the server's null sink.
#include "audiotestutil.h"
#include "fakes.h"
#include "mpvplayer.h"
#include "onsetrecorder.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <functional>
#include <memory>

using Mode = AudioPlayer::Mode;

namespace {

// Generous on purpose: the bound is 200 ms; this checks that nothing waits
// for the server, not how fast the player is.
constexpr qint64 kReturnsWithinMs = 1500;

struct Outcome {
    qint64 ms = 0;
    bool threw = false;
    bool noResponse = false;
    QString text;
};

Outcome timed(const std::function<void()> &fn)
{
    Outcome o;
    QElapsedTimer t;
    t.start();
    try {
        fn();
    } catch (const AudioError &e) {
        o.threw = true;
        o.noResponse = e.isNoResponse();
        o.text = e.text();
    }
    o.ms = t.elapsed();
    return o;
}

} // namespace

class StallTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    PrivatePulse m_server;

    // Plays `file` on `p` and returns the loudest sound heard on the sink.
    int heardPeak(MpvPlayer &p, const QString &file)
    {
        OnsetRecorder::Options options;
        options.device = "stall_null.monitor";
        OnsetRecorder rec(options);
        std::string error;
        if (!rec.start(&error)) {
            qWarning("recorder: %s", error.c_str());
            return -1;
        }
        p.setFileName(m_dir.filePath(file));
        openWaiting(p);
        const int64_t t0 = OnsetRecorder::wallNs();
        p.play();
        if (p.mode() != Mode::Playing
            || !pollUntil([&] { return p.mode() == Mode::Stopped; }, int(p.length()) + 3000))
            return -1;
        rec.waitQuiet(150, 5000);
        rec.stop();
        int peak = -1;
        for (const auto &s : rec.sounds())
            if (s.endNs > t0)
                peak = std::max(peak, s.peak);
        return peak;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(!makeTone(m_dir.filePath("a.wav"), 0.6, 880).isEmpty());
        QVERIFY(!makeTone(m_dir.filePath("b.mp3"), 0.6, 660).isEmpty());
        QVERIFY2(m_server.start("stall_null"), "pulseaudio did not come up");
    }

    void callsReturnWhileTheServerIsStopped()
    {
        MpvPlayer p(MpvPlayer::Output::System);
        p.setFileName(m_dir.filePath("a.wav"));
        openWaiting(p);
        auto stuck = std::make_unique<MpvPlayer>(MpvPlayer::Output::System);
        stuck->setFileName(m_dir.filePath("b.mp3"));
        openWaiting(*stuck);

        m_server.signal(SIGSTOP);
        auto resume = qScopeGuard([&] { m_server.signal(SIGCONT); });
        QThread::msleep(100);
        // Each call returns within the bound; where the server had to
        // answer, it says so (NoResponse) and the player holds nothing.
        struct Call {
            const char *name;
            AudioPlayer *player;
            std::function<void(AudioPlayer &)> call;
        };
        const Call calls[] = {
            {"play", &p, [](AudioPlayer &x) { x.play(); }},
            {"pause", &p, [](AudioPlayer &x) { x.pause(); }},
            {"seek", &p, [](AudioPlayer &x) { x.seek(100); }},
            {"setVolume", &p, [](AudioPlayer &x) { x.setVolume(50); }},
            {"play", stuck.get(), [](AudioPlayer &x) { x.play(); }},
            {"stop", stuck.get(), [](AudioPlayer &x) { x.stop(); }},
        };
        int noResponses = 0;
        for (const auto &[name, player, call] : calls) {
            const Outcome o = timed([&] { call(*player); });
            const QByteArray what = QByteArray(name) + ": " + QByteArray::number(o.ms) + " ms " + o.text.toUtf8();
            QVERIFY2(o.ms < kReturnsWithinMs, what);
            QVERIFY2(!o.threw || o.noResponse || o.text == kNoDeviceOpen, what);
            if (o.noResponse) {
                ++noResponses;
                QVERIFY2(o.text.contains(QStringLiteral("声音输出没有响应")), what);
                QCOMPARE(player->mode(), Mode::NotReady);
            }
        }
        QVERIFY2(noResponses >= 2, "the stopped server held no call: the test proves nothing");
        QVERIFY(stuck->mode() != Mode::Playing);

        // Later calls return at once or within the bound, also when the
        // player gives its stuck core up for a fresh one (which the stopped
        // server holds in turn).
        for (int wait : {0, MpvPlayer::kAbandonAfterMs + 100}) {
            QThread::msleep(wait);
            const Outcome open = timed([&] { p.open(); });
            QVERIFY2(open.ms < kReturnsWithinMs, qPrintable(QString::number(open.ms)));
            QVERIFY2(open.noResponse, qPrintable(open.text));
            QVERIFY(open.text.contains(m_dir.filePath("a.wav")));
            const Outcome stop = timed([&] { p.stop(); }); // nothing open now
            QVERIFY(stop.ms < kReturnsWithinMs);
            QVERIFY(stop.threw && !stop.noResponse);
            const Outcome close = timed([&] { p.close(); });
            QVERIFY(close.ms < kReturnsWithinMs && !close.threw);
            QCOMPARE(p.mode(), Mode::NotReady);
            QCOMPARE(p.position(), 0);
        }
        const Outcome destroy = timed([&] { stuck.reset(); });
        QVERIFY2(destroy.ms < kReturnsWithinMs, qPrintable(QString::number(destroy.ms)));

        resume.dismiss();
        m_server.signal(SIGCONT);
        // Cores given up on (the destroyed player's, and any the player
        // replaced) are destroyed by their own threads.
        QVERIFY(pollUntil([] { return MpvPlayer::coresAwaitingCleanup() == 0; }, 10000));
        // The same player sounds again.
        QVERIFY(pollUntil([&] {
            try {
                p.setFileName(m_dir.filePath("a.wav"));
                openWaiting(p);
                return true;
            } catch (const AudioError &) {
                return false;
            }
        }, 5000));
        QVERIFY(heardPeak(p, "b.mp3") > 1000);
        QVERIFY(!p.interrupted());
    }

    // An open left to the background while the server stops answering
    // still ends, with one openFailed() as NoResponse (the server's, not the
    // file's), and the call itself never waited.
    void backgroundOpenEndsWhenTheServerStalls()
    {
        MpvPlayer p(MpvPlayer::Output::System);
        QSignalSpy ok(&p, &AudioPlayer::opened), failed(&p, &AudioPlayer::openFailed);
        m_server.signal(SIGSTOP);
        auto resume = qScopeGuard([&] { m_server.signal(SIGCONT); });
        p.setFileName(m_dir.filePath("a.wav"));
        const Outcome call = timed([&] { p.openAsync(); });
        QVERIFY2(call.ms < kReturnsWithinMs && !call.threw, qPrintable(QString::number(call.ms)));
        QVERIFY(QTest::qWaitFor([&] { return !failed.isEmpty(); }, MpvPlayer::kPendingLimitMs + 3000));
        QCOMPARE(failed.first().at(1).value<AudioError::Cause>(), AudioError::Cause::NoResponse);
        QVERIFY2(failed.first().at(0).toString().contains(QStringLiteral("声音输出没有响应")),
                 qPrintable(failed.first().at(0).toString()));
        QVERIFY(!p.opening());
        QCOMPARE(p.mode(), Mode::NotReady);
        resume.dismiss();
        m_server.signal(SIGCONT);
        QTest::qWait(500);
        QCOMPARE(ok.count(), 0);
        QCOMPARE(failed.count(), 1);
        QVERIFY(pollUntil([] { return MpvPlayer::coresAwaitingCleanup() == 0; }, 10000));
    }

    // Volume is the amplitude in percent, kept by the player across files
    // (and set before its core even started).
    void volumeScalesTheLevel()
    {
        MpvPlayer loud(MpvPlayer::Output::System);
        const int full = heardPeak(loud, "a.wav");
        QVERIFY(full > 1000);
        MpvPlayer soft(MpvPlayer::Output::System);
        soft.setVolume(20);
        QCOMPARE(soft.volume(), 20);
        for (const char *file : {"a.wav", "a.wav"}) {
            const int peak = heardPeak(soft, file);
            QVERIFY2(qAbs(double(peak) / full - 0.2) < 0.04,
                     qPrintable(QStringLiteral("%1 of %2").arg(peak).arg(full)));
        }
        soft.setVolume(100);
        QVERIFY(qAbs(heardPeak(soft, "a.wav") - full) < full / 20);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<StallTest>(argc, argv);
}
#include "tst_stall.moc"
