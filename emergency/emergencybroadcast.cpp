#include "emergencybroadcast.h"

#include "alarmtone.h"
#include "emergencylog.h"
#include "loaderrors.h"
#include "ringhistory.h"
#include "secondsofday.h"
#include "soundserver.h"

#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <set>

QString EmergencyBroadcast::durationText(qint64 ms)
{
    const qint64 s = std::max<qint64>(ms, 0) / 1000;
    const QString mmss = QStringLiteral("%1:%2").arg(s / 60 % 60, 2, 10, QChar(u'0')).arg(s % 60, 2, 10, QChar(u'0'));
    return s >= 3600 ? QStringLiteral("%1:%2").arg(s / 3600).arg(mmss) : mmss;
}

EmergencyBroadcast::EmergencyBroadcast(AppPaths paths, const Clock &clock, PlayerFactory makePlayer,
                                       QObject *parent)
    : QObject(parent), m_paths(std::move(paths)), m_clock(clock), m_pool(std::move(makePlayer)), m_group(m_pool)
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, [this] { checkSettled(true); });
    connect(&m_group, &OutputGroup::started, this, [this](int i) {
        if (m_run && i < int(m_run->targets.size()))
            sounded(m_run->targets[i]);
    });
    connect(&m_group, &OutputGroup::silent, this,
            [this](int i, const QString &why, bool, AudioError::Cause cause) { onSilent(i, why, cause); });
    connect(&m_group, &OutputGroup::cut, this, [this](int i) {
        // Opened again by the group: it joins in once its output is back.
        if (m_run && i < int(m_run->targets.size()))
            m_run->targets[i].state = State::Opening;
    });
}

EmergencyBroadcast::~EmergencyBroadcast()
{
    // The program's owner ends it first (its hooks reach parts that go
    // before this); here only the players are let go.
    m_group.stop(true);
    m_pool.closeAll();
}

QString EmergencyBroadcast::originText(Origin origin)
{
    switch (origin) {
    case Origin::Button: return QStringLiteral("主窗口按钮");
    case Origin::Tray: return QStringLiteral("托盘菜单");
    case Origin::AdhocButton: return QStringLiteral("临时广播窗口按钮");
    case Origin::Command: return QStringLiteral("命令行");
    case Origin::Quit: return QStringLiteral("程序退出");
    case Origin::FireAlarm: return QStringLiteral("消防联动");
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

QString EmergencyBroadcast::start(const Request &request, const QString &by)
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

    m_run = Run{request, m_clock.now(), file, note, fallback, std::move(targets), 0, std::nullopt, false, ++m_serial, by};
    qCWarning(lcEmergency).noquote() << "emergency broadcast started from" << originText(request.origin)
                                     << "file" << file << "in" << [this] {
                                            QStringList l;
                                            for (const Target &t : m_run->targets)
                                                l << t.label();
                                            return l.join(u',');
                                        }();
    // The alarm's outputs open first (each on its own player's thread, each
    // started as soon as it has the file); the bells and the broadcast are
    // stopped meanwhile. An output that failed or stalled is tried again
    // while it lasts.
    QList<SoundTarget> where;
    std::set<PlayerPool::Key> keep;
    for (Target &t : m_run->targets) {
        t.path = file;
        where << SoundTarget{0, t.label(), t.device, 0, t.isZone()};
        keep.insert({0, t.device});
    }
    m_pool.keepOnly(keep);
    OutputGroup::Options how;
    how.background = true;
    how.retryWindowMs = -1;
    how.loop = true;
    how.prepare = [](AudioPlayer &p) { p.setVolume(100); };
    {
        const QScopedValueRollback starting(m_starting, true);
        m_group.play(file, where, how);
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

void EmergencyBroadcast::onSilent(int i, const QString &why, AudioError::Cause cause)
{
    if (!m_run || i >= int(m_run->targets.size()))
        return;
    Target &t = m_run->targets[i];
    if (cause == AudioError::Cause::File && !t.tone && t.path != alarmTonePath() && ensureAlarmTone()) {
        // The file would not play: the alarm still sounds, with our tone.
        qCWarning(lcEmergency).noquote() << t.label() << "cannot play" << t.path << "-" << why;
        t.tone = true;
        t.path = alarmTonePath();
        m_run->note = m_run->fallback = toneInsteadText(why);
        t.state = State::Opening;
        m_group.replay(i, t.path);
        return;
    }
    silence(t, why);
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
    if (!m_starting)
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
            silent << OutputGroup::silentText(t.label(), t.reason.isEmpty() ? QStringLiteral("声音输出没有响应")
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
    return zonesOnly ? OutputGroup::silentZonesText(silent)
                     : QStringLiteral("以下分区或声音输出没有播出：%1").arg(silent.join(QStringLiteral("；")));
}
