#include "firststart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool seedStoreFromSample(const AppPaths &paths)
{
    const QString sample = paths.home() + QStringLiteral("sample/dbDaLing.db");
    const QString store = paths.databaseFile();
    // The copies' folder says a school's list existed here: a store that
    // is gone now is never replaced by the sample.
    if (QFile::exists(store) || QFileInfo::exists(paths.backupFolder()) || !QFile::exists(sample))
        return false;
    QDir().mkpath(paths.dataFolder());
    // Copied under another name and renamed, so that a start cut short
    // never leaves half a store that the next start would take as the list.
    const QString part = store + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(sample, part))
        return false;
    QFile::setPermissions(part, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                    | QFileDevice::ReadGroup | QFileDevice::WriteGroup
                                    | QFileDevice::ReadOther | QFileDevice::WriteOther);
    if (!QFile::rename(part, store)) {
        QFile::remove(part);
        return false;
    }
    return true;
}
