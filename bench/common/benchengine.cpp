#include "benchengine.h"

#include "bellstore.h"
#include "rpcclient.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTest>
#include <csignal>
#include <cstdio>

namespace bench {

EngineHome::EngineHome()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("data"));
    QDir(m_dir.path()).mkpath(QStringLiteral("音乐"));
}

EngineHome::~EngineHome()
{
    if (m_engine.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_engine.processId()), SIGTERM);
        m_engine.waitForFinished(15000);
    }
}

bool EngineHome::tone(const QString &name, int hz, int seconds) const
{
    QProcess ff;
    ff.start(QStringLiteral("ffmpeg"), {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                        QStringLiteral("sine=frequency=%1:duration=%2").arg(hz).arg(seconds),
                                        "-ar", "48000", path(QStringLiteral("音乐/") + name)});
    const bool ok = ff.waitForFinished(60000) && ff.exitCode() == 0;
    if (!ok)
        std::fprintf(stderr, "ffmpeg failed for %s\n", qPrintable(name));
    return ok;
}

QString EngineHome::socket()
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/daling.sock");
}

bool EngineHome::start(const QString &dalingd, int timeoutMs)
{
    const QString exe = path(QStringLiteral("dalingd"));
    QFile::copy(dalingd, exe);
    QFile(exe).setPermissions(QFile::permissions(dalingd));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_engine.setProcessEnvironment(env);
    m_engine.setStandardErrorFile(path(QStringLiteral("dalingd.log")));
    m_engine.start(exe, {});
    const bool ready = QTest::qWaitFor([] {
        const RpcResult r = rpcCall(socket(), QStringLiteral("Engine.GetStatus"), {}, 1000);
        return !r.isError() && !r.value()[QStringLiteral("starting")].toBool();
    }, timeoutMs);
    if (!ready)
        std::fprintf(stderr, "dalingd did not answer (its log: %s)\n", qPrintable(path(QStringLiteral("dalingd.log"))));
    return ready;
}

std::vector<int> EngineHome::addBells(BellStore &store, int count, int gap)
{
    const int first = QTime::currentTime().msecsSinceStartOfDay() / 1000 + 10;
    std::vector<int> seconds;
    for (int i = 0; i < count; ++i) {
        const int s = first + i * gap;
        store.insert({0, s, QStringLiteral("铃%1").arg(i + 1), "bell.wav", "日一二三四五六", "1", "", {}});
        seconds.push_back(s);
    }
    return seconds;
}

int64_t EngineHome::wallNsOf(int second)
{
    return QDateTime(QDate::currentDate(), QTime(0, 0)).addSecs(second).toMSecsSinceEpoch() * 1'000'000;
}

std::string sinkMonitor()
{
    const char *src = std::getenv("BENCH_SOURCE");
    return src ? src : "test_null.monitor";
}

} // namespace bench
