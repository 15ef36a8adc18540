#include "apppaths.h"

#include <QCoreApplication>
#include <QDir>

AppPaths::AppPaths(const QString &home)
    : m_home(QDir::fromNativeSeparators(home))
{
    if (!m_home.endsWith(u'/'))
        m_home += u'/';
}

AppPaths AppPaths::besideExecutable()
{
    return AppPaths(QCoreApplication::applicationDirPath());
}
