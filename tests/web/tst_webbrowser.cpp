// The page in a real headless Chromium (browser_test.py, through Selenium)
// against a real dalingd on a private PulseAudio's null sink, its web on
// 127.0.0.1 and a free port. This side prepares the data folder (a bell
// some seconds ahead, an account, the settings), starts the engine and
// checks what the script cannot see: the history's record. 77 where the
// browser, its driver, Selenium, PulseAudio or ffmpeg is missing.
#include "audiotestutil.h"
#include "bellstore.h"
#include "emergencybroadcast.h"
#include "fakes.h"
#include "remotesettings.h"
#include "ringhistory.h"
#include "settings.h"
#include "webaccounts.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

class WebBrowserTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

private slots:
    void initTestCase() { QVERIFY(m_pulse.start(QStringLiteral("dflt"))); }

    void thePageSteersARealEngine()
    {
        TempHome home;
        QTemporaryDir runtime;
        QVERIFY(!makeTone(home.music() + "bell.wav", 0.5).isEmpty());
        const QString exe = home.path() + "dalingd";
        QVERIFY(QFile::copy(QStringLiteral(DALINGD_BIN), exe));
        QFile(exe).setPermissions(QFile::permissions(QStringLiteral(DALINGD_BIN)));
        const quint16 port = freePort();
        QVERIFY(port > 0);
        // Time for the engine and the browser to start, under the sanitizers.
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime due = now.addSecs(25).addMSecs(-now.time().msec());
        const qint64 dueSec = due.time().msecsSinceStartOfDay() / 1000;
        qint64 bellId = 0;
        {
            BellStore store;
            QVERIFY(store.open(home.db()).isEmpty());
            bellId = store.insert({0, dueSec, "早读", "bell.wav", "日一二三四五六", "1", "", {}});
            Settings settings(store);
            RemoteSettings web;
            web.port = port;
            web.address = "127.0.0.1";
            web.save(settings);
            WebAccounts(store).set("王老师", WebRole::Duty, "口令十分安全123");
        }
        QProcess engine;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("QT_QPA_PLATFORM", "");
        engine.setProcessEnvironment(env);
        engine.setProcessChannelMode(QProcess::ForwardedChannels);
        engine.start(exe, {});
        QVERIFY(engine.waitForStarted(5000));
        // Ended in order whatever fails below (the browser normally ends it).
        const auto stop = qScopeGuard([&engine] {
            if (engine.state() != QProcess::NotRunning) {
                engine.terminate();
                engine.waitForFinished(15000);
            }
        });
        QVERIFY(QTest::qWaitFor([port] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            return s.waitForConnected(200);
        }, 20000));

        QProcess browser;
        browser.setProcessChannelMode(QProcess::ForwardedChannels);
        const QString shots = qEnvironmentVariable("DALING_SHOTS", QDir::tempPath());
        browser.start(QStringLiteral(SYSTEM_PYTHON), {QStringLiteral(BROWSER_SCRIPT), QStringLiteral("http://127.0.0.1:%1/").arg(port),
                                  "王老师", "口令十分安全123", QString::number(bellId),
                                  QString::number(due.toSecsSinceEpoch()), QString::number(engine.processId()), shots});
        QVERIFY(browser.waitForFinished(120000));
        QCOMPARE(browser.exitCode(), 0);
        QVERIFY(engine.waitForFinished(15000));

        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        QCOMPARE(RingHistory(store).outcomes(due.date()).of(dueSec, "早读"), BellStatus::Done);
        // The emergency started from the page sounded (its record is written
        // at its first sound) and names the account and the address.
        const QList<RingRecord> records = RingHistory(store).day(due.date());
        QVERIFY(std::any_of(records.begin(), records.end(), [](const RingRecord &r) {
            return r.name == EmergencyBroadcast::kName && r.result == BellStatus::Done
                && r.reason.startsWith(QStringLiteral("由远程控制 王老师（127.0.0.1）开始"))
                && r.reason.contains(QStringLiteral("由远程控制 王老师（127.0.0.1）结束"));
        }));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable("chromium").isEmpty() || QStandardPaths::findExecutable("chromedriver").isEmpty()
        || QProcess::execute(QStringLiteral(SYSTEM_PYTHON), {"-c", "import selenium"}) != 0) {
        std::fprintf(stderr, "SKIP: chromium, chromium-driver and python3-selenium are needed\n");
        return 77;
    }
    return runWithRealSound<WebBrowserTest>(argc, argv);
}
#include "tst_webbrowser.moc"
