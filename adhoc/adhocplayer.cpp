#include "adhocplayer.h"
#include "guarded.h"

#include "audiolog.h"

#include <algorithm>

QString AdhocPlayer::fileMessage(const QString &path)
{
    return QStringLiteral("找不到    ") + path + QStringLiteral("，  或系统不支持该音乐文件！");
}

QString AdhocPlayer::timeText(qint64 elapsedMs, qint64 totalMs)
{
    const bool hours = totalMs >= 3600 * 1000;
    auto clock = [hours](qint64 ms) {
        const qint64 s = std::max<qint64>(ms, 0) / 1000;
        const QString mmss = QStringLiteral("%1:%2")
                                 .arg(hours ? s / 60 % 60 : s / 60, 2, 10, QChar(u'0'))
                                 .arg(s % 60, 2, 10, QChar(u'0'));
        return hours ? QString::number(s / 3600) + u':' + mmss : mmss;
    };
    return clock(elapsedMs) + QStringLiteral(" / ") + clock(totalMs);
}

AdhocPlayer::AdhocPlayer(AdhocPlaylist &list, AudioPlayer &player, Messages &messages,
                         QObject *parent)
    : QObject(parent), m_list(list), m_player(player),
      m_zoned(qobject_cast<BroadcastPlayer *>(&player)), m_messages(messages)
{
    m_moveOn.setSingleShot(true);
    m_moveOn.setInterval(kMoveOnMs);
    connect(&m_moveOn, &QTimer::timeout, this, &AdhocPlayer::moveOn);
    connect(&m_player, &AudioPlayer::ended, this, &AdhocPlayer::playerEnded);
    connect(&m_player, &AudioPlayer::opened, this, &AdhocPlayer::backgroundOpened);
    connect(&m_player, &AudioPlayer::openFailed, this,
            [this](const QString &, AudioError::Cause cause) { backgroundOpenFailed(cause); });
}

void AdhocPlayer::moveOn()
{
    m_moveOn.stop();
    playerEnded();
}

void AdhocPlayer::playerEnded()
{
    // The line that ended takes its time with it; the next shows its own.
    setPlayTime({});
    // A disabled advance (paused, or stopped after a failure) stays put.
    if (Timer1.isActive())
        Timer1Timer();
}

void AdhocPlayer::backgroundOpened()
{
    if (!m_opening)
        return;
    m_opening = false;
    const auto then = std::move(m_afterOpen);
    m_beforeFailure = nullptr;
    // Paused meanwhile: the file waits, open, for "继  续".
    if (then && m_pauseCaption != kContinue)
        guarded(then);
}

void AdhocPlayer::backgroundOpenFailed(AudioError::Cause cause)
{
    if (!m_opening)
        return;
    m_opening = false;
    m_afterOpen = nullptr;
    if (const auto before = std::move(m_beforeFailure))
        before();
    const bool output = cause == AudioError::Cause::Output || cause == AudioError::Cause::NoResponse;
    if (playMode())
        m_moveOn.start();
    message(output ? kNoOutput : fileMessage(m_openingPath));
    emit changed();
}

void AdhocPlayer::guarded(const std::function<void()> &body)
{
    runGuarded(m_messages, [&body] {
        try {
            body();
        } catch (const AppError &e) {
            qCWarning(lcAudio).noquote() << "the ad-hoc broadcast:" << e.text();
            throw;
        } catch (const std::exception &e) {
            qCWarning(lcAudio) << "the ad-hoc broadcast:" << e.what();
            throw;
        }
    }, [this] { emit changed(); });
    emit changed();
}

void AdhocPlayer::message(const QString &text)
{
    // The window shows the state the step has reached while the box is open.
    emit changed();
    m_messages.plain(text);
}

bool AdhocPlayer::refused()
{
    const QString why = refusal ? refusal() : QString();
    if (!why.isEmpty())
        message(why);
    return !why.isEmpty();
}

void AdhocPlayer::setBar(int value)
{
    value = std::clamp(value, 0, 100);
    if (value == m_bar)
        return;
    m_bar = value;
    emit changed();
}

void AdhocPlayer::setPlayTime(const QString &text)
{
    if (text == m_playTime)
        return;
    m_playTime = text;
    emit changed();
}

