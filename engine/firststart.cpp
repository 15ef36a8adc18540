#include "firststart.h"
#include "logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace {

// Copies the sample into a new file at part, made without following a
// symbolic link, given its mode on the descriptor and flushed to disk.
bool copyInto(const QByteArray &sample, const QByteArray &part)
{
    const int in = ::open(sample.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = out >= 0;
    char buf[65536];
    for (ssize_t n; ok && (n = ::read(in, buf, sizeof buf)) != 0;)
        ok = n > 0 && ::write(out, buf, size_t(n)) == n;
    // Group-writable: the other operators (the folder's group) change it too.
    ok = ok && ::fchmod(out, 0664) == 0 && ::fsync(out) == 0;
    if (out >= 0 && ::close(out) != 0)
        ok = false;
    ::close(in);
    return ok;
}

} // namespace

bool seedStoreFromSample(const AppPaths &paths)
{
    const QString sample = paths.home() + QStringLiteral("sample/dbDaLing.db");
    const QString store = paths.databaseFile();
    struct stat st {};
    // lstat: a dangling link in the store's place is not "no store" either.
    // The copies' folder says a school's list existed here: a store that is
    // gone now is never replaced by the sample.
    if (::lstat(QFile::encodeName(store).constData(), &st) == 0
        || QFileInfo::exists(paths.backupFolder()) || !QFile::exists(sample))
        return false;
    QDir().mkpath(paths.dataFolder());
    // Copied under another name and renamed, so that a start cut short
    // never leaves half a store that the next start would take as the list.
    const QByteArray part = QFile::encodeName(store + QStringLiteral(".part"));
    ::unlink(part.constData()); // a link there goes, not its target
    const bool ok = copyInto(QFile::encodeName(sample), part)
        // Never over a store that appeared meanwhile (another start).
        && ::renameat2(AT_FDCWD, part.constData(), AT_FDCWD, QFile::encodeName(store).constData(),
                       RENAME_NOREPLACE) == 0;
    if (!ok) {
        qCWarning(lcStore) << "the sample timetable was not copied:" << ::strerror(errno);
        ::unlink(part.constData());
    }
    return ok;
}
