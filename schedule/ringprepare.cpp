// Starting a bell: the ringRow sequence, and the files opened ahead of their
// second so that the second itself only has to start the player, on a
// second player when the previous bell still sounds.
#include "ringengine.h"

void ringRow(BellBoard &board, AudioPlayer &player, int row)
{
    const QString name = board.grid().cell(ScheduleGrid::ColMusic, row);
    player.close();
    player.setFileName(board.paths().musicFile(name));
    if (!AppPaths::isBareFileName(name))
        throw AudioError(QStringLiteral("not a file of the music folder: ") + name);
    player.open();
    board.setProgressMax(player.length());
    player.play();
    // A refused start would otherwise be a bell that silently never sounds.
    if (!player.isPlaying())
        throw AudioError(QStringLiteral("the player did not start ") + player.fileName());
}

namespace {

bool sounds(const AudioPlayer &p)
{
    const AudioPlayer::Mode m = p.mode();
    return m == AudioPlayer::Mode::Playing || m == AudioPlayer::Mode::Paused;
}

QString preparedKey(qint64 dayStart, const QString &key)
{
    return QString::number(dayStart) + u':' + key;
}

} // namespace

AudioPlayer *RingEngine::startBell(int row, qint64 dayStart)
{
    const QString name = m_board.grid().cell(ScheduleGrid::ColMusic, row);
    const std::optional<Prepared> prep = std::exchange(m_prepared, std::nullopt);
    AudioPlayer *p = prep ? prep->player : nullptr;
    const bool ready = p && prep->key == preparedKey(dayStart, m_board.rowKey(row))
        && prep->path == m_board.paths().musicFile(name) && p->fileName() == prep->path
        && p->mode() == AudioPlayer::Mode::Stopped && p->position() == 0;
    if (!ready) {
        ringRow(m_board, activePlayer(), row);
        return &activePlayer();
    }
    // Opened a moment ago: stop the bell still sounding, start this one.
    AudioPlayer &previous = activePlayer();
    if (&previous != p && sounds(previous)) {
        try {
            previous.stop();
        } catch (const std::exception &) {
            // It was ending anyway; the new bell matters.
        }
    }
    m_board.setProgressMax(prep->length);
    p->play();
    if (!p->isPlaying())
        throw AudioError(QStringLiteral("the player did not start ") + p->fileName());
    return p;
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
    AudioPlayer *target = preparePlayer();
    if (!target)
        return;
    const ScheduleGrid &g = m_board.grid();
    for (int r = std::max(1, m_board.nextBellRow()); r <= g.lastRow(); ++r) {
        const std::optional<qint64> t = g.integerCell(ScheduleGrid::ColSeconds, r);
        if (!t)
            return;
        const qint64 abs = dayStart + *t;
        if (abs <= nowAbs)
            continue; // the bell of this second, or one to be marked past
        if (abs - nowAbs > kPrepareAheadSeconds)
            return;
        const QString key = m_board.rowKey(r);
        if (wasRung(dayStart, key))
            continue;
        const QString pkey = preparedKey(dayStart, key);
        if ((m_prepared && m_prepared->key == pkey) || m_prepareTried == pkey)
            return;
        m_prepareTried = pkey;
        const QString name = g.cell(ScheduleGrid::ColMusic, r);
        if (!AppPaths::isBareFileName(name))
            return; // it fails at its own second, with its message
        const QString path = m_board.paths().musicFile(name);
        m_prepared.reset();
        try {
            target->close();
            target->setFileName(path);
            target->open();
            m_prepared = Prepared{pkey, path, target, target->length()};
        } catch (const std::exception &) {
            // Tried again at the bell's second, which shows the message then.
        }
        return;
    }
}
