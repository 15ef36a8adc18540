#include "entryeditor.h"

#include <algorithm>

#include "audiofilefacts.h"
#include "audiolog.h"
#include "weekdayset.h"
#include "weekdaytext.h"

#include <QFileInfo>

namespace {

constexpr qint64 kLastSecondOfDay = 24 * 3600 - 1;

// An empty field is stored as the empty text, never as NULL: the list's
// "like" would not match NULL and the entry would vanish from the grid.
QString stored(const QString &text) { return text.isNull() ? QStringLiteral("") : text; }

} // namespace

QString EntryEditor::notInMusicFolder(const QString &name)
{
    return QStringLiteral("音乐只能是音乐文件夹里已有的文件（只写文件名，不写路径），找不到：%1").arg(name);
}

QString EntryEditor::copyFirst(const QString &path, const QString &folder)
{
    return QStringLiteral("为了方便管理，请先把 \r\r") + path + QStringLiteral("\r\r复制到：\r\r") + folder;
}

EntryEditor::EntryEditor(BellStore &store, AudioPlayer &player, const QString &musicFolder,
                         QObject *parent)
    : QObject(parent), m_store(store), m_player(player), m_folder(musicFolder)
{
    connect(&m_player, &AudioPlayer::opened, this, [this] {
        if (!m_measuring)
            return;
        m_measuring = false;
        QString duration;
        try {
            duration = QString::number(m_player.length() / 1000);
        } catch (const AudioError &e) {
            qCWarning(lcAudio).noquote() << "the editor's file has no length:" << e.text();
        }
        m_player.close();
        emit measured(duration);
    });
    connect(&m_player, &AudioPlayer::openFailed, this, [this](const QString &text, AudioError::Cause cause) {
        if (!m_measuring)
            return;
        m_measuring = false;
        m_player.close();
        qCWarning(lcAudio).noquote() << "the editor could not measure the file:" << text;
        if (cause == AudioError::Cause::File)
            emit measureFailed(kCannotPlay);
        else
            emit measured(QString()); // no output to ask: the length stays open
    });
}

void EntryEditor::beginInsert()
{
    m_record = m_store.entry(QString());
    m_state = RecordState::Insert;
}

const std::optional<BellEntry> &EntryEditor::locate(const QString &idText)
{
    m_state = RecordState::Browse;
    m_record.reset();
    m_record = m_store.entry(idText);
    return m_record;
}

void EntryEditor::deleteRecord(const QString &idText)
{
    m_state = RecordState::Browse;
    m_record.reset();
    m_store.remove(idText);
}

qint64 EntryEditor::fieldValue(const QString &digits, const QString &what)
{
    bool ok = false;
    const qint64 v = digits.toLongLong(&ok);
    if (!ok)
        throw AppError(QStringLiteral("%1的数字太大，无法换算，请重新输入").arg(what));
    return v;
}

std::optional<qint64> EntryEditor::checkedTime(qint64 h, qint64 m, qint64 s)
{
    qint64 a, b, t;
    if (__builtin_mul_overflow(h, qint64(3600), &a) || __builtin_mul_overflow(m, qint64(60), &b)
        || __builtin_add_overflow(a, b, &t) || __builtin_add_overflow(t, s, &t))
        return std::nullopt;
    return t;
}

