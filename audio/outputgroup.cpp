#include "outputgroup.h"

#include "audiolog.h"
#include "loaderrors.h"
#include "playerpool.h"
#include "soundserver.h"

#include <QScopedValueRollback>
#include <QTimer>

QString OutputGroup::silentText(const QString &name, const QString &why)
{
    return QStringLiteral("%1（%2）").arg(name, why);
}

QString OutputGroup::silentZonesText(const QStringList &namesAndReasons)
{
    return QStringLiteral("以下分区没有播出：%1").arg(namesAndReasons.join(QStringLiteral("；")));
}

QString OutputGroup::missingOutputReason(const QString &device)
{
    return LoadErrors::missingOutput(SoundServer::label(device));
}

QString OutputGroup::lateZonesText(const QStringList &namesAndDelays)
{
    return QStringLiteral("以下分区的声音输出恢复后补播，晚于铃声时刻：%1").arg(namesAndDelays.join(QStringLiteral("；")));
}

QString OutputGroup::cutZonesText(const QStringList &names)
{
    return QStringLiteral("以下分区的声音输出在播放中途中断，铃声没有播完：%1").arg(names.join(u'、'));
}

QString OutputGroup::missingText(const QString &device) const
{
    return m_options.label ? LoadErrors::missingOutput(m_options.label(device)) : missingOutputReason(device);
}

OutputGroup::OutputGroup(Source source, QObject *parent) : QObject(parent), m_source(std::move(source)) {}

OutputGroup::OutputGroup(PlayerPool &pool, QObject *parent)
    : OutputGroup([&pool](const SoundTarget &t) { return pool.player(t.zone, t.device); }, parent)
{
}

OutputGroup::~OutputGroup()
{
    for (AudioPlayer *p : std::as_const(m_watched))
        p->disconnect(this);
}

bool OutputGroup::any(State s) const
{
    return std::any_of(m_targets.begin(), m_targets.end(), [s](const Live &l) { return l.state == s; });
}

bool OutputGroup::windowOpen() const
{
    if (m_retriesEnded)
        return false;
    return m_options.retryOnCall || m_options.retryWindowMs < 0 || m_since.elapsed() < m_options.retryWindowMs;
}

bool OutputGroup::retrying() const
{
    return windowOpen() && std::any_of(m_targets.begin(), m_targets.end(), [](const Live &l) {
               return l.state == State::Silent && l.retry;
           });
}

int OutputGroup::indexOf(const AudioPlayer *p) const
{
    for (int i = 0; i < m_targets.size(); ++i)
        if (m_targets[i].player == p)
            return i;
    return -1;
}

QList<AudioPlayer *> OutputGroup::soundingPlayers() const
{
    QList<AudioPlayer *> out;
    for (const Live &l : m_targets)
        if (l.state == State::Sounding)
            out << l.player;
    return out;
}

AudioPlayer *OutputGroup::connectPlayer(Live &l)
{
    AudioPlayer *p = m_source ? m_source(l.target) : nullptr;
    if (!p || m_watched.contains(p))
        return p;
    m_watched << p;
    connect(p, &AudioPlayer::opened, this, [this, p] { onOpened(p); });
    connect(p, &AudioPlayer::openFailed, this,
            [this, p](const QString &text, AudioError::Cause cause) { onOpenFailed(p, text, cause); });
    connect(p, &AudioPlayer::ended, this, [this, p](bool interrupted) { onEnded(p, interrupted); });
    // A pool lets a player go when its zone changes: its address may come back.
    connect(p, &QObject::destroyed, this, [this, p] {
        m_watched.removeAll(p);
        for (Live &l : m_targets)
            if (l.player == p) {
                l.player = nullptr;
                if (l.state != State::Silent)
                    l.state = State::Idle;
            }
    });
    return p;
}

void OutputGroup::play(const QString &file, const QList<SoundTarget> &targets, const Options &options)
{
    stop();
    const QScopedValueRollback inPlay(m_inPlay, true);
    m_options = options;
    m_cued = m_retriesEnded = false;
    m_since.start();
    m_targets.clear();
    for (const SoundTarget &t : targets)
        m_targets.append(Live{t, nullptr, State::Idle, {}, file, false, std::nullopt});
    const quint64 run = m_run;
    for (int i = 0; i < m_targets.size() && run == m_run; ++i)
        open(i);
    // Together: the slow opens before must not hold back the first target.
    if (!m_options.background)
        for (int i = 0; i < m_targets.size() && run == m_run; ++i)
            if (m_targets[i].state == State::Ready)
                startWhenDue(i);
}

