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
    if (starting && refusal) {
        if (const QString why = refusal(); !why.isEmpty()) {
            m_messages.typedOk(Messages::Kind::Warning, why);
            return;
        }
    }
    m_board.setTesting(starting);
    if (!starting) {
        TimerCheck.stop();
        m_loading = false;
        stopPlayer();
        return;
    }
    m_goOn = false;
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
    try {
        if (m_player.mode() != AudioPlayer::Mode::NotReady)
            m_player.stop();
    } catch (const std::exception &e) {
        qCDebug(lcRing) << "test playback: stopping the player:" << e.what();
    }
}

void TestPlayback::showFailure(const std::exception &e)
{
    const int row = m_board.selectedRow();
    const QString text = BellBoard::ringFailureText(e);
    qCInfo(lcRing).noquote() << "test playback: row" << row << shownText(selectedMusic()) << text;
    if (m_goOn)
        return;
    m_boxOpen = true;
    const auto close = qScopeGuard([this] { m_boxOpen = false; });
    const Messages::Answer a =
        m_messages.yesNo(Messages::Kind::Confirm, goOnQuestion(row, selectedMusic(), text));
    // The operator may have stopped the test while the box was open.
    if (!m_board.testing())
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
