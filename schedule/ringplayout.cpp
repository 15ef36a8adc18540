#include "ringplayout.h"

#include "logging.h"

#include <algorithm>
#include <vector>

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
    if (m_early && m_early->key == key && m_early->dayStart == dayStart && m_early->player->isPlaying()) {
        // Started ahead of its second: it sounds already.
        const Early e = *std::exchange(m_early, std::nullopt);
        m_startedAt = e.at;
        return e.player;
    }
    dropEarly();
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
        m_startedAt = m_board.clock().now();
        return &active();
    }
    playOpened(p, prep->length);
    return p;
}

void RingPlayout::playOpened(AudioPlayer *p, qint64 length, const QDateTime &wanted)
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
    const QDateTime from = wanted.isValid() ? wanted : m_board.clock().now();
    p->play();
    m_startedAt = m_board.clock().now();
    if (!p->isPlaying())
        throw AudioError(QStringLiteral("the player did not start ") + p->fileName());
    // What a start costs this player (a timer's wake-up, the call to its
    // worker, the unpause): how early the next one may start.
    std::deque<qint64> &d = m_startMs[indexOf(p)];
    d.push_back(std::clamp<qint64>(from.msecsTo(m_startedAt), 0, kMaxStartLeadMs));
    if (d.size() > kLatencySamples)
        d.pop_front();
}

std::optional<BellKey> RingPlayout::ready(qint64 dayStart) const
{
    if (!m_prepared || m_prepared->pending || m_prepared->dayStart != dayStart)
        return std::nullopt;
    const AudioPlayer *p = m_prepared->player;
    if (p->fileName() != m_prepared->path || p->mode() != AudioPlayer::Mode::Stopped || p->position() != 0)
        return std::nullopt;
    return m_prepared->key;
}

qint64 RingPlayout::startLeadMs() const
{
    if (!m_prepared)
        return 0;
    std::vector<qint64> v(m_startMs[indexOf(m_prepared->player)].begin(),
                          m_startMs[indexOf(m_prepared->player)].end());
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

void RingPlayout::startEarly(const BellKey &key, qint64 dayStart, const QDateTime &aimedAt)
{
    if (ready(dayStart) != key)
        return;
    const Prepared prep = *std::exchange(m_prepared, std::nullopt);
    playOpened(prep.player, prep.length, aimedAt);
    m_early = Early{key, dayStart, prep.player, m_startedAt};
}

void RingPlayout::dropEarly()
{
    if (!m_early)
        return;
    AudioPlayer *p = std::exchange(m_early, std::nullopt)->player;
    qCInfo(lcRing) << "a bell started ahead of its second was not rung then: stopped";
    try {
        p->stop();
    } catch (const std::exception &e) {
        qCWarning(lcRing) << "stopping a bell started ahead:" << e.what();
    }
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
    dropEarly();
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
