#include "fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <unistd.h>

void FakePlayer::requireOpen() const
{
    if (!m_open)
        throw AudioError(QString::fromLatin1(kNoDeviceOpen));
}

void FakePlayer::throwIfOutputDown() const
{
    if (outputDown)
        throw AudioError(hung ? QStringLiteral("output not answering") : QStringLiteral("no output"),
                         hung ? AudioError::Cause::NoResponse : AudioError::Cause::Output);
}

void FakePlayer::interruptNow()
{
    if (mode() != Mode::Playing)
        return;
    m_pos = position();
    m_playing = m_paused = false;
    m_interrupted = m_endSent = true;
    emit ended(true);
}

void FakePlayer::advance()
{
    if (m_playing && !m_endSent && nowMs() - m_playStart >= m_length) {
        m_endSent = true;
        emit ended(false);
    }
}

void FakePlayer::open()
{
    close();
    if (slowOpen) {
        log << "open " + QFileInfo(m_file).fileName() + " (slow)";
        m_opening = true;
        throw AudioError(QStringLiteral("still loading ") + m_file, AudioError::Cause::Pending);
    }
    log << "open " + QFileInfo(m_file).fileName();
    load();
}

void FakePlayer::load()
{
    const QFileInfo fi(m_file);
    if (!fi.isFile() || fi.size() == 0)
        throw AudioError(QStringLiteral("cannot open ") + m_file);
    throwIfOutputDown();
    m_open = true;
    m_length = lengths.value(fi.fileName(), defaultLength);
    m_pos = 0;
}

void FakePlayer::finishOpen()
{
    if (!m_opening)
        return;
    m_opening = false;
    try {
        load();
    } catch (const AudioError &e) {
        emit openFailed(e.text(), e.cause());
        return;
    }
    emit opened();
}

void FakePlayer::close()
{
    if (m_open)
        log << "close";
    const bool sounded = m_open && (mode() == Mode::Playing || mode() == Mode::Paused);
    m_open = m_playing = m_paused = m_interrupted = m_opening = false;
    m_pos = 0;
    if (sounded)
        emit stopped();
}

void FakePlayer::play()
{
    requireOpen();
    throwIfOutputDown();
    log << "play";
    ++playCount;
    played << QFileInfo(m_file).fileName();
    qint64 from = position();
    if (from >= m_length)
        from = 0;
    if (m_start) {
        from = *m_start;
        m_start.reset();
    }
    m_playStart = nowMs() - from;
    m_playing = true;
    m_paused = m_endSent = false;
}

void FakePlayer::stop()
{
    requireOpen();
    log << "stop";
    m_pos = position();
    const bool sounded = m_open && (mode() == Mode::Playing || mode() == Mode::Paused);
    m_playing = m_paused = false;
    if (sounded)
        emit stopped();
}

void FakePlayer::pause()
{
    requireOpen();
    if (mode() == Mode::Playing) {
        m_pos = position();
        m_playing = false;
        m_paused = true;
    } else if (m_paused) {
        m_playStart = nowMs() - m_pos;
        m_playing = true;
        m_paused = false;
    }
}

void FakePlayer::seek(qint64 ms)
{
    requireOpen();
    m_playing = m_paused = false;
    m_pos = std::clamp<qint64>(ms, 0, m_length);
}

qint64 FakePlayer::length() const
{
    requireOpen();
    return m_length;
}

qint64 FakePlayer::position() const
{
    if (!m_open)
        return 0;
    if (m_playing)
        return std::min(m_length, nowMs() - m_playStart);
    return m_pos;
}

AudioPlayer::Mode FakePlayer::mode() const
{
    if (!m_open)
        return Mode::NotReady;
    if (m_playing)
        return nowMs() - m_playStart < m_length ? Mode::Playing : Mode::Stopped;
    return m_paused ? Mode::Paused : Mode::Stopped;
}

TempHome::TempHome()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("data"));
    QDir(m_dir.path()).mkpath(QStringLiteral("音乐"));
}

QString TempHome::touchMusic(const QString &name, const QByteArray &bytes) const
{
    QFile f(music() + name);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return f.fileName();
}

QString TempHome::place(const QString &executable) const
{
    const QString to = path() + QFileInfo(executable).fileName();
    // A link costs nothing where the build and the temporary folder share a
    // file system; a copy (the program is large under the sanitizers) elsewhere.
    if (::link(QFile::encodeName(executable).constData(), QFile::encodeName(to).constData()) == 0
        || QFile::copy(executable, to))
        return to;
    return {};
}

QString makeTone(const QString &path, double seconds, int hz)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
             QStringLiteral("sine=frequency=%1:duration=%2").arg(hz).arg(seconds), path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    return path;
}
