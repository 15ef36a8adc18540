// Starting a bell: the ringFile sequence, and the files opened ahead of their
// second so that the second itself only has to start the player, on a
// second player when the previous bell still sounds. A file that loads
// slowly goes on loading and starts when loaded, within the catch-up window.
#include "ringengine.h"

#include "logging.h"
#include "secondsofday.h"

void ringFile(BellBoard &board, AudioPlayer &player, const QString &music)
{
    player.close();
    player.setFileName(board.paths().musicFile(music));
    if (!AppPaths::isBareFileName(music))
        throw AudioError(QStringLiteral("not a file of the music folder: ") + music);
    player.open();
    board.setProgressMax(player.length());
    player.play();
    // A refused start would otherwise be a bell that silently never sounds.
    if (!player.isPlaying())
        throw AudioError(QStringLiteral("the player did not start ") + player.fileName());
}

void ringRow(BellBoard &board, AudioPlayer &player, int row)
{
    const BellEntry *e = board.entryAtRow(row);
    ringFile(board, player, e ? e->music : QString());
}

namespace {

bool sounds(const AudioPlayer &p)
{
    const AudioPlayer::Mode m = p.mode();
    return m == AudioPlayer::Mode::Playing || m == AudioPlayer::Mode::Paused;
}

} // namespace

AudioPlayer *RingEngine::startBell(int index, qint64 dayStart, AudioPlayer **loading)
{
    const QString name = m_day.entry(index).music;
    const std::optional<Prepared> prep = std::exchange(m_prepared, std::nullopt);
    AudioPlayer *p = prep ? prep->player : nullptr;
    const bool same = p && prep->key == m_day.key(index) && prep->dayStart == dayStart
        && prep->path == m_board.paths().musicFile(name) && p->fileName() == prep->path;
    if (same && prep->pending && p->opening()) {
        *loading = p;
        return nullptr;
    }
    const bool ready = same && !prep->pending && p->mode() == AudioPlayer::Mode::Stopped
        && p->position() == 0;
    if (!ready) {
        try {
            ringFile(m_board, activePlayer(), name);
        } catch (const AudioError &e) {
            if (!e.isPending())
                throw;
            *loading = &activePlayer();
            return nullptr;
        }
        return &activePlayer();
    }
    playPrepared(p, prep->length);
    return p;
}

void RingEngine::playPrepared(AudioPlayer *p, qint64 length)
{
    // Opened a moment ago: stop the bell still sounding, start this one.
    AudioPlayer &previous = activePlayer();
    if (&previous != p && sounds(previous)) {
        try {
            previous.stop();
        } catch (const std::exception &e) {
            // It was ending anyway; the new bell matters.
            qCDebug(lcRing) << "stopping the previous bell:" << e.what();
        }
    }
    m_board.setProgressMax(length);
    p->play();
    if (!p->isPlaying())
        throw AudioError(QStringLiteral("the player did not start ") + p->fileName());
}

AudioPlayer *RingEngine::preparePlayer() const
{
    // Never touch a bell that is still sounding (or paused): the next one
    // goes to the other player, when there is one.
    AudioPlayer &active = activePlayer();
    if (!sounds(active))
        return &active;
    AudioPlayer *other = m_players[1 - m_active];
    return other && !sounds(*other) ? other : nullptr;
}

void RingEngine::prepareNext(qint64 nowAbs, qint64 dayStart)
{
    if (m_waiting)
        return; // the player that loads must not be taken from that bell
    AudioPlayer *target = preparePlayer();
    if (!target)
        return;
    for (int i = m_day.next(); i < m_day.size(); ++i) {
        if (!m_day.entry(i).hasValidTime())
            continue;
        const qint64 abs = dayStart + m_day.entry(i).time;
        if (abs <= nowAbs)
            continue; // the bell of this second, or one to be marked past
        if (abs - nowAbs > kPrepareAheadSeconds)
            return;
        const BellKey key = m_day.key(i);
        if (m_due.wasRung(dayStart, key))
            continue;
        if ((m_prepared && m_prepared->key == key && m_prepared->dayStart == dayStart)
            || (m_prepareTried == key && m_prepareTriedDay == dayStart))
            return;
        m_prepareTried = key;
        m_prepareTriedDay = dayStart;
        const QString name = m_day.entry(i).music;
        if (!AppPaths::isBareFileName(name))
            return; // it fails at its own second, with its message
        const QString path = m_board.paths().musicFile(name);
        if (hasKnownZone(m_day.entry(i).zones)) {
            prepareZones(key, dayStart, path);
            return;
        }
        m_prepared.reset();
        try {
            target->close();
            target->setFileName(path);
            target->open();
            m_prepared = Prepared{key, dayStart, path, target, target->length(), false};
        } catch (const AudioError &e) {
            // A slow file goes on loading; anything else is tried again at
            // the bell's second, which shows the message then.
            if (e.isPending())
                m_prepared = Prepared{key, dayStart, path, target, 0, true};
            else
                qCDebug(lcRing) << "opening ahead failed:" << e.what();
        }
        return;
    }
}

void RingEngine::onOpened(AudioPlayer *p)
{
    if (m_prepared && m_prepared->player == p && m_prepared->pending) {
        m_prepared->pending = false;
        m_prepared->length = p->length();
    }
    if (zoneLoaded(p))
        return;
    if (!m_waiting || m_waiting->player != p)
        return;
    const Waiting w = *std::exchange(m_waiting, std::nullopt);
    m_prepared.reset();
    const qint64 nowAbs = nowAbsSeconds();
    if (!m_board.running())
        return;
    if (nowAbs - (w.bell.dayStart + w.bell.key.seconds) > m_due.catchUpSeconds()) {
        // Loaded too late to be of use: the bell did not sound.
        recordFailure(w.bell, BellStatus::Failed, kSlowOpenReason);
        m_outcomes.post(kSlowOpenReason);
        return;
    }
    try {
        playPrepared(p, p->length());
        started(p, w.bell, w.bell.dayStart);
    } catch (const std::exception &e) {
        startFailed(w.bell, dynamic_cast<const AudioError *>(&e), BellBoard::ringFailureText(e), nowAbs);
    }
}

void RingEngine::onOpenFailed(AudioPlayer *p, const QString &text, AudioError::Cause cause)
{
    if (m_prepared && m_prepared->player == p && m_prepared->pending)
        m_prepared.reset(); // the bell's second opens it again, with its message
    if (zoneLoaded(p, AudioError(text, cause)))
        return;
    if (!m_waiting || m_waiting->player != p)
        return;
    const Waiting w = *std::exchange(m_waiting, std::nullopt);
    const AudioError error(text, cause);
    startFailed(w.bell, &error, BellBoard::ringFailureText(error), nowAbsSeconds());
}
