#include "appicon.h"

QIcon appIcon()
{
    QIcon icon;
    for (int s : {16, 32, 48, 128})
        icon.addFile(QStringLiteral(":/desktop/icons/daling-%1.png").arg(s), QSize(s, s));
    return icon;
}

QIcon trayPicture()
{
    return QIcon(QStringLiteral(":/desktop/icons/daling-16.png"));
}
