#include "testplayback.h"
#include "logging.h"
#include "ringengine.h"

#include <QScopeGuard>
#include <QScopedValueRollback>

TestPlayback::TestPlayback(BellBoard &board, AudioPlayer &player, Messages &messages,
                           QObject *parent)
    : QObject(parent), m_board(board), m_player(player), m_messages(messages),
      m_zones([this](const SoundTarget &t) { return zonePlayer ? zonePlayer(t.zone) : nullptr; })
{
    connect(&m_zones, &OutputGroup::started, this, &TestPlayback::zoneStarted);
    connect(&m_zones, &OutputGroup::silent, this,
            [this](int i, const QString &why, bool, AudioError::Cause cause) { zoneSilent(i, why, cause); });
    // On once the row has ended in every zone.
    connect(&m_zones, &OutputGroup::ended, this, [this] { playerEnded(nullptr); });
    TimerCheck.setInterval(1000);
    connect(&TimerCheck, &QTimer::timeout, this, &TestPlayback::TimerCheckTimer);
    // A slow file goes on loading: the test plays it once loaded, and moves
    // on only after it has sounded (or failed).
    connect(&m_player, &AudioPlayer::opened, this, [this] {
        if (!std::exchange(m_loading, false) || !m_board.testing())
            return;
        try {
            m_board.setProgressMax(m_player.length());
            m_player.play();
            if (!m_player.isPlaying())
                throw AudioError(QStringLiteral("the player did not start ") + m_player.fileName());
        } catch (const std::exception &e) {
            showFailure(e);
        }
    });
    connect(&m_player, &AudioPlayer::ended, this, [this] { playerEnded(&m_player); });
    connect(&m_player, &AudioPlayer::openFailed, this,
            [this](const QString &text, AudioError::Cause cause) {
                if (std::exchange(m_loading, false) && m_board.testing())
                    showFailure(AudioError(text, cause));
            });
}

void TestPlayback::ButtonCheckClick()
{
    if (m_board.running())
        return;
    const bool starting = !m_board.testing();
    if (starting && refusal) {
        if (const QString why = refusal(); !why.isEmpty()) {
            m_messages.typedOk(Messages::Kind::Warning, why);
            return;
        }
    }
    m_board.setTesting(starting);
    emit testing(starting);
    ++m_run; // a question still posted belongs to the test that was
    m_boxOpen = false;
    if (!starting) {
        TimerCheck.stop();
        m_loading = false;
        stopPlayer();
        return;
    }
    m_goOn = false;
    TimerCheck.start();
    m_board.setYunXing(selectedMusic());
    m_byOperator = true;
    const auto done = qScopeGuard([this] { m_byOperator = false; });
    playSelected();
}

void TestPlayback::playSelected()
{
    m_loading = false;
    m_rowFailed = false;
    m_inZones = false;
    try {
        if (const BellEntry *e = m_board.entryAtRow(m_board.selectedRow()); e && playInZones(*e))
            return;
        ringRow(m_board, m_player, m_board.selectedRow());
    } catch (const AudioError &e) {
        if (e.isPending())
            m_loading = true;
        else
            showFailure(e);
    } catch (const std::exception &e) {
        showFailure(e);
    }
}

bool TestPlayback::playsInZones(const BellEntry &e) const
{
    return zonePlayer && std::any_of(e.zones.cbegin(), e.zones.cend(),
                                     [this](qint64 id) { return zonePlayer(id) != nullptr; });
}

void TestPlayback::playSelectedInZones()
{
    if (!m_board.testing())
        return;
    stopPlayer();
    m_board.setYunXing(selectedMusic());
    playSelected();
}

bool TestPlayback::playInZones(const BellEntry &e)
{
    QList<SoundTarget> zones;
    if (zonePlayer)
        for (qint64 id : e.zones)
            if (zonePlayer(id))
                zones.append(SoundTarget{id, zoneName ? zoneName(id) : QString::number(id), {}, 0, true});
    // Zones the engine does not know leave the bell on 铃声输出, as it rings.
    if (zones.isEmpty())
        return false;
    m_inZones = true;
    m_silentZones.clear();
    m_zoneError.reset();
    if (!AppPaths::isBareFileName(e.music)) {
        m_zones.stop();
        showFailure(AudioError(QStringLiteral("not a file of the music folder: ") + e.music));
        return true;
    }
    {
        const QScopedValueRollback starting(m_startingZones, true);
        m_zones.play(m_board.paths().musicFile(e.music), zones);
    }
    m_loading = m_zones.loading() && !m_zones.sounding();
    if (!m_zones.sounding() && !m_zones.loading())
        showFailure(m_zoneError ? BellBoard::ringFailureText(*m_zoneError) : OutputGroup::kNoPlayerReason);
    else if (!m_silentZones.isEmpty())
        showFailure(OutputGroup::silentZonesText(m_silentZones));
    return true;
}

void TestPlayback::zoneStarted(int index)
{
    if (AudioPlayer *p = m_zones.player(index))
        m_board.setProgressMax(p->length());
    m_loading = false; // it sounds: the test steps on when all have ended
}

