// The records the store did not take before the program ended: kept in a
// file of their own and written into the history at the next start, and the
// record of a bell that the end cut off.
#include "ringhistory.h"
#include "logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QJsonObject toJson(const RingRecord &r)
{
    QJsonObject o{{"日期", RingHistory::dateText(r.date)}, {"时间", r.time},
                  {"名称", r.name},   {"音乐", r.music},
                  {"结果", bellstatus::text(r.result)}, {"说明", r.reason},
                  {"分区", r.zones}};
    if (r.delayMs)
        o.insert("延迟", *r.delayMs);
    if (r.id)
        o.insert("id", r.id); // a written record amended since
    if (r.entryId)
        o.insert("条目", *r.entryId);
    return o;
}

std::optional<RingRecord> fromJson(const QJsonObject &o)
{
    RingRecord r;
    r.date = QDate::fromString(o.value("日期").toString(), QStringLiteral("yyyy-MM-dd"));
    r.time = o.value("时间").toInteger(-1);
    r.name = o.value("名称").toString();
    r.music = o.value("音乐").toString();
    r.result = bellstatus::fromText(o.value("结果").toString());
    r.reason = o.value("说明").toString();
    r.zones = o.value("分区").toString();
    if (o.contains("延迟"))
        r.delayMs = o.value("延迟").toInteger();
    r.id = o.value("id").toInteger(0);
    if (o.contains("条目"))
        r.entryId = o.value("条目").toInteger();
    if (!r.date.isValid() || r.time < 0 || r.time >= 86400)
        return std::nullopt;
    return r;
}

// Written whole or not at all, the way QSaveFile would: a file beside it,
// synced, then renamed over. By hand, because every write's error counts
// here (a full disk must not leave an empty file that passes for kept).
// Returns the system's text when it failed.
QString writeWhole(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray part = target + ".part";
    const int fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0664);
    if (fd < 0)
        return QString::fromLocal8Bit(strerror(errno));
    // In the operators' folder (setgid, the package's data/) whichever
    // operator starts next must be able to empty it, whatever the umask.
    struct stat folder {};
    if (::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &folder) == 0
        && (folder.st_mode & S_ISGID) && ::fchmod(fd, 0664) != 0)
        qCWarning(lcStore) << "waiting ring records not shared with the other operators:" << strerror(errno);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    int error = done == bytes.size() ? 0 : (errno ? errno : ENOSPC);
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(part.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(part.constData());
        return QString::fromLocal8Bit(strerror(error));
    }
    return {};
}

} // namespace

QStringList RingHistory::waitingPlaces(const QString &dataFolder)
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return {QDir(dataFolder).filePath(kWaitingFile), state + QStringLiteral("/daling/") + kWaitingFile};
}

bool RingHistory::closeAtEnd(const QStringList &places)
{
    for (Item &item : m_items) {
        if (!item.rec.sounding)
            continue;
        qCInfo(lcStore).noquote() << "bell cut by the program's end:" << describe(item.rec);
        item.rec.result = BellStatus::Interrupted;
        item.rec.reason = kEndedReason;
        item.rec.sounding = false;
        item.dirty = true;
    }
    if (flush())
        return true;
    return saveWaiting(places);
}

bool RingHistory::saveWaiting(const QStringList &places)
{
    QJsonArray records;
    for (const Item &item : std::as_const(m_items))
        if (item.dirty)
            records.append(toJson(item.rec));
    if (records.isEmpty()) {
        removeWaitingFiles();
        return true;
    }
    const QByteArray bytes = QJsonDocument(records).toJson(QJsonDocument::Indented);
    for (const QString &place : places) {
        QDir().mkpath(QFileInfo(place).absolutePath());
        const QString error = writeWhole(place, bytes);
        if (error.isEmpty()) {
            qCWarning(lcStore).noquote() << records.size() << "ring records the store did not take are kept in"
                                         << place << "and written at the next start";
            removeWaitingFiles(place);
            return true;
        }
        qCWarning(lcStore).noquote() << "ring records not kept in" << place << ":" << error;
    }
    for (const Item &item : std::as_const(m_items))
        if (item.dirty)
            qCWarning(lcStore).noquote() << "ring record lost:" << describe(item.rec);
    return false;
}

int RingHistory::loadWaiting(const QStringList &places)
{
    int n = 0;
    for (const QString &place : places) {
        QFile f(place);
        if (!f.exists())
            continue;
        QJsonParseError pe{};
        const QJsonDocument doc = f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll(), &pe) : QJsonDocument();
        if (!doc.isArray()) {
            // Left where it is for a technician: never removed unread.
            qCWarning(lcStore).noquote() << "waiting ring records not read from" << place << ":"
                                         << (f.error() != QFile::NoError ? f.errorString() : pe.errorString());
            continue;
        }
        if (doc.array().isEmpty()) {
            m_waitingFiles << place; // one we emptied: its owner may delete it
            continue;
        }
        for (const QJsonValue &v : doc.array()) {
            if (const std::optional<RingRecord> r = fromJson(v.toObject())) {
                record(*r);
                ++n;
            } else {
                qCWarning(lcStore).noquote() << "waiting ring record dropped, unreadable:"
                                             << QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact);
            }
        }
        m_waitingFiles << place;
        qCInfo(lcStore).noquote() << "ring records waiting from the last run:" << doc.array().size() << place;
    }
    if (queued() == 0)
        removeWaitingFiles();
    return n;
}

void RingHistory::removeWaitingFiles(const QString &except)
{
    for (const QString &file : std::exchange(m_waitingFiles, {})) {
        if (file == except)
            continue;
        if (QFile::remove(file) || !QFile::exists(file))
            continue;
        // In a sticky folder only its owner (another operator) deletes it:
        // emptied, it brings no record a second time.
        const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
        const bool emptied = fd >= 0 && ::write(fd, "[]\n", 3) == 3;
        if (fd >= 0)
            ::close(fd);
        if (emptied)
            qCInfo(lcStore).noquote() << "waiting ring records written; their file, not ours to delete, emptied:" << file;
        else
            qCWarning(lcStore).noquote() << "waiting ring records written, but their file stays:" << file;
    }
    if (!except.isEmpty())
        m_waitingFiles << except;
}
