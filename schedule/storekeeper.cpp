#include "storekeeper.h"
#include "logging.h"
#include "ringhistory.h"
#include "storetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writable(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

QString dateText(const QDate &d)
{
    return d.toString(QStringLiteral("yyyy-MM-dd"));
}

// Puts a file in place in one step, so that a start cut short never leaves
// half a store that the next start would take as the list.
bool moveInto(const QString &from, const QString &to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

StoreKeeper::StoreKeeper(BellStore &store, const AppPaths &paths, const Clock &clock, QObject *parent)
    : QObject(parent), m_store(store), m_paths(paths), m_clock(clock), m_backup(paths.backupFolder())
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, [this] {
        check();
        armNext(1000);
    });
    m_store.setBeforeListReplaced([this] { takeCopy(); });
}

StoreKeeper::~StoreKeeper()
{
    m_store.setBeforeListReplaced({});
    if (m_copier) {
        // The program ends: tomorrow's first check copies again.
        m_copyJob->stop = true;
        m_copier->disconnect(this);
        m_copier->wait();
        delete m_copier;
    }
}

QString StoreKeeper::openAtStart()
{
    const QString path = m_paths.databaseFile();
    if (!QFile::exists(path)) {
        if (const auto copy = m_backup.newest()) {
            const QString part = path + QStringLiteral(".part");
            QFile::remove(part);
            if (QFile::copy(copy->path, part) && moveInto(part, path)) {
                qCWarning(lcStore) << "store missing; restored from" << copy->path;
                m_health.set(StoreHealth::Problem::Restored, storetext::restoredFromCopy(dateText(copy->date)));
            } else {
                QFile::remove(part);
                qCWarning(lcStore) << "store missing and its copy could not be restored:" << copy->path;
            }
        }
    }
    // Still missing: a school's list that is gone and no copy to bring it
    // back is not replaced by a new, empty store either.
    if (!QFile::exists(path) && QFileInfo::exists(m_backup.folder())) {
        fallBackToCopy(QStringLiteral("unable to open database file: %1 is missing").arg(path));
        return m_openMessage;
    }
    openStore();
    return m_openMessage;
}

void StoreKeeper::start()
{
    armNext(kFirstCheckMs);
}

void StoreKeeper::armNext(int minMs)
{
    const QTime t = m_clock.now().time();
    int ms = ((kCheckSecond - t.second() + 60) % 60) * 1000 + kCheckMsec - t.msec();
    while (ms < minMs)
        ms += 60 * 1000;
    timer.start(ms);
}

bool StoreKeeper::openStore()
{
    const QString path = m_paths.databaseFile();
    // Looked at for reading first: opening a damaged file for writing could
    // change it, and the operator may want it examined as it is.
    if (QFile::exists(path)) {
        const QString bad = StoreBackup::check(path);
        if (storetext::classify(bad) == storetext::Fault::Damaged) {
            m_openMessage = bad;
            fallBackToCopy(bad);
            return false;
        }
    }
    m_openMessage = m_store.open(path);
    if (!m_store.isOpen()) {
        fallBackToCopy(m_openMessage);
        return false;
    }
    m_source = Source::Store;
    m_health.clear(StoreHealth::Problem::Unavailable);
    m_health.clear(StoreHealth::Problem::NotWrittenBack);
    if (m_store.isReadOnly())
        m_health.set(StoreHealth::Problem::ReadOnly, storetext::kReadOnly);
    else
        m_health.clear(StoreHealth::Problem::ReadOnly);
    rememberIdentity();
    return true;
}

void StoreKeeper::fallBackToCopy(const QString &error)
{
    const storetext::Fault fault = storetext::classify(error);
    const auto copy = m_backup.newest();
    m_health.clear(StoreHealth::Problem::ReadOnly);
    m_identity = {};
    // Logged once per state, not at every minute's retry.
    const QString before = m_health.text(StoreHealth::Problem::Unavailable);
    if (copy && m_store.openCopy(copy->path).isEmpty()) {
        m_source = Source::Copy;
        m_health.set(StoreHealth::Problem::Unavailable,
                     storetext::ringingFromCopy(fault, dateText(copy->date), error));
        if (before != m_health.text(StoreHealth::Problem::Unavailable))
            qCWarning(lcStore) << "store unusable (" << error << "); ringing from" << copy->path;
    } else {
        m_source = Source::Nothing;
        m_store.close();
        m_health.set(StoreHealth::Problem::Unavailable, storetext::noCopy(fault, error));
        if (before != m_health.text(StoreHealth::Problem::Unavailable))
            qCWarning(lcStore) << "store unusable and no copy to ring from:" << error;
    }
}

void StoreKeeper::rememberIdentity()
{
    struct stat st {};
    m_identity = {};
    if (::stat(QFile::encodeName(m_paths.databaseFile()).constData(), &st) == 0)
        m_identity = {st.st_dev, st.st_ino, st.st_mode, true};
}

void StoreKeeper::check()
{
    try {
        checkStore();
        watchHistory();
    } catch (const std::exception &e) {
        qCWarning(lcStore) << "store check abandoned:" << e.what();
    }
}

