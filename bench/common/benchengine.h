#pragma once
// A real dalingd for the benchmarks that measure it from outside: a home
// of its own (data/ and 音乐/, tones made with ffmpeg), the executable
// copied there so that it keeps its data beside itself, started without a
// display with its log in the home, and ready once its channel answers
// Engine.GetStatus with the core built.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <vector>

class BellStore;

namespace bench {

class EngineHome {
public:
    EngineHome();
    ~EngineHome(); // ends the engine (SIGTERM) when it still runs
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString store() const { return path(QStringLiteral("data/dbDaLing.db")); }
    // A sine tone in 音乐/; false (with the reason on stderr) when ffmpeg fails.
    bool tone(const QString &name, int hz, int seconds) const;
    // Places dalingd here and starts it; false (said on stderr) when it
    // does not answer within timeoutMs.
    bool start(const QString &dalingd, int timeoutMs = 8000);
    // The engine's socket (in XDG_RUNTIME_DIR, as the run scripts set it).
    static QString socket();
    QProcess &process() { return m_engine; }

    // Bells 铃1, 铃2 … of 音乐/bell.wav every gap seconds, the first 10 s
    // from now (once the engine surely ticks); their seconds of the day.
    static std::vector<int> addBells(BellStore &store, int count, int gap);
    // The wall-clock instant of a second of today, in nanoseconds.
    static int64_t wallNsOf(int second);

private:
    QTemporaryDir m_dir;
    QProcess m_engine;
};

// The monitor the run scripts name in BENCH_SOURCE (default test_null.monitor).
std::string sinkMonitor();

} // namespace bench