void TestPlayback::zoneSilent(int index, const QString &why, AudioError::Cause cause)
{
    const AudioError error(why, cause);
    if (m_startingZones) {
        m_silentZones << OutputGroup::silentText(m_zones.target(index).name, BellBoard::ringFailureText(error));
        if (!m_zoneError)
            m_zoneError = error;
        return;
    }
    // A zone that failed after loading: the test goes on with the others.
    qCInfo(lcRing).noquote() << "test playback: zone" << m_zones.target(index).name << "did not start:" << why;
    m_loading = m_zones.loading() && !m_zones.sounding();
    if (!m_zones.sounding() && !m_zones.loading() && m_board.testing())
        showFailure(error);
}

bool TestPlayback::sounding() const
{
    return m_inZones ? m_zones.sounding() : m_player.isPlaying();
}

AudioPlayer &TestPlayback::shownPlayer() const
{
    if (!m_inZones)
        return m_player;
    if (const QList<AudioPlayer *> playing = m_zones.soundingPlayers(); !playing.isEmpty())
        return *playing.first();
    for (int i = 0; i < m_zones.size(); ++i)
        if (m_zones.state(i) != OutputGroup::State::Silent && m_zones.player(i))
            return *m_zones.player(i);
    return m_player;
}

QString TestPlayback::goOnQuestion(int row, const QString &music, const QString &failure)
{
    return QStringLiteral("第 %1 行（%2）：%3\n\n是否继续测试后面的铃声？")
        .arg(row)
        .arg(music.isEmpty() ? QStringLiteral("没有音乐文件") : shownText(music), failure);
}

void TestPlayback::stopPlayer()
{
    // After a failed row nothing is open, and the player's "No MCI device
    // open" means nothing to the operator.
    m_inZones = false;
    m_zones.stop();
    try {
        if (m_player.mode() != AudioPlayer::Mode::NotReady)
            m_player.stop();
    } catch (const std::exception &e) {
        qCDebug(lcRing) << "test playback: stopping the player:" << e.what();
    }
}

void TestPlayback::showFailure(const std::exception &e)
{
    showFailure(BellBoard::ringFailureText(e));
}

void TestPlayback::showFailure(const QString &text)
{
    const int row = m_board.selectedRow();
    qCInfo(lcRing).noquote() << "test playback: row" << row << shownText(selectedMusic()) << text;
    if (!m_loading && !sounding())
        m_rowFailed = true;
    // Asked once per test, one question at a time.
    if (m_goOn || m_boxOpen)
        return;
    m_boxOpen = true; // the test waits for the answer from now on
    if (m_byOperator) {
        askGoOn(text);
        return;
    }
    // Never a modal box inside a player's signal or the tick: it shows
    // once they have returned.
    QMetaObject::invokeMethod(this, [this, text, run = m_run] {
        if (run == m_run)
            askGoOn(text);
    }, Qt::QueuedConnection);
}

void TestPlayback::askGoOn(const QString &text)
{
    const auto close = qScopeGuard([this] { m_boxOpen = false; });
    const quint64 run = m_run;
    const Messages::Answer a =
        m_messages.yesNo(Messages::Kind::Confirm, goOnQuestion(m_board.selectedRow(), selectedMusic(), text));
    // The operator (or an emergency) may have stopped the test meanwhile.
    if (!m_board.testing() || run != m_run)
        return;
    if (a == Messages::Answer::Yes)
        m_goOn = true;
    else
        endTest();
}

QString TestPlayback::selectedMusic() const
{
    const BellEntry *e = m_board.entryAtRow(m_board.selectedRow());
    return e ? e->music : QString();
}

void TestPlayback::endTest()
{
    // As if "停止测试" were pressed.
    m_board.setTesting(false);
    TimerCheck.stop();
    stopPlayer();
    emit testing(false);
}

void TestPlayback::stepOn()
{
    const int next = m_board.selectedRow() + 1;
    if (!m_board.entryAtRow(next)) {
        endTest();
        return;
    }
    m_board.setSelectedRow(next);
    m_board.setYunXing(selectedMusic());
    playSelected();
}

void TestPlayback::playerEnded(AudioPlayer *p)
{
    if (!m_board.testing() || m_loading)
        return;
    // Only the players of the row that plays (nullptr: its zones' group);
    // on once the last has ended.
    if (m_inZones != (p == nullptr))
        return;
    try {
        if (sounding())
            return;
        // The question about a zone that stayed silent is answered first.
        if (m_boxOpen) {
            m_rowFailed = true;
            return;
        }
        stepOn();
    } catch (const std::exception &e) {
        // Nothing escapes a player's signal; the next tick passes the row.
        qCWarning(lcRing) << "test playback step abandoned:" << e.what();
        m_rowFailed = true;
    }
}

void TestPlayback::TimerCheckTimer()
{
    if (!m_board.testing()) {
        TimerCheck.stop();
        return;
    }
    if (m_boxOpen || m_loading)
        return;
    try {
        if (m_rowFailed) {
            stepOn();
            if (!m_board.testing())
                return;
        }
        m_board.setProgressPos(shownPlayer().position());
    } catch (const std::exception &e) {
        // A timer slot must not throw; the next tick tries again.
        qCWarning(lcRing) << "test playback step abandoned:" << e.what();
    }
}
