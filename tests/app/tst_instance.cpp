// One engine per desktop: the second start, the data folder's lock and the
// command channel, driven in one process (the lock is taken per open file,
// so a second Instance here meets it as a second program would).
#include "instance.h"

#include <QFile>
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
        first.handle("raise", [&](const QByteArray &) { ++raised; return QByteArray("ok"); });
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(sock).constData(), &st), 0);
        QCOMPARE(st.st_mode & 077, mode_t(0)); // this user (and root) alone

        Instance second(dir.path() + "/data", sock);
        QCOMPARE(meanwhile([&] { return second.claim(); }), Instance::Claim::AlreadyRunning);
        QCOMPARE(raised, 1);
        QFile lock(dir.path() + "/data/daling.lock");
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QVERIFY(lock.readAll().endsWith(QByteArray::number(::getpid()) + "\n"));
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
        first.handle("raise", [](const QByteArray &) { return QByteArray("ok"); });
        QCOMPARE(meanwhile([&] { return Instance::send(sock, "raise"); }), QByteArray("ok"));
    }

    void commandLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("argument") << QByteArray("echo 第一 教学楼\r\n") << QByteArray("ok 第一 教学楼");
        QTest::newRow("unknown") << QByteArray("reboot\n") << QByteArray("error unknown command");
        QTest::newRow("too long") << QByteArray(5000, 'x') << QByteArray("error line too long");
        QTest::newRow("failing") << QByteArray("fail\n") << QByteArray("error no output");
    }
    void commandLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        QTemporaryDir dir;
        const QString sock = dir.path() + "/daling.sock";
        Instance engine(dir.path(), sock);
        QCOMPARE(engine.claim(), Instance::Claim::First);
        engine.handle("echo", [](const QByteArray &arg) { return "ok " + arg; });
        engine.handle("fail", [](const QByteArray &) -> QByteArray { throw std::runtime_error("no output"); });
        // A client that connects and says nothing holds up no one.
        QLocalSocket idle;
        idle.connectToServer(sock);
        QVERIFY(idle.waitForConnected(1000));
        QCOMPARE(meanwhile([&] { return Instance::send(sock, line); }), answer);
    }
};

QTEST_MAIN(InstanceTest)
#include "tst_instance.moc"