bool AdhocPlayer::mayClose()
{
    bool playing = m_opening && playMode();
    try {
        playing = playing || m_player.mode() == AudioPlayer::Mode::Playing;
    } catch (const std::exception &e) {
        // Nothing can be said to play; closing stops whatever might.
        qCWarning(lcAudio) << "the ad-hoc player's state before closing:" << e.what();
    }
    if (!playing)
        return true;
    return m_messages.noYes(Messages::Kind::Confirm, kCloseWhilePlaying) == Messages::Answer::Yes;
}

qint64 AdhocPlayer::startFromBar() const
{
    // 64 bits: a file of some hours times 100 overflows 32.
    return m_player.length() * qint64(m_bar) / 100;
}

bool AdhocPlayer::openSelectedItem(const std::function<void()> &then,
                                   const std::function<void()> &beforeMessage)
{
    const int k = m_list.selected();
    if (k < 0)
        return false;
    const PlaylistLine line = m_list.lines().at(k);
    const std::optional<PlaylistItem> item = m_list.store().item(line.id);
    // Without a row the line's own text is the best name to report.
    const QString path = item ? item->path() : line.text;
    m_opening = false; // a new open supersedes one still going on
    try {
        m_player.close();
        if (!item)
            throw AudioError(path);
        m_player.setFileName(path);
        try {
            m_player.open();
        } catch (const AudioError &e) {
            if (!e.isPending())
                throw;
            // A slow file on a loaded machine: what follows waits for it.
            m_opening = true;
            m_afterOpen = then;
            m_beforeFailure = beforeMessage;
            m_openingPath = path;
            return true;
        }
        if (then)
            then();
        return true;
    } catch (const std::exception &e) {
        qCWarning(lcAudio) << "the ad-hoc broadcast could not play" << path << ":" << e.what();
        if (beforeMessage)
            beforeMessage();
        if (playMode())
            m_moveOn.start();
        const auto *audio = dynamic_cast<const AudioError *>(&e);
        message(audio && audio->isOutputFailure() ? kNoOutput : fileMessage(path));
        return false;
    }
}

void AdhocPlayer::startPlayMode(bool fromBar)
{
    m_playCaption = kStop;
    m_barAtPause = -1;
    if (fromBar) {
        // The play button: start where the bar points, pause reads "暂  停".
        m_pauseCaption = kPause;
        openSelectedItem([this] {
            m_player.setStartPosition(startFromBar());
            m_player.play();
            m_pauseEnabled = true;
            Timer1.start();
        });
    } else {
        // The double-click: from the beginning, pause may be pressed at once.
        m_pauseEnabled = true;
        openSelectedItem([this] {
            m_player.play();
            Timer1.start();
        });
    }
}

void AdhocPlayer::cancelOpening()
{
    if (!m_opening)
        return;
    m_opening = false;
    m_afterOpen = m_beforeFailure = nullptr;
    m_player.close();
}

void AdhocPlayer::stopPlayMode()
{
    cancelOpening();
    m_playCaption = kPlay;
    m_playTime.clear();
    if (playerHasFile())
        m_player.stop();
    m_pauseEnabled = false;
}

void AdhocPlayer::toStopped()
{
    stopPlayMode();
    m_bar = 0;
    m_pauseCaption = kPause;
}

void AdhocPlayer::ButtonPlayClick()
{
    guarded([this] {
        if (m_list.count() == 0) {
            message(AdhocPlaylist::kNoMusic);
            return;
        }
        if (m_list.selected() < 0) {
            message(AdhocPlaylist::kChoose);
            return;
        }
        if (!playMode()) {
            if (refused())
                return;
            startPlayMode(true);
        } else {
            toStopped();
        }
        // After a failed start this lets the advance move on to the next line.
        Timer1.start();
    });
}

void AdhocPlayer::ListBox1DblClick()
{
    guarded([this] {
        // The empty area below the lines may leave nothing selected after an
        // add, delete or clear: there is no line to play or stop then.
        if (m_list.count() == 0 || m_list.selected() < 0)
            return;
        if (!playMode()) {
            if (!refused())
                startPlayMode(false);
        } else
            stopPlayMode();
    });
}

