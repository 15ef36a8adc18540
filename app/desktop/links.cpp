#include "links.h"

#include <QDesktopServices>

QUrl makerSite()
{
    return QUrl(QStringLiteral("http://www.quorlin.com"));
}

void openMakerSite()
{
    QDesktopServices::openUrl(makerSite());
}
