#pragma once
// Helpers shared by the audio suites: real files made with ffmpeg at test
// time, and polling the player as the windows do (no event loop needed).
#include "audioplayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QThread>

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
