// The command pair: a script that logs its calls stands for usbrelay.
#include "fakes.h"
#include "relayplan.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class RelayCommandTest : public QObject {
    Q_OBJECT
    static QString logOf(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void onAndOffCommandsRunWithTheChannel()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath("calls.log");
        FakeClock clock;
        RelayDevices devices;
        RelayPlan plan(devices, clock);
        const QString address = QStringLiteral("echo on \"$1\" >> '%1'\necho off \"$1\" >> '%1'").arg(log);
        plan.setRelays({{1, "走廊", "command", address, 4, {}, 0, 0, 0}});
        plan.start();
        plan.timer.stop();
        QTRY_COMPARE(logOf(log), QString("off 4\n"));
        plan.soundStarted("bell", {});
        QTRY_COMPARE(logOf(log), QString("off 4\non 4\n"));
        plan.soundEnded("bell");
        clock.advanceMs(100);
        plan.tick();
        QTRY_COMPARE(logOf(log), QString("off 4\non 4\noff 4\n"));
    }

    void failingOrHangingCommandIsNamed()
    {
        QTemporaryDir dir;
        FakeClock clock;
        RelayDevices devices;
        RelayPlan plan(devices, clock);
        // Exits 1; the other never ends within its time (and is killed).
        plan.setRelays({{1, "甲", "command", "exit 1\ntrue", 0, {}, 0, 0, 0},
                        {2, "乙", "command", "exec sleep 8\ntrue", 0, {}, 0, 0, 1}});
        QSignalSpy named(&plan, &RelayPlan::unanswered);
        plan.soundStarted("bell", {});
        clock.advanceMs(1000);
        plan.tick();
        QVERIFY(plan.isOn(2));
        QTRY_COMPARE_WITH_TIMEOUT(named.size(), 2, 20000);
        QStringList names{named[0][0].toString(), named[1][0].toString()};
        names.sort();
        QCOMPARE(names, (QStringList{"乙", "甲"}));
    }
};

QTEST_GUILESS_MAIN(RelayCommandTest)
#include "tst_relaycommand.moc"
