// dalingd as the window's child: it ends with the window however the window
// ends. Played by small programs: a worker that plays the window (killed
// with SIGKILL here), a shell that plays the engine.
#include "childengine.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {
// Gone, or a zombie nobody has reaped yet: in either case it runs no more.
bool runs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 && line.at(close + 2) != 'Z';
}
} // namespace

class ChildEngineTest : public QObject {
    Q_OBJECT
private slots:
    void aKilledWindowTakesItsEngine()
    {
        QProcess window;
        window.start(QStringLiteral(CHILDENGINE_WORKER), {QStringLiteral("sleep"), QStringLiteral("60")});
        QVERIFY(window.waitForReadyRead(10000));
        const qint64 child = window.readLine().trimmed().toLongLong();
        QVERIFY(child > 0);
        QVERIFY(runs(child));
        ::kill(pid_t(window.processId()), SIGKILL);
        QVERIFY(window.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!runs(child), 5000);
    }

    void aCleanEndLetsTheEngineFinishItsWork()
    {
        QTemporaryDir dir;
        const QString mark = dir.filePath("ended");
        qint64 pid = 0;
        {
            // The engine writes its history on SIGTERM before it ends.
            ChildEngine engine(QStringLiteral("sh"), QString(),
                               {QStringLiteral("-c"),
                                QStringLiteral("trap 'echo history > \"%1\"; exit 0' TERM; while :; do sleep 0.05; done").arg(mark)});
            bool ended = false;
            engine.setOnEnded([&](const QString &) { ended = true; });
            QCOMPARE(engine.start(), QString());
            pid = engine.pid();
            QVERIFY(runs(pid));
            QTest::qWait(200); // the trap is set
            QVERIFY(!ended);
        }
        QVERIFY(!runs(pid));
        QFile f(mark);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().trimmed(), QByteArray("history"));
    }

    // Ended by itself while the window runs: the operator is told.
    void anEngineThatEndsEarlyIsTold()
    {
        QStringList told;
        ChildEngine engine(QStringLiteral("sh"), QString(), {QStringLiteral("-c"), QStringLiteral("exit 3")});
        engine.setOnEnded([&](const QString &text) { told << text; });
        QCOMPARE(engine.start(), QString());
        QTRY_COMPARE(told.size(), 1);
        QVERIFY2(told.first().contains(QStringLiteral("退出代码 3")) && told.first().contains(QStringLiteral("铃声不会响")),
                 qPrintable(told.first()));
    }

    void aMissingEngineIsToldByItsPath()
    {
        ChildEngine engine(QStringLiteral("/nonexistent/dalingd"), QString());
        const QString why = engine.start();
        QVERIFY2(why.startsWith(QStringLiteral("铃声引擎（/nonexistent/dalingd）没有启动：")), qPrintable(why));
        QVERIFY(engine.endsWithWindow());
    }
};

QTEST_MAIN(ChildEngineTest)
#include "tst_childengine.moc"
