#include "testplayback.h"
#include "logging.h"
#include "ringengine.h"

#include <QScopeGuard>

TestPlayback::TestPlayback(BellBoard &board, AudioPlayer &player, Messages &messages,
                           QObject *parent)
    : QObject(parent), m_board(board), m_player(player), m_messages(messages)
{
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
    m_zonePlayers.clear();
    m_zoneLoading.clear();
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
    QList<std::pair<qint64, AudioPlayer *>> zones;
    if (zonePlayer)
        for (qint64 id : e.zones)
            if (AudioPlayer *p = zonePlayer(id))
                zones.append({id, p});
    // Zones the engine does not know leave the bell on 铃声输出, as it rings.
    if (zones.isEmpty())
        return false;
    QStringList silent;
    std::optional<AudioError> firstError;
    for (const auto &[id, p] : zones) {
        watchZonePlayer(p);
        const QString name = zoneName ? zoneName(id) : QString::number(id);
        try {
            ringFile(m_board, *p, e.music);
            // Never on the default output: that is another zone's place.
            if (const QString missing = p->missingOutput(); !missing.isEmpty()) {
                p->close();
                throw AudioError(QStringLiteral("missing output ") + missing, AudioError::Cause::Output);
            }
            m_zonePlayers << p;
        } catch (const AudioError &err) {
            if (err.isPending()) {
                m_zonePlayers << p;
                m_zoneLoading.insert(p);
                continue;
            }
            silent << QStringLiteral("%1（%2）").arg(name, BellBoard::ringFailureText(err));
            if (!firstError)
                firstError = err;
        }
    }
    m_loading = !m_zoneLoading.isEmpty() && m_zoneLoading.size() == m_zonePlayers.size();
    if (m_zonePlayers.isEmpty())
        showFailure(*firstError);
    else if (!silent.isEmpty())
        showFailure(RingEngine::silentZonesText(silent));
    return true;
}

void TestPlayback::watchZonePlayer(AudioPlayer *p)
{
    if (m_watchedZones.contains(p) || p == &m_player)
        return;
    m_watchedZones.insert(p);
    connect(p, &AudioPlayer::opened, this, [this, p] { zoneOpened(p); });
    connect(p, &AudioPlayer::ended, this, [this, p] { playerEnded(p); });
    connect(p, &AudioPlayer::openFailed, this, [this, p](const QString &text, AudioError::Cause cause) {
        if (!m_zoneLoading.remove(p))
            return;
        m_zonePlayers.removeOne(p);
        m_loading = !m_zoneLoading.isEmpty() && m_zoneLoading.size() == m_zonePlayers.size();
        if (m_zonePlayers.isEmpty() && m_board.testing())
            showFailure(AudioError(text, cause));
    });
}

void TestPlayback::zoneOpened(AudioPlayer *p)
{
    if (!m_zoneLoading.remove(p) || !m_board.testing())
        return;
    try {
        m_board.setProgressMax(p->length());
        p->play();
        m_loading = false; // it sounds: the test steps on when all have ended
        if (!p->isPlaying())
            throw AudioError(QStringLiteral("the player did not start ") + p->fileName());
    } catch (const std::exception &e) {
        qCInfo(lcRing) << "test playback: a zone did not start:" << e.what();
        m_zonePlayers.removeOne(p);
        if (!m_loading && !sounding())
            m_rowFailed = true;
    }
}

bool TestPlayback::sounding() const
{
    if (m_zonePlayers.isEmpty())
        return m_player.isPlaying();
    return std::any_of(m_zonePlayers.cbegin(), m_zonePlayers.cend(),
                       [](const AudioPlayer *p) { return p->isPlaying(); });
}

AudioPlayer &TestPlayback::shownPlayer() const
{
    for (AudioPlayer *p : m_zonePlayers)
        if (p->isPlaying())
            return *p;
    return m_zonePlayers.isEmpty() ? m_player : *m_zonePlayers.first();
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
    QList<AudioPlayer *> players = std::exchange(m_zonePlayers, {});
    m_zoneLoading.clear();
    players.prepend(&m_player);
    for (AudioPlayer *p : players) {
        try {
            if (p->mode() != AudioPlayer::Mode::NotReady)
                p->stop();
        } catch (const std::exception &e) {
            qCDebug(lcRing) << "test playback: stopping the player:" << e.what();
        }
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
    // Only the players of the row that plays; on once the last has ended.
    if (m_zonePlayers.isEmpty() ? p != &m_player : !m_zonePlayers.contains(p))
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