void OutputGroup::replay(int index, const QString &file)
{
    if (index < 0 || index >= m_targets.size())
        return;
    m_targets[index].file = file;
    if (open(index) && m_targets[index].state == State::Ready)
        startWhenDue(index);
}

void OutputGroup::cue()
{
    if (m_cued)
        return;
    m_cued = true;
    const quint64 run = m_run;
    {
        const QScopedValueRollback inPlay(m_inPlay, true);
        // Those opened ahead first, together; then those still to open.
        for (int i = 0; i < m_targets.size() && run == m_run; ++i)
            if (m_targets[i].state == State::Ready)
                start(i);
        for (int i = 0; i < m_targets.size() && run == m_run; ++i) {
            const State s = m_targets[i].state;
            if ((s == State::Idle || s == State::Silent) && open(i) && m_targets[i].state == State::Ready)
                start(i);
        }
    }
    if (run == m_run)
        checkEnded();
}

void OutputGroup::retry(int index)
{
    if (index < 0 || index >= m_targets.size())
        return;
    const Live &l = m_targets[index];
    if (l.state != State::Silent || !l.retry || !windowOpen())
        return;
    if (open(index) && m_targets[index].state == State::Ready)
        startWhenDue(index);
}

void OutputGroup::endRetries()
{
    m_retriesEnded = true;
    for (Live &l : m_targets) {
        if (l.state == State::Loading || (l.state == State::Ready && m_cued)) {
            l.state = State::Silent;
            l.why = kLoadingReason;
            l.error.reset();
        }
        if (l.state == State::Silent)
            l.retry = false;
    }
    checkEnded();
}

bool OutputGroup::open(int index)
{
    Live &l = m_targets[index];
    if (!l.player)
        l.player = connectPlayer(l);
    AudioPlayer *p = l.player;
    if (!p) {
        silence(index, kNoPlayerReason, true, AudioError::Cause::Output);
        return false;
    }
    // The sound before still has it: opened at the cue.
    if (m_options.cue && !m_cued && !PlayerPool::idle(*p)) {
        l.state = State::Idle;
        return false;
    }
    l.state = State::Loading;
    p->close();
    if (m_options.prepare)
        m_options.prepare(*p);
    p->setFileName(l.file);
    if (m_options.background) {
        p->openAsync();
        return true;
    }
    try {
        p->open();
    } catch (const AudioError &e) {
        if (e.isPending())
            return true; // started when loaded
        silence(index, e.text(), e.isOutputFailure(), e.cause(), &e);
        return false;
    } catch (const std::exception &e) {
        qCWarning(lcAudio).noquote() << l.target.name << "open failed:" << e.what();
        const AudioError error(QString::fromLocal8Bit(e.what()));
        silence(index, error.text(), false, AudioError::Cause::File, &error);
        return false;
    }
    // Loaded: never heard on the default output in a zone's place (checked
    // before the start, so not a moment of it sounds there).
    if (const QString missing = p->missingOutput(); l.target.ownOutputOnly && !missing.isEmpty()) {
        p->close();
        silence(index, missingText(missing), true, AudioError::Cause::Output);
        return false;
    }
    l.state = State::Ready;
    return true;
}

void OutputGroup::startWhenDue(int index)
{
    const Live &l = m_targets[index];
    if (m_options.hold) {
        emit ready(index);
        return;
    }
    // Before the cue only a 提前 starts by itself; after it, all at once.
    const bool waiting = m_options.cue && !m_cued;
    if (waiting && (l.target.leadMs <= 0 || !m_options.startInMs))
        return;
    if (m_options.startInMs && !m_cued) {
        const qint64 wait = *m_options.startInMs - l.target.leadMs - m_since.elapsed();
        if (wait > 0) {
            QTimer::singleShot(int(wait), Qt::PreciseTimer, this, [this, index, run = m_run] {
                if (run == m_run && m_targets[index].state == State::Ready)
                    start(index);
            });
            return;
        }
    }
    start(index);
}

