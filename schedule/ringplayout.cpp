#include "ringplayout.h"

#include "logging.h"

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

RingPlayout::RingPlayout(BellBoard &board, AudioPlayer &player, AudioPlayer *spare)
    : m_board(board), m_players{&player, spare}
{
}

AudioPlayer *RingPlayout::start(const BellKey &key, qint64 dayStart, const QString &music,
                                AudioPlayer **loading)
{
    const std::optional<Prepared> prep = std::exchange(m_prepared, std::nullopt);
    AudioPlayer *p = prep ? prep->player : nullptr;
    const bool same = p && prep->key == key && prep->dayStart == dayStart
        && prep->path == m_board.paths().musicFile(music) && p->fileName() == prep->path;
    if (same && prep->pending && p->opening()) {
        *loading = p;
        return nullptr;
    }
    const bool ready = same && !prep->pending && p->mode() == AudioPlayer::Mode::Stopped && p->position() == 0;
    if (!ready) {
        try {
            ringFile(m_board, active(), music);
        } catch (const AudioError &e) {
            if (!e.isPending())
                throw;
            *loading = &active();
            return nullptr;
        }
        return &active();
    }
    playOpened(p, prep->length);
    return p;
}

void RingPlayout::playOpened(AudioPlayer *p, qint64 length)
{
    // Opened a moment ago: stop the bell still sounding, start this one.
    AudioPlayer &previous = active();
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

AudioPlayer *RingPlayout::idle() const
{
    // Never touch a bell that is still sounding (or paused): the next one
    // goes to the other player, when there is one.
    AudioPlayer &current = active();
    if (!sounds(current))
        return &current;
    AudioPlayer *other = m_players[1 - m_active];
    return other && !sounds(*other) ? other : nullptr;
}

bool RingPlayout::tryOnce(const BellKey &key, qint64 dayStart)
{
    if ((m_prepared && m_prepared->key == key && m_prepared->dayStart == dayStart)
        || (m_tried == key && m_triedDay == dayStart))
        return false;
    m_tried = key;
    m_triedDay = dayStart;
    return true;
}

void RingPlayout::openAhead(AudioPlayer *target, const BellKey &key, qint64 dayStart, const QString &path)
{
    m_prepared.reset();
    try {
        target->close();
        target->setFileName(path);
        target->open();
        m_prepared = Prepared{key, dayStart, path, target, target->length(), false};
    } catch (const AudioError &e) {
        // A slow file goes on loading; anything else is tried again at the
        // bell's second, which shows the message then.
        if (e.isPending())
            m_prepared = Prepared{key, dayStart, path, target, 0, true};
        else
            qCDebug(lcRing) << "opening ahead failed:" << e.what();
    }
}

void RingPlayout::opened(AudioPlayer *p)
{
    if (m_prepared && m_prepared->player == p && m_prepared->pending) {
        m_prepared->pending = false;
        m_prepared->length = p->length();
    }
}

void RingPlayout::openFailed(AudioPlayer *p)
{
    if (m_prepared && m_prepared->player == p && m_prepared->pending)
        m_prepared.reset(); // the bell's second opens it again, with its message
}

void RingPlayout::forget(bool all)
{
    m_prepared.reset();
    if (all)
        m_tried.reset();
}

void RingPlayout::stop()
{
    for (AudioPlayer *p : m_players) {
        if (!p || (!p->isPlaying() && p->mode() != AudioPlayer::Mode::Paused))
            continue;
        try {
            p->stop();
        } catch (const std::exception &e) {
            qCWarning(lcRing) << "stopping the bell:" << e.what();
        }
    }
}
