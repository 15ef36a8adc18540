#pragma once
#include <QString>

// Where the program keeps its data: beside the executable (a portable
// layout). Tests point home at a temporary folder.
class AppPaths {
public:
    explicit AppPaths(const QString &home);
    static AppPaths besideExecutable();

    QString home() const { return m_home; }              // ends in '/'
    QString dataFolder() const { return m_home + QStringLiteral("data/"); }
    QString databaseFile() const { return dataFolder() + QStringLiteral("dbDaLing.db"); }
    // The store's daily copies; its presence also says that a list existed.
    QString backupFolder() const { return dataFolder() + QStringLiteral("备份/"); }
    QString musicFolder() const { return m_home + QStringLiteral("音乐/"); } // ends in '/'
    // The full path of a bell's file: the music folder, then the bare name.
    QString musicFile(const QString &bareName) const { return musicFolder() + bareName; }
    // A bell names a file inside the music folder, never a path out of it.
    static bool isBareFileName(const QString &name)
    {
        return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && name != u"."
            && name != u"..";
    }

private:
    QString m_home;
};
