#pragma once
// Helpers shared by the audio suites: real files made with ffmpeg at test
// time, and polling the player as the windows do (no event loop needed).
#include "audioplayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTemporaryDir>
#include <QStringList>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>
#include <cstdio>

// Runs ffmpeg with `args` (after -nostdin -loglevel error -y); true on success.
inline bool runFfmpeg(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Standard output of a program, empty on failure.
inline QByteArray runOutput(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

// Polls `done` every few milliseconds until it holds or `timeoutMs` passed.
template <class F>
bool pollUntil(F done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

// Opens as a caller that can wait does: an open that goes on in the
// background (a loaded machine) is waited for; a failure throws as open()
// would.
inline void openWaiting(AudioPlayer &p, int timeoutMs = 20000)
{
    QSignalSpy ok(&p, &AudioPlayer::opened), failed(&p, &AudioPlayer::openFailed);
    try {
        p.open();
        return;
    } catch (const AudioError &e) {
        if (!e.isPending())
            throw;
    }
    if (!QTest::qWaitFor([&] { return !ok.isEmpty() || !failed.isEmpty(); }, timeoutMs))
        throw AudioError(QStringLiteral("no outcome of a background open"), AudioError::Cause::NoResponse);
    if (!failed.isEmpty())
        throw AudioError(failed.first().at(0).toString(), failed.first().at(1).value<AudioError::Cause>());
}

// Copies the first `bytes` bytes of `src` to `dst`.
inline bool writePrefix(const QString &src, const QString &dst, qint64 bytes)
{
    QFile in(src), out(dst);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    return out.write(in.read(bytes)) == qMin(bytes, in.size());
}

inline bool writeBytes(const QString &dst, const QByteArray &bytes)
{
    QFile out(dst);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

inline const char *modeName(AudioPlayer::Mode m)
{
    switch (m) {
    case AudioPlayer::Mode::NotReady: return "NotReady";
    case AudioPlayer::Mode::Stopped: return "Stopped";
    case AudioPlayer::Mode::Playing: return "Playing";
    case AudioPlayer::Mode::Recording: return "Recording";
    case AudioPlayer::Mode::Seeking: return "Seeking";
    case AudioPlayer::Mode::Paused: return "Paused";
    case AudioPlayer::Mode::Open: return "Open";
    }
    return "?";
}

// A PulseAudio server of the test's own, with a null sink, in a temporary
// runtime folder; PULSE_SERVER points the process at it while it lives.
// Its pid lets a test stop (SIGSTOP), resume or kill it.
class PrivatePulse {
public:
    ~PrivatePulse() { stop(); }
    // False where pulseaudio cannot run here.
    bool start(const QString &sink)
    {
        if (!m_runtime.isValid())
            return false;
        const QString socket = m_runtime.filePath("native");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_runtime.path());
        env.remove("PULSE_SERVER");
        m_server.setProcessEnvironment(env);
        // A test that crashes or aborts (a sanitizer's report) must not
        // leave its server running: it dies with the test.
        m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_server.start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                      "--load=module-native-protocol-unix socket=" + socket,
                                      "--load=module-null-sink sink_name=" + sink});
        // The socket appears before the server answers: wait for an answer,
        // or the first open of a test would meet a server still starting.
        const QString server = "unix:" + socket;
        if (!m_server.waitForStarted(5000)
            || !pollUntil([&] { return !runOutput("pactl", {"--server=" + server, "info"}).isEmpty(); }, 10000))
            return false;
        m_saved = qgetenv("PULSE_SERVER");
        m_pointed = true;
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socket));
        qputenv("PULSE_SINK", sink.toUtf8());
        return true;
    }
    void signal(int sig) { ::kill(pid_t(m_server.processId()), sig); }
    void stop()
    {
        if (m_server.state() != QProcess::NotRunning) {
            signal(SIGCONT);
            m_server.kill();
            m_server.waitForFinished(5000);
        }
        if (m_pointed) {
            qputenv("PULSE_SERVER", m_saved);
            qunsetenv("PULSE_SINK");
            m_pointed = false;
        }
    }

private:
    QTemporaryDir m_runtime;
    QProcess m_server;
    QByteArray m_saved;
    bool m_pointed = false;
};

// main() of a suite that starts its own sound server and makes its own tones:
// without pulseaudio or ffmpeg it is skipped (exit 77), never passed.
template <typename Suite>
int runWithRealSound(int argc, char **argv)
{
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty()
        || QStandardPaths::findExecutable("ffmpeg").isEmpty()) {
        std::fprintf(stderr, "SKIP: pulseaudio and ffmpeg are needed\n");
        return 77;
    }
    Suite t;
    return QTest::qExec(&t, argc, argv);
}
