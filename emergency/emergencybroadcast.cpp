#include "emergencybroadcast.h"

#include "alarmtone.h"
#include "emergencylog.h"
#include "loaderrors.h"
#include "ringhistory.h"
#include "secondsofday.h"
#include "soundserver.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

QString EmergencyBroadcast::durationText(qint64 ms)
{
    const qint64 s = std::max<qint64>(ms, 0) / 1000;
    const QString mmss = QStringLiteral("%1:%2").arg(s / 60 % 60, 2, 10, QChar(u'0')).arg(s % 60, 2, 10, QChar(u'0'));
    return s >= 3600 ? QStringLiteral("%1:%2").arg(s / 3600).arg(mmss) : mmss;
}

EmergencyBroadcast::EmergencyBroadcast(AppPaths paths, const Clock &clock, PlayerFactory makePlayer,
                                       QObject *parent)
    : QObject(parent), m_paths(std::move(paths)), m_clock(clock), m_makePlayer(std::move(makePlayer))
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, [this] { checkSettled(true); });
}

EmergencyBroadcast::~EmergencyBroadcast()
{
    // The program's owner ends it first (its hooks reach parts that go
    // before this); here only the players are let go.
    for (auto &[device, p] : m_players)
        if (p)
            p->close();
}

QString EmergencyBroadcast::originText(Origin origin)
{
    switch (origin) {
    case Origin::Button: return QStringLiteral("主窗口按钮");
    case Origin::Tray: return QStringLiteral("托盘菜单");
    case Origin::AdhocButton: return QStringLiteral("临时广播窗口按钮");
    case Origin::Command: return QStringLiteral("命令行");
    case Origin::Quit: return QStringLiteral("程序退出");
    }
    return {};
}

QString EmergencyBroadcast::toneInsteadText(const QString &why)
{
    return QStringLiteral("紧急广播改放内置警报声。原因：%1").arg(why);
}

QString EmergencyBroadcast::alarmTonePath() const
{
    return m_toneDir ? m_toneDir->filePath(alarmtone::kFileName) : m_paths.musicFile(alarmtone::kFileName);
}

bool EmergencyBroadcast::ensureAlarmTone()
{
    const QString inMusic = m_paths.musicFile(alarmtone::kFileName);
    if (alarmtone::usable(inMusic)) {
        m_toneDir.reset();
        return true;
    }
    if (m_toneDir && alarmtone::usable(alarmTonePath()))
        return true;
    QDir().mkpath(m_paths.musicFolder());
    QString error;
    if (alarmtone::write(inMusic, &error)) {
        // The other operators (the folder's group) may write it again too.
        QFile::setPermissions(inMusic, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                           | QFile::WriteGroup | QFile::ReadOther);
        m_toneDir.reset();
        qCInfo(lcEmergency).noquote() << "alarm tone written to" << inMusic;
        return true;
    }
    // The music folder is not ours to write: the alarm still sounds, from a
    // private folder of this program's own.
    qCWarning(lcEmergency).noquote() << "the alarm tone was not written to" << inMusic << error;
    m_toneDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/daling-alarm-XXXXXX"));
    if (m_toneDir->isValid() && alarmtone::write(alarmTonePath(), &error)) {
        qCInfo(lcEmergency).noquote() << "alarm tone written to" << alarmTonePath();
        return true;
    }
    qCWarning(lcEmergency).noquote() << "the alarm tone was not written anywhere:" << error;
    m_toneDir.reset();
    return false;
}

qint64 EmergencyBroadcast::msSince(const QDateTime &t) const
{
    return t.msecsTo(m_clock.now());
}

qint64 EmergencyBroadcast::elapsedMs() const
{
    return m_run ? std::max<qint64>(0, msSince(m_run->trigger)) : 0;
}

QString EmergencyBroadcast::bandText() const
{
    return QStringLiteral("紧急广播中 · 已持续 %1").arg(durationText(elapsedMs()));
}

QStringList EmergencyBroadcast::sounding() const
{
    QStringList out;
    if (m_run)
        for (const Target &t : m_run->targets)
            if (t.state == State::Sounding)
                out << t.label();
    return out;
}

AudioPlayer *EmergencyBroadcast::playerFor(const QString &device)
{
    std::unique_ptr<AudioPlayer> &p = m_players[device];
    if (!p && m_makePlayer) {
        p = m_makePlayer(device);
        if (!p)
            return nullptr;
        AudioPlayer *raw = p.get();
        connect(raw, &AudioPlayer::opened, this, [this, raw] { onOpened(raw); });
        connect(raw, &AudioPlayer::openFailed, this,
                [this, raw](const QString &text, AudioError::Cause cause) { onOpenFailed(raw, text, cause); });
        connect(raw, &AudioPlayer::ended, this, [this, raw](bool interrupted) { onEnded(raw, interrupted); });
    }
    return p.get();
}