void OutputGroup::start(int index)
{
    Live &l = m_targets[index];
    try {
        l.player->play();
        if (!l.player->isPlaying())
            throw AudioError(QStringLiteral("the player did not start ") + l.file);
    } catch (const AudioError &e) {
        silence(index, e.text(), e.isOutputFailure(), e.cause(), &e);
        return;
    } catch (const std::exception &e) {
        // Nothing may escape a player's signal; the output is tried as a dead one.
        qCWarning(lcAudio).noquote() << l.target.name << "start failed:" << e.what();
        const AudioError error(QString::fromLocal8Bit(e.what()), AudioError::Cause::Output);
        silence(index, error.text(), true, error.cause(), &error);
        return;
    }
    l.state = State::Sounding;
    l.why.clear();
    l.retry = false;
    l.error.reset();
    emit started(index);
}

void OutputGroup::silence(int index, const QString &why, bool retryable, AudioError::Cause cause,
                          const AudioError *error)
{
    Live &l = m_targets[index];
    l.state = State::Silent;
    l.why = why;
    l.retry = retryable && (m_options.retryWindowMs != 0 || m_options.retryOnCall) && !m_retriesEnded;
    if (error)
        l.error = *error;
    else
        l.error.reset();
    const quint64 run = m_run;
    emit silent(index, why, retryable, cause);
    if (run != m_run)
        return;
    if (l.retry && windowOpen() && !m_options.retryOnCall) {
        QTimer::singleShot(kRetryMs, this, [this, index, run] {
            if (run != m_run || m_targets[index].state != State::Silent || !m_targets[index].retry)
                return;
            if (!windowOpen()) {
                m_targets[index].retry = false;
                checkEnded();
                return;
            }
            if (open(index) && m_targets[index].state == State::Ready)
                startWhenDue(index);
        });
    }
    checkEnded();
}

void OutputGroup::onOpened(AudioPlayer *p)
{
    const int i = indexOf(p);
    if (i < 0 || m_targets[i].state != State::Loading || p->fileName() != m_targets[i].file)
        return;
    if (const QString missing = p->missingOutput(); m_targets[i].target.ownOutputOnly && !missing.isEmpty()) {
        p->close();
        silence(i, missingText(missing), true, AudioError::Cause::Output);
        return;
    }
    m_targets[i].state = State::Ready;
    startWhenDue(i);
}

void OutputGroup::onOpenFailed(AudioPlayer *p, const QString &text, AudioError::Cause cause)
{
    const int i = indexOf(p);
    if (i < 0 || m_targets[i].state != State::Loading)
        return;
    const AudioError error(text, cause);
    silence(i, text, cause != AudioError::Cause::File, cause, &error);
}

void OutputGroup::onEnded(AudioPlayer *p, bool interrupted)
{
    const int i = indexOf(p);
    if (i < 0 || m_targets[i].state != State::Sounding)
        return;
    Live &l = m_targets[i];
    if (m_options.loop) {
        if (!interrupted) {
            try {
                p->setStartPosition(0);
                p->play();
                if (p->isPlaying())
                    return;
            } catch (const AudioError &e) {
                qCInfo(lcAudio).noquote() << l.target.name << "restart failed:" << e.text();
            } catch (const std::exception &e) {
                qCWarning(lcAudio) << l.target.name << "restart failed:" << e.what();
            }
        }
        qCWarning(lcAudio).noquote() << "output of" << l.target.name << "lost while it played; opened again";
        const quint64 run = m_run;
        if (interrupted)
            emit cut(i);
        if (run == m_run && open(i) && m_targets[i].state == State::Ready)
            startWhenDue(i);
        return;
    }
    l.state = State::Ended;
    const quint64 run = m_run;
    if (interrupted)
        emit cut(i);
    else
        emit endedIn(i);
    if (run == m_run)
        checkEnded();
}

void OutputGroup::checkEnded()
{
    if (m_inPlay || sounding() || loading() || retrying())
        return;
    if (!any(State::Ended))
        return; // nothing was heard: the silent signals told it
    emit ended();
}

void OutputGroup::stop(bool close)
{
    ++m_run;
    for (Live &l : m_targets) {
        const State was = std::exchange(l.state, State::Idle);
        // An ended target's player may sound for another group by now.
        if (!l.player || was == State::Idle || ((was == State::Silent || was == State::Ended) && !close))
            continue;
        try {
            if (close || was == State::Loading)
                l.player->close();
            else if (l.player->mode() != AudioPlayer::Mode::NotReady)
                l.player->stop();
        } catch (const std::exception &e) {
            qCDebug(lcAudio) << "stopping" << l.target.name << ":" << e.what();
        }
    }
}
