#include "secondsofday.h"

qint64 timetoint(qint64 hours, qint64 minutes, qint64 seconds)
{
    return hours * 3600 + minutes * 60 + seconds;
}

QString twoDigits(qint64 n)
{
    const QString t = QString::number(n);
    return n <= 9 ? QStringLiteral("0") + t : t;
}

QString inttotime(qint64 n)
{
    return twoDigits(n / 3600) + u':' + twoDigits((n % 3600) / 60) + u':' + twoDigits(n % 60);
}
