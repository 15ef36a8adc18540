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
        } catch (const std::exception &e) {
            showFailure(e);
        }
    });
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
    m_board.setTesting(starting);
    if (!starting) {
        TimerCheck.stop();
        m_player.stop(); // with nothing open this throws "No MCI device open"
        return;
    }
    TimerCheck.start();
    m_board.setYunXing(selectedMusic());
    playSelected();
}

void TestPlayback::playSelected()
{
    m_loading = false;
    try {
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

void TestPlayback::showFailure(const std::exception &e)
{
    m_boxOpen = true;
    const auto close = qScopeGuard([this] { m_boxOpen = false; });
    m_messages.plain(BellBoard::ringFailureText(e));
}

QString TestPlayback::selectedMusic() const
{
    const BellEntry *e = m_board.entryAtRow(m_board.selectedRow());
    return e ? e->music : QString();
}

void TestPlayback::endTest()
{
    // As if "停止测试" were pressed; nothing sounds at this point, so there is
    // nothing to stop (and no error to show when the last open failed).
    m_board.setTesting(false);
    TimerCheck.stop();
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
        if (!m_player.isPlaying()) {
            const int next = m_board.selectedRow() + 1;
            if (!m_board.entryAtRow(next)) {
                endTest();
                return;
            }
            m_board.setSelectedRow(next);
            playSelected();
            if (!m_board.testing())
                return; // stopped while the box was open
        }
        m_board.setProgressPos(m_player.position());
        m_board.setYunXing(selectedMusic());
    } catch (const std::exception &e) {
        // A timer slot must not throw; the next tick tries again.
        qCWarning(lcRing) << "test playback step abandoned:" << e.what();
    }
}