QString EmergencyBroadcast::start(const Request &request)
{
    if (m_run)
        return {};
    QString refused;
    std::vector<Target> targets = targetsFor(request, &refused);
    if (!refused.isEmpty())
        return refused;

    // What: the file asked for, else the alarm tone; a file that is no
    // sound falls back to the tone, which is written again when broken.
    QString file = alarmTonePath();
    QString note, fallback;
    if (!request.file.isEmpty()) {
        const QString path = AppPaths::isBareFileName(request.file) ? m_paths.musicFile(request.file)
                                                                    : QFileInfo(request.file).absoluteFilePath();
        if (!QFileInfo(path).isFile())
            return QStringLiteral("找不到紧急广播的声音文件：%1").arg(QDir::toNativeSeparators(path));
        if (alarmtone::usable(path)) {
            file = path;
        } else {
            QString why = LoadErrors::checkFile(path);
            if (why.isEmpty()) // a sound's header with hardly anything after it
                why = QStringLiteral("文件太短，不是完整的声音文件：%1").arg(QDir::toNativeSeparators(path));
            note = fallback = toneInsteadText(why);
            qCWarning(lcEmergency).noquote() << "the alarm tone plays instead of" << path << "-" << why;
        }
    }
    if (file == alarmTonePath() && !alarmtone::usable(file)) {
        if (note.isEmpty())
            note = QStringLiteral("警报声文件缺失或损坏，已重新生成内置警报声");
        if (!ensureAlarmTone())
            return QStringLiteral("警报声文件缺失或损坏，也无法重新写入：%1")
                .arg(QDir::toNativeSeparators(file));
        file = alarmTonePath(); // where it could be written
    }

    m_run = Run{request, m_clock.now(), file, note, fallback, std::move(targets), 0, std::nullopt, false, ++m_serial};
    qCWarning(lcEmergency).noquote() << "emergency broadcast started from" << originText(request.origin)
                                     << "file" << file << "in" << [this] {
                                            QStringList l;
                                            for (const Target &t : m_run->targets)
                                                l << t.label();
                                            return l.join(u',');
                                        }();
    // The alarm's outputs open first (each on its own player's thread);
    // the bells and the broadcast are stopped meanwhile.
    for (Target &t : m_run->targets) {
        t.path = file;
        t.player = playerFor(t.device);
        if (!t.player) {
            t.state = State::Silent;
            t.reason = QStringLiteral("声音输出无法使用");
            continue;
        }
        t.player->setVolume(100);
        openTarget(t);
    }
    if (holdBells)
        holdBells(kHeldReason);
    if (stopTest)
        stopTest();
    if (pauseBroadcast)
        pauseBroadcast();
    m_settle.start(kSettleMs);
    emit activeChanged(true);
    // Answered from the event loop, never inside this call.
    QTimer::singleShot(0, this, [this, serial = m_run->serial] {
        if (m_run && m_run->serial == serial)
            checkSettled(false);
    });
    return {};
}

void EmergencyBroadcast::openTarget(Target &t)
{
    t.state = State::Opening;
    t.player->close();
    t.player->setFileName(t.path);
    t.player->openAsync();
}

EmergencyBroadcast::Target *EmergencyBroadcast::targetOf(AudioPlayer *p)
{
    if (!m_run)
        return nullptr;
    for (Target &t : m_run->targets)
        if (t.player == p)
            return &t;
    return nullptr;
}

void EmergencyBroadcast::onOpened(AudioPlayer *p)
{
    Target *t = targetOf(p);
    if (!t || t->state != State::Opening || p->fileName() != t->path)
        return;
    // A zone's sound belongs in that zone: never on the default output.
    if (const QString missing = p->missingOutput(); t->isZone() && !missing.isEmpty()) {
        p->close();
        silence(*t, LoadErrors::missingOutput(SoundServer::label(missing)));
        return;
    }
    try {
        p->setStartPosition(0);
        p->play();
        if (!p->isPlaying())
            throw AudioError(QStringLiteral("播放器没有开始播放"), AudioError::Cause::Output);
    } catch (const AudioError &e) {
        silence(*t, e.text());
        return;
    } catch (const std::exception &e) {
        // Nothing may escape a player's signal; the output is tried as a dead one.
        qCWarning(lcEmergency) << t->label() << "start failed:" << e.what();
        silence(*t, QString::fromLocal8Bit(e.what()));
        return;
    }
    sounded(*t);
}

