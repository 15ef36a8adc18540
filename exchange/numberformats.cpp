#include "numberformats.h"

#include <QDate>
#include <cctype>
#include <charconv>
#include <cmath>

std::optional<double> parseNumber(QStringView text)
{
    char buf[64];
    const QStringView t = text.trimmed();
    bool plain = !t.isEmpty() && t.size() < qsizetype(sizeof buf) && t.front() != u'+';
    for (qsizetype i = 0; plain && i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        plain = c < 128;
        buf[i] = char(c);
    }
    if (plain) {
        double v = 0;
        const auto [end, ec] = std::from_chars(buf, buf + t.size(), v);
        if (ec == std::errc() && end == buf + t.size())
            return v;
    }
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

QString numberText(double v)
{
    if (!std::isfinite(v))
        return QString::number(v);
    if (v == std::floor(v) && std::fabs(v) < 1e15)
        return QString::number(qint64(v));
    return QString::number(v, 'g', 15);
}

QString dateTimeText(int year, int month, int day, int hour, int minute, int second)
{
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(hour, 2, 10, QLatin1Char('0'))
                             .arg(minute, 2, 10, QLatin1Char('0'))
                             .arg(second, 2, 10, QLatin1Char('0'));
    // Day 0 of the serial calendar stands for "no date": a pure time.
    const bool noDate = year < 1900 || (year == 1900 && month == 1 && day == 0);
    if (noDate)
        return time;
    const QString date = QStringLiteral("%1/%2/%3").arg(year).arg(month).arg(day);
    if (hour == 0 && minute == 0 && second == 0)
        return date;
    return date + QStringLiteral(" %1:%2:%3")
                      .arg(hour)
                      .arg(minute, 2, 10, QLatin1Char('0'))
                      .arg(second, 2, 10, QLatin1Char('0'));
}

int secondOfDayFromSeconds(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return int(qMin<double>(std::llround(qMin(seconds, 1e9)), 86399.0));
}

int secondOfDayFromFraction(double fractionOfDay)
{
    return secondOfDayFromSeconds(fractionOfDay * 86400.0);
}

QString dateSerialText(double serial, const QDate &origin)
{
    if (!std::isfinite(serial) || serial < 0 || serial > 2958466)
        return numberText(serial); // outside the calendar: show the number
    const double whole = std::floor(serial);
    const int secs = secondOfDayFromFraction(serial - whole);
    const int h = secs / 3600, m = secs % 3600 / 60, s = secs % 60;
    const bool noDate = whole == 0 && origin == QDate(1899, 12, 30);
    if (noDate)
        return dateTimeText(0, 0, 0, h, m, s);
    const QDate d = origin.addDays(qint64(whole));
    return dateTimeText(d.year(), d.month(), d.day(), h, m, s);
}

bool isBuiltinDateFormat(size_t id)
{
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47)
           || (id >= 50 && id <= 58);
}

bool isDateFormatCode(std::string_view code)
{
    bool quoted = false;
    for (size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (quoted) {
            quoted = c != '"';
            continue;
        }
        switch (c) {
        case '"': quoted = true; break;
        case '\\':
        case '_':
        case '*': ++i; break;
        case '[': {
            const size_t close = code.find(']', i);
            if (close == std::string_view::npos)
                return false;
            // [h], [mm], [ss] are elapsed times; colours ([Magenta]),
            // conditions ([>=100]) and locales ([$-804]) are not.
            const std::string_view inside = code.substr(i + 1, close - i - 1);
            const bool elapsed = !inside.empty() && inside.find_first_not_of("hHmMsS") == std::string_view::npos
                                 && inside.find_first_not_of(inside[0]) == std::string_view::npos;
            if (elapsed)
                return true;
            i = close;
            break;
        }
        case ';': return false; // only the first section decides
        default: {
            const char l = char(std::tolower(uchar(c)));
            if (l == 'y' || l == 'd' || l == 'h' || l == 's' || l == 'm')
                return true;
            if (l == 'g' && code.substr(i, 7) == "General")
                i += 6;
            break;
        }
        }
    }
    return false;
}
