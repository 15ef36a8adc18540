// One engine per desktop: the second start, the data folder's lock and the
// engine's channel, driven in one process (the lock is taken per open file,
// so a second Instance here meets it as a second program would).
#include "engineapi.h"
#include "instance.h"
#include "rpcclient.h"
#include "rpcserver.h"

#include <QFile>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <future>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

class InstanceTest : public QObject {
    Q_OBJECT

    // Runs fn off the GUI thread while this thread serves the channel.
    template <typename Fn> static auto meanwhile(Fn fn)
    {
        auto f = std::async(std::launch::async, fn);
        const bool done = QTest::qWaitFor(
            [&f] { return f.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }, 30000);
        if (!done)
            qWarning("the other side has not answered in 30 s; waiting on without the channel");
        return f.get();
    }

    // Holds data/daling.lock as another program would, with the given holder line.
    struct ForeignLock {
        int fd;
        ForeignLock(const QString &dataFolder, const QByteArray &line)
        {
            fd = ::open(QFile::encodeName(dataFolder + "/daling.lock").constData(), O_RDWR | O_CREAT, 0664);
            QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
            QCOMPARE(::write(fd, line.constData(), line.size()), line.size());
        }
        ~ForeignLock() { ::close(fd); }
    };

private slots:
    void aSecondStartShowsTheFirstAndEnds()
    {
        QTemporaryDir dir;
        const QString sock = dir.path() + "/daling.sock";
        Instance first(dir.path() + "/data", sock);
        QCOMPARE(first.claim(), Instance::Claim::First);
        int raised = 0;
        EngineApi api(first.server(), {dir.path() + "/data/", false, [&] { ++raised; }});
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(sock).constData(), &st), 0);
        QCOMPARE(st.st_mode & 077, mode_t(0)); // this user (and root) alone

        // The same folder by another spelling is the same folder.
        Instance second(dir.path() + "/./data", sock);
        QCOMPARE(meanwhile([&] { return second.claim(); }), Instance::Claim::AlreadyRunning);
        QCOMPARE(raised, 0);
        // The window then asks the running copy to show itself.
        QVERIFY(!meanwhile([&] { return rpcCall(sock, "Window.Raise"); }).isError());
        QCOMPARE(raised, 1);
        QFile lock(dir.path() + "/data/daling.lock");
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QVERIFY(lock.readAll().endsWith(QByteArray::number(::getpid()) + "\n"));
    }

    // The user's one socket is held by a copy of another folder: this start
    // would ring a second list beside it, with no channel of its own.
    void aCopyOfAnotherFolderIsRefusedByItsFolder()
    {
        QTemporaryDir dir;
        const QString sock = dir.path() + "/daling.sock";
        Instance first(dir.path() + "/甲校", sock);
        QCOMPARE(first.claim(), Instance::Claim::First);
        EngineApi api(first.server(), {dir.path() + "/甲校", false, {}});

        Instance second(dir.path() + "/乙校", sock);
        QCOMPARE(meanwhile([&] { return second.claim(); }), Instance::Claim::Refused);
        QVERIFY2(second.refusalText().contains(dir.path() + "/甲校"), qPrintable(second.refusalText()));
        QVERIFY(!QFile::exists(dir.path() + "/乙校/daling.lock"));
    }

    void anotherAccountsCopyIsRefusedByName()
    {
        QTemporaryDir dir;
        ForeignLock held(dir.path(), "zhang 4242 77\n");
        Instance mine(dir.path(), dir.path() + "/daling.sock");
        QCOMPARE(mine.claim(), Instance::Claim::Refused);
        QVERIFY(mine.refusalText().contains("用户「zhang」"));
        QVERIFY(!QFile::exists(dir.path() + "/daling.sock"));
    }

    // The same user's copy holds the folder but never answers (its own
    // runtime folder is elsewhere): refused once the wait is over.
    void aSilentCopyOfThisUserIsWaitedForThenRefused()
    {
        QTemporaryDir dir;
        ForeignLock held(dir.path(), QByteArray("me ") + QByteArray::number(::geteuid()) + " 77\n");
        Instance mine(dir.path(), dir.path() + "/daling.sock");
        QElapsedTimer t;
        t.start();
        QCOMPARE(mine.claim(300), Instance::Claim::Refused);
        QVERIFY(t.elapsed() >= 300);
    }

    void aSocketLeftByACrashIsTakenOver()
    {
        QTemporaryDir dir;
        const QString sock = dir.path() + "/daling.sock";
        QFile stale(sock);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        Instance first(dir.path(), sock);
        QCOMPARE(first.claim(), Instance::Claim::First);
        EngineApi api(first.server(), {dir.path(), false, {}});
        const RpcResult r = meanwhile([&] { return rpcCall(sock, "Engine.GetStatus"); });
        QVERIFY(!r.isError());
        QCOMPARE(r.value()["dataFolder"].toString(), dir.path());
    }

    // What the channel answers before the engine's parts are made (a
    // start-up box is open) and in a service without a window.
    void beforeTheCore_data()
    {
        QTest::addColumn<bool>("service");
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("code"); // 0: a result
        QTest::addColumn<QString>("text");
        QTest::newRow("status") << false << "Engine.GetStatus" << 0 << "";
        QTest::newRow("raise, window") << false << "Window.Raise" << 0 << "";
        QTest::newRow("raise, service") << true << "Window.Raise" << EngineApi::kNoWindow << EngineApi::kServiceNoWindow;
        QTest::newRow("emergency") << true << "Emergency.Start" << EngineApi::kRefused << EngineApi::kStarting;
        QTest::newRow("emergency stop") << true << "Emergency.Stop" << 0 << EngineApi::kNoEmergency;
        QTest::newRow("bells") << false << "Day.GetBells" << EngineApi::kRefused << EngineApi::kStarting;
        QTest::newRow("unknown") << false << "Engine.Reboot" << int(RpcCode::MethodNotFound) << "";
    }
    void beforeTheCore()
    {
        QFETCH(bool, service);
        QFETCH(QString, method);
        QFETCH(int, code);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString sock = dir.path() + "/daling.sock";
        Instance engine(dir.path(), sock);
        QCOMPARE(engine.claim(), Instance::Claim::First);
        bool raised = false;
        EngineApi api(engine.server(), {dir.path(), service, service ? std::function<void()>{} : [&] { raised = true; }});
        // A client that connects and says nothing holds up no one.
        QLocalSocket idle;
        idle.connectToServer(sock);
        QVERIFY(idle.waitForConnected(1000));
        const RpcResult r = meanwhile([&] { return rpcCall(sock, method); });
        QCOMPARE(r.isError() ? r.error().code : 0, code);
        if (r.isError() && !text.isEmpty())
            QCOMPARE(r.error().message, text);
        if (!r.isError() && !text.isEmpty())
            QCOMPARE(r.value()["text"].toString(), text);
        if (method == "Engine.GetStatus") {
            QCOMPARE(r.value()["starting"].toBool(), true);
            QCOMPARE(r.value()["pid"].toInteger(), qint64(::getpid()));
        }
        QCOMPARE(raised, method == "Window.Raise" && !service);
    }
};

QTEST_MAIN(InstanceTest)
#include "tst_instance.moc"