void EmergencyBroadcast::onOpenFailed(AudioPlayer *p, const QString &text, AudioError::Cause cause)
{
    Target *t = targetOf(p);
    if (!t || t->state != State::Opening)
        return;
    if (cause == AudioError::Cause::File && !t->tone && t->path != alarmTonePath() && ensureAlarmTone()) {
        // The file would not play: the alarm still sounds, with our tone.
        qCWarning(lcEmergency).noquote() << t->label() << "cannot play" << t->path << "-" << text;
        t->tone = true;
        t->path = alarmTonePath();
        m_run->note = m_run->fallback = toneInsteadText(text);
        openTarget(*t);
        return;
    }
    silence(*t, text);
    // An output that failed or stalled may come back: tried again while it lasts.
    if (m_run && cause != AudioError::Cause::File) {
        QTimer::singleShot(kReopenMs, this, [this, p, serial = m_run->serial] {
            Target *again = targetOf(p);
            if (again && m_run->serial == serial && again->state == State::Silent)
                openTarget(*again);
        });
    }
}

void EmergencyBroadcast::onEnded(AudioPlayer *p, bool interrupted)
{
    Target *t = targetOf(p);
    if (!t || t->state != State::Sounding)
        return;
    if (!interrupted) {
        // Looped: from the top again.
        try {
            p->setStartPosition(0);
            p->play();
            if (p->isPlaying())
                return;
        } catch (const AudioError &e) {
            qCInfo(lcEmergency).noquote() << t->label() << "restart failed:" << e.text();
        } catch (const std::exception &e) {
            qCWarning(lcEmergency) << t->label() << "restart failed:" << e.what();
        }
    }
    qCWarning(lcEmergency).noquote() << t->label() << "output lost while the alarm played; opened again";
    openTarget(*t);
}

void EmergencyBroadcast::sounded(Target &t)
{
    const bool first = !m_run->delayMs;
    t.state = State::Sounding;
    t.reason.clear();
    if (first) {
        m_run->delayMs = msSince(m_run->trigger);
        // Written a moment later, once the other zones have started too: a
        // disk's flush must not stand between them and their sound.
        writeRecord(BellStatus::Done, kNotEnded, false);
        QTimer::singleShot(kWriteAfterMs, this, [this, serial = m_run->serial] {
            if (m_run && m_run->serial == serial)
                flushRecord();
        });
    }
    qCInfo(lcEmergency).noquote() << "alarm sounds in" << t.label() << msSince(m_run->trigger)
                                  << "ms after the trigger";
    checkSettled(false);
}

void EmergencyBroadcast::silence(Target &t, const QString &reason)
{
    t.state = State::Silent;
    // Once per reason, not at every retry of a dead output.
    if (std::exchange(t.reason, reason) != reason)
        qCWarning(lcEmergency).noquote() << "alarm silent in" << t.label() << "-" << reason;
    checkSettled(false);
}

void EmergencyBroadcast::checkSettled(bool timeUp)
{
    if (!m_run || m_run->settled)
        return;
    const auto &targets = m_run->targets;
    const bool opening = std::any_of(targets.begin(), targets.end(),
                                     [](const Target &t) { return t.state == State::Opening; });
    if (opening && !timeUp)
        return;
    m_run->settled = true;
    m_settle.stop();
    QStringList silent;
    bool zonesOnly = true;
    for (const Target &t : targets)
        if (t.state != State::Sounding) {
            silent << QStringLiteral("%1（%2）").arg(t.label(), t.reason.isEmpty() ? QStringLiteral("声音输出没有响应")
                                                                                  : t.reason);
            zonesOnly = zonesOnly && t.isZone();
        }
    if (!m_run->delayMs) {
        const QString text = QStringLiteral("紧急广播没有播出：%1").arg(silent.join(QStringLiteral("；")));
        finish(BellStatus::Failed, text);
        emit settled(false, text);
        return;
    }
    QStringList text;
    if (!m_run->fallback.isEmpty())
        text << m_run->fallback;
    if (!silent.isEmpty()) {
        text << silentText(silent, zonesOnly);
        writeRecord(BellStatus::PartlyRung, kNotEnded);
    } else {
        flushRecord();
    }
    emit settled(true, text.join(QStringLiteral("；")));
}

QString EmergencyBroadcast::silentText(const QStringList &silent, bool zonesOnly)
{
    return (zonesOnly ? QStringLiteral("以下分区没有播出：%1") : QStringLiteral("以下分区或声音输出没有播出：%1"))
        .arg(silent.join(QStringLiteral("；")));
}