std::optional<EntryEditor::Refusal> EntryEditor::save(const EntryFields &f)
{
    if (f.hour.isEmpty())
        return Refusal{Field::Hour, QStringLiteral("必须输入小时")};
    if (f.minute.isEmpty())
        return Refusal{Field::Minute, QStringLiteral("必须输入分钟")};
    if (f.second.isEmpty())
        return Refusal{Field::Second, QStringLiteral("必须输入秒钟")};
    if (f.music.isEmpty())
        return Refusal{Field::Music, kNoMusic};
    if (std::none_of(f.days.begin(), f.days.end(), [](bool d) { return d; }))
        return Refusal{Field::Days, kNoWeekday};

    // A located entry is changed; with none the save adds a new one.
    if (m_state == RecordState::Browse)
        m_state = m_record ? RecordState::Edit : RecordState::Insert;

    const qint64 h = fieldValue(f.hour, QStringLiteral("小时"));
    const qint64 m = fieldValue(f.minute, QStringLiteral("分钟"));
    const qint64 s = fieldValue(f.second, QStringLiteral("秒钟"));
    const auto time = checkedTime(h, m, s);
    if (!time)
        throw AppError(kTimeTooLarge);
    // A time the day never reaches would never ring, and would sort after
    // every bell of the day.
    if (m > 59)
        return Refusal{Field::Minute, QStringLiteral("不能大于59分")};
    if (s > 59)
        return Refusal{Field::Second, QStringLiteral("不能大于59秒")};
    if (*time > kLastSecondOfDay)
        return Refusal{Field::Hour, kPastMidnight};
    // Only the bare name of a file already in the music folder: a path
    // could name any file of the computer.
    const bool bare = !f.music.contains(u'/') && !f.music.contains(u'\\') && f.music != u"."
                      && f.music != u"..";
    if (!bare || !QFileInfo(m_folder + f.music).isFile())
        return Refusal{Field::Music, notInMusicFolder(f.music)};

    BellEntry e;
    e.time = *time;
    e.name = stored(f.name);
    e.weekdays = stored(WeekdaySet::fromDays(f.days));
    e.music = stored(f.music);
    // A length still being read is not known yet.
    e.duration = stored(m_measuring || f.duration == kReading ? QString() : f.duration);
    e.remark = stored(f.remark);
    e.zones = f.zones;
    std::sort(e.zones.begin(), e.zones.end());
    if (m_state == RecordState::Insert) {
        e.id = m_store.insert(e);
    } else {
        e.id = m_record->id;
        m_store.update(e);
    }
    stopMeasuring();
    m_record = e;
    m_state = RecordState::Browse;
    return std::nullopt;
}

void EntryEditor::close()
{
    if (m_state == RecordState::Insert)
        m_record.reset();
    m_state = RecordState::Browse;
    stopMeasuring();
}

void EntryEditor::stopMeasuring()
{
    if (!m_measuring)
        return;
    m_measuring = false;
    m_player.close();
}

EntryEditor::Choice EntryEditor::choose(const QString &path)
{
    Choice c;
    const qsizetype cut = path.lastIndexOf(u'/') + 1;
    if (path.left(cut) != m_folder) {
        c.message = copyFirst(path, m_folder);
        return c;
    }
    stopMeasuring();
    c.music = path.mid(cut);
    // The header tells the kind and, for most files, the length: no sound
    // output is needed for either.
    const AudioFileFacts::Kind kind = AudioFileFacts::sniff(path);
    if (kind.format.isEmpty()) {
        qCInfo(lcAudio) << "the editor refused a file that is not sound:" << path;
        c.music.clear();
        c.message = kCannotPlay;
        return c;
    }
    if (kind.lengthMs) {
        c.duration = QString::number(*kind.lengthMs / 1000);
        return c;
    }
    try {
        m_player.close();
        m_player.setFileName(path);
        m_player.open();
        c.duration = QString::number(m_player.length() / 1000);
        m_player.close();
    } catch (const AudioError &e) {
        if (e.isPending()) {
            m_measuring = true; // opened() or openFailed() follows
            c.duration = kReading;
            return c;
        }
        m_player.close();
        qCWarning(lcAudio).noquote() << "the editor could not measure the file:" << e.text();
        if (e.cause() == AudioError::Cause::File) {
            c.music.clear();
            c.message = kCannotPlay;
        } else {
            c.duration = QString(); // no output to ask: the length stays open
        }
    }
    return c;
}

std::array<bool, 7> EntryEditor::storedDays(const QString &weekdays)
{
    const std::optional<QString> read = WeekdayText::read(weekdays);
    return WeekdaySet::toDays(read ? *read : weekdays);
}