void AdhocPlayer::ButtonPausedClick()
{
    guarded([this] {
        if (m_pauseCaption == kPause) {
            m_pauseCaption = kContinue;
            m_barAtPause = m_player.mode() == AudioPlayer::Mode::Playing ? m_bar : -1;
            if (playerHasFile())
                m_player.pause();
            Timer1.stop();
        } else {
            if (refused())
                return;
            m_pauseCaption = kPause;
            const bool untouched = m_barAtPause >= 0 && m_barAtPause == m_bar
                && m_player.mode() == AudioPlayer::Mode::Paused;
            m_barAtPause = -1;
            if (untouched) {
                // The bar was left alone: go on from the exact point of the
                // pause rather than jumping back to its whole per cent.
                m_player.pause();
            } else if (playerHasFile()) {
                m_player.setStartPosition(startFromBar());
                m_player.play();
            } else if (playMode()) {
                // Halted at a line that failed: the advance goes on from it.
                m_moveOn.start();
            }
            Timer1.start();
        }
    });
}

bool AdhocPlayer::pauseIfPlaying()
{
    if (!playMode() || m_pauseCaption != kPause)
        return false;
    ButtonPausedClick();
    return m_pauseCaption == kContinue;
}

void AdhocPlayer::continueIfPaused()
{
    if (playMode() && m_pauseCaption == kContinue)
        ButtonPausedClick();
}

void AdhocPlayer::Timer1Timer()
{
    // A box this tick opened lets further ticks run; they wait for it. An
    // open still going on is the advance's own.
    if (m_inAdvance || m_opening)
        return;
    m_inAdvance = true;
    guarded([this] {
        if (m_player.mode() == AudioPlayer::Mode::Playing || !playMode())
            return;
        const int k = m_list.selected();
        if (k + 1 >= m_list.count()) {
            // The last line has ended: nothing plays, and the window says so.
            toStopped();
            return;
        }
        m_list.select(k + 1);
        // The advance stops before the message shows, so that ticks during
        // the open box do not run on through the rest of the list.
        openSelectedItem([this] { m_player.play(); }, [this] { Timer1.stop(); });
    });
    m_inAdvance = false;
}

void AdhocPlayer::TimerPostionTimer()
{
    // Ten times a second: a failure here would flood the operator with
    // boxes, and the next tick tries again anyway.
    try {
        // The time goes with the line's end or a stop, which the player
        // and the buttons tell; here only the bar follows the position.
        if (m_player.mode() != AudioPlayer::Mode::Playing)
            return;
        const qint64 len = m_player.length();
        const qint64 pos = m_player.position();
        setBar(int(std::clamp<qint64>(len > 0 ? pos * 100 / len : 0, 0, 100)));
        setPlayTime(timeText(pos, len));
        // Zones drift apart slowly, if at all: this pace is enough.
        if (m_zoned)
            m_zoned->keepInStep();
        m_lastBarError.clear();
    } catch (const std::exception &e) {
        const QString text = QString::fromLocal8Bit(e.what());
        if (text != m_lastBarError)
            qCWarning(lcAudio).noquote() << "the ad-hoc position bar:" << text;
        m_lastBarError = text;
    }
}

void AdhocPlayer::dragOverBar(int value)
{
    guarded([this, value] {
        if (m_player.mode() != AudioPlayer::Mode::Playing)
            return;
        // The line passing over the bar points at where to go on from; the
        // file keeps playing from there instead of stopping.
        m_bar = std::clamp(value, 0, 100);
        m_player.seek(startFromBar());
        m_player.play();
    });
}

void AdhocPlayer::FormShow()
{
    guarded([this] {
        m_list.Refresh();
        if (m_list.count() == 0)
            return;
        m_list.select(0);
        openSelectedItem({});
    });
}

void AdhocPlayer::FormClose()
{
    cancelOpening();
    guarded([this] {
        if (m_player.mode() == AudioPlayer::Mode::Playing) {
            m_player.stop();
            Timer1.stop();
        }
    });
    // Saved even when stopping failed: the operator's order is not lost.
    guarded([this] { m_list.saveOrder(); });
}
