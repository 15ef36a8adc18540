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
    try {
        ringRow(m_board, m_player, m_board.selectedRow());
    } catch (const std::exception &e) {
        m_boxOpen = true;
        const auto close = qScopeGuard([this] { m_boxOpen = false; });
        m_messages.plain(BellBoard::ringFailureText(e));
    }
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
    if (m_boxOpen)
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