void StoreKeeper::checkStore()
{
    const QString path = m_paths.databaseFile();
    if (m_source != Source::Store) {
        // Retried every minute; the list loads as soon as the store opens.
        if (!QFile::exists(path) || !openStore())
            return;
        qCInfo(lcStore) << "store usable:" << path;
        emit listReplaced();
    }
    if (m_store.isReadOnly()) {
        if (writable(path) && writable(QFileInfo(path).absolutePath()) && openStore()
            && !m_store.isReadOnly())
            qCInfo(lcStore) << "store writable again:" << path;
        return;
    }
    struct stat st {};
    const bool seen = ::stat(QFile::encodeName(path).constData(), &st) == 0;
    if (!seen && errno == ENOENT) {
        writeBack();
        return;
    }
    if (seen && m_identity.valid && (st.st_dev != m_identity.dev || st.st_ino != m_identity.ino)) {
        // Someone put another file in its place (a technician's restore):
        // that one is the list now.
        qCWarning(lcStore) << "store file replaced while running; opening the new one:" << path;
        openStore();
        emit listReplaced();
        return;
    }
    probe();
    if (m_source == Source::Store && !m_backup.hasCopyOf(m_clock.now().date()))
        startDayCopy(); // only from a store that is open and sound
}

void StoreKeeper::startDayCopy()
{
    if (m_copier || m_store.isReadOnly())
        return;
    auto job = std::make_shared<CopyJob>();
    m_copyJob = job;
    m_copier = QThread::create([job, backup = m_backup, path = m_paths.databaseFile(),
                                date = m_clock.now().date()] {
        job->error = backup.takeFromFile(path, date, job->stop);
    });
    connect(m_copier, &QThread::finished, this, &StoreKeeper::dayCopyDone);
    m_copier->start(QThread::LowPriority);
}

void StoreKeeper::dayCopyDone()
{
    if (!m_copier)
        return;
    m_copier->wait();
    delete std::exchange(m_copier, nullptr);
    const std::shared_ptr<CopyJob> job = std::exchange(m_copyJob, {});
    if (job->error.isEmpty()) {
        m_health.clear(StoreHealth::Problem::BackupFailed);
    } else {
        qCWarning(lcStore) << "store copy failed:" << job->error;
        m_health.set(StoreHealth::Problem::BackupFailed, job->error);
    }
}

bool StoreKeeper::waitForCopy(int ms)
{
    if (m_copier && !m_copier->wait(ms))
        return false;
    dayCopyDone();
    return true;
}

void StoreKeeper::writeBack()
{
    const QString path = m_paths.databaseFile();
    const QString part = path + QStringLiteral(".part");
    QDir().mkpath(m_paths.dataFolder());
    QFile::remove(part);
    try {
        // The connection still reads the deleted file.
        m_store.copyTo(part);
    } catch (const StoreError &e) {
        QFile::remove(part);
        qCWarning(lcStore) << "deleted store not written back:" << e.text();
        m_health.set(StoreHealth::Problem::NotWrittenBack, storetext::notWrittenBack(e.text()));
        return;
    }
    // The operators who could change the list still can: the deleted file's
    // permissions, set on the new file's descriptor.
    if (m_identity.valid) {
        const int fd = ::open(QFile::encodeName(part).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            if (::fchmod(fd, m_identity.mode & 07777) != 0)
                qCWarning(lcStore) << "written-back store keeps its default permissions:" << strerror(errno);
            ::close(fd);
        }
    }
    // Closed first: its journal files belong to the deleted file.
    m_store.close();
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    if (!moveInto(part, path)) {
        // Never a new, empty store in its place: the newest copy rings.
        const QString why = QString::fromLocal8Bit(strerror(errno));
        qCWarning(lcStore) << "deleted store not written back: rename failed:" << why;
        QFile::remove(part);
        fallBackToCopy(why);
        m_health.set(StoreHealth::Problem::NotWrittenBack, storetext::notWrittenBack(why));
        return;
    }
    qCWarning(lcStore) << "store file was deleted while running; written back from memory:" << path;
    if (openStore())
        m_health.set(StoreHealth::Problem::Restored, storetext::writtenBackFromMemory());
}

void StoreKeeper::probe()
{
    QSqlQuery q(m_store.database());
    if (q.exec(QStringLiteral("select count(*) from daling")))
        return;
    const QString error = q.lastError().databaseText();
    if (storetext::classify(error) == storetext::Fault::Damaged) {
        // Today's bells ring on from the list in memory; the next reload
        // reads the copy.
        qCWarning(lcStore) << "store damaged while running:" << error;
        fallBackToCopy(error);
    }
}

void StoreKeeper::takeCopy()
{
    if (m_source != Source::Store || m_store.isReadOnly())
        return;
    try {
        m_backup.take(m_store, m_clock.now().date());
        m_health.clear(StoreHealth::Problem::BackupFailed);
    } catch (const StoreError &e) {
        qCWarning(lcStore) << "store copy failed:" << e.text();
        m_health.set(StoreHealth::Problem::BackupFailed, e.text());
    }
}

void StoreKeeper::watchHistory()
{
    if (!m_history)
        return;
    // Also while the store is read-only or a copy rings: the records wait in
    // memory then, and the operator should know how many.
    if (m_history->queued() == 0 || m_history->flush()) {
        m_health.clear(StoreHealth::Problem::History);
        return;
    }
    m_health.set(StoreHealth::Problem::History,
                 storetext::historyQueued(m_history->queued(), m_history->lastError()));
}
