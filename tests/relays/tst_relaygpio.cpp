// GPIO lines on a chip of the kernel's gpio-sim, made for the test through
// configfs: a relay's line driven, a contact's line pulled. Where gpio-sim
// cannot be made (no configfs, no module, not root) the test is skipped.
#include "fakes.h"
#include "fireinputs.h"
#include "relayplan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <unistd.h>

namespace {

const QString kSim = QStringLiteral("/sys/kernel/config/gpio-sim");

bool writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
}

// One simulated chip of eight lines, removed at the end.
struct SimChip {
    QString group = kSim + QStringLiteral("/daling-%1").arg(::getpid());
    QString chip;
    QString lines; // where each line's sim_gpioN lives
    bool make()
    {
        if (!QDir().mkdir(group) || !QDir().mkdir(group + "/bank0")
            || !writeText(group + "/bank0/num_lines", "8") || !writeText(group + "/live", "1"))
            return false;
        chip = readText(group + "/bank0/chip_name");
        lines = QStringLiteral("/sys/devices/platform/%1/%2").arg(readText(group + "/dev_name"), chip);
        return !chip.isEmpty();
    }
    ~SimChip()
    {
        writeText(group + "/live", "0");
        QDir().rmdir(group + "/bank0");
        QDir().rmdir(group);
    }
};

} // namespace

class RelayGpioTest : public QObject {
    Q_OBJECT
private slots:
    void relayLineAndContactLine()
    {
        SimChip sim;
        QVERIFY(sim.make());
        FakeClock clock;
        RelayDevices devices;
        RelayPlan plan(devices, clock);
        plan.setRelays({{1, "功放", "gpio", sim.chip, 2, {}, 0, 0, 0}});
        plan.start();
        plan.timer.stop();
        plan.soundStarted("bell", {});
        QTRY_COMPARE(readText(sim.lines + "/sim_gpio2/value"), QString("1"));
        plan.soundEnded("bell");
        clock.advanceMs(100);
        plan.tick();
        QTRY_COMPARE(readText(sim.lines + "/sim_gpio2/value"), QString("0"));

        SystemClock wall;
        FireInputs inputs(devices, wall);
        inputs.setInputs({{1, "消防", "gpio", sim.chip, 3, "", {}, true}});
        QSignalSpy raised(&inputs, &FireInputs::alarmRaised);
        QSignalSpy cleared(&inputs, &FireInputs::alarmCleared);
        inputs.start();
        QVERIFY(writeText(sim.lines + "/sim_gpio3/pull", "pull-up"));
        QTRY_COMPARE_WITH_TIMEOUT(raised.size(), 1, 10000);
        QVERIFY(writeText(sim.lines + "/sim_gpio3/pull", "pull-down"));
        QTRY_COMPARE_WITH_TIMEOUT(cleared.size(), 1, 10000);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (!QFileInfo(kSim).isDir() || ::access(QFile::encodeName(kSim).constData(), W_OK) != 0) {
        qInfo("skipped: the kernel's gpio-sim is not available here (%s)", qPrintable(kSim));
        return 77;
    }
    RelayGpioTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_relaygpio.moc"
