#include "weekdayset.h"

namespace {
const char16_t kDays[7] = {u'日', u'一', u'二', u'三', u'四', u'五', u'六'};
}

namespace WeekdaySet {

QChar dayChar(int i)
{
    return QChar(kDays[((i % 7) + 7) % 7]);
}

QChar charOf(const QDate &date)
{
    // Qt counts Monday = 1 … Sunday = 7.
    return dayChar(date.dayOfWeek() % 7);
}

QString fromDays(const std::array<bool, 7> &down)
{
    QString s;
    for (int i = 0; i < 7; ++i)
        if (down[i])
            s += dayChar(i);
    return s;
}

std::array<bool, 7> toDays(const QString &text)
{
    std::array<bool, 7> d{};
    for (int i = 0; i < 7; ++i)
        d[i] = text.contains(dayChar(i));
    return d;
}

QString allPattern() { return QStringLiteral("%"); }

QString dayPattern(const QDate &date)
{
    return dayPattern(charOf(date));
}

QString dayPattern(QChar day)
{
    return u'%' + QString(day) + u'%';
}

}
