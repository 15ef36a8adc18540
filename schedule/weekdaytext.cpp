#include "weekdaytext.h"

#include "weekdayset.h"

#include <array>

namespace {

// Bits by Sunday-based index, as WeekdaySet counts.
constexpr int kAll = 0x7F, kWorkdays = 0x3E, kWeekend = 0x41;

const struct {
    const char16_t *text;
    int days;
} kWords[] = {{u"工作日", kWorkdays}, {u"每天", kAll}, {u"每日", kAll}, {u"天天", kAll},
              {u"全周", kAll},        {u"周末", kWeekend}, {u"双休日", kWeekend}};

const char16_t *const kPrefixes[] = {u"星期", u"礼拜", u"周"};

bool isSeparator(QChar c)
{
    switch (c.unicode()) {
    case u' ': case u'\t': case 0x00A0: case 0x3000:
    case u'、': case u'，': case u',': case u'/': case u'／':
        return true;
    default:
        return false;
    }
}

bool isRangeMark(QChar c)
{
    switch (c.unicode()) {
    case u'至': case u'到': case u'-': case u'~': case 0x2014: case 0x2013: case 0xFF0D:
    case 0xFF5E: case 0x301C:
        return true;
    default:
        return false;
    }
}

class Scanner {
public:
    explicit Scanner(const QString &t) : s(t) {}

    bool atEnd() const { return i >= s.size(); }
    void skipSeparators()
    {
        while (!atEnd() && isSeparator(s.at(i)))
            ++i;
    }
    void skipBlanks()
    {
        while (!atEnd() && (s.at(i) == u' ' || s.at(i) == u'\t' || s.at(i) == QChar(0x3000) || s.at(i) == QChar(0x00A0)))
            ++i;
    }
    bool takeText(const char16_t *text)
    {
        const QStringView t(text);
        if (!QStringView(s).mid(i).startsWith(t))
            return false;
        i += t.size();
        return true;
    }
    // A word for a set of days; 0 when none stands here.
    int word()
    {
        for (const auto &w : kWords)
            if (takeText(w.text))
                return w.days;
        return 0;
    }
    // One weekday, maybe after a prefix; its Sunday-based index, or -1.
    int day()
    {
        const qsizetype start = i;
        bool prefixed = false;
        for (const char16_t *p : kPrefixes)
            if (takeText(p)) {
                prefixed = true;
                break;
            }
        if (atEnd()) {
            i = start;
            return -1;
        }
        const char16_t c = s.at(i).unicode();
        int d = -1;
        for (int k = 0; k < 7; ++k)
            if (QChar(c) == WeekdaySet::dayChar(k))
                d = k;
        if (c >= u'1' && c <= u'7')
            d = (c - u'0') % 7;
        else if (c >= u'１' && c <= u'７')
            d = (c - u'０') % 7;
        else if (c == u'天' && prefixed)
            d = 0;
        if (d < 0) {
            i = start;
            return -1;
        }
        ++i;
        return d;
    }
    bool rangeMark()
    {
        const qsizetype start = i;
        skipBlanks();
        if (atEnd() || !isRangeMark(s.at(i))) {
            i = start;
            return false;
        }
        while (!atEnd() && isRangeMark(s.at(i)))
            ++i; // "——" is one mark
        skipBlanks();
        return true;
    }

    const QString &s;
    qsizetype i = 0;
};

// Monday first: 一 = 1 … 六 = 6, 日 = 7.
int mondayOrder(int sundayIndex) { return sundayIndex == 0 ? 7 : sundayIndex; }

int rangeDays(int from, int to)
{
    int days = 0;
    for (int o = mondayOrder(from);; o = o % 7 + 1) {
        days |= 1 << (o % 7);
        if (o == mondayOrder(to))
            break;
    }
    return days;
}

} // namespace

namespace WeekdayText {

std::optional<QString> read(const QString &text)
{
    Scanner sc(text);
    int days = 0;
    for (;;) {
        sc.skipSeparators();
        if (sc.atEnd())
            break;
        if (const int w = sc.word()) {
            days |= w;
            continue;
        }
        const int from = sc.day();
        if (from < 0)
            return std::nullopt;
        if (sc.rangeMark()) {
            const int to = sc.day();
            if (to < 0)
                return std::nullopt;
            days |= rangeDays(from, to);
        } else {
            days |= 1 << from;
        }
    }
    std::array<bool, 7> down{};
    for (int k = 0; k < 7; ++k)
        down[size_t(k)] = days & (1 << k);
    return WeekdaySet::fromDays(down);
}

QString notUnderstood(const QString &where, const QString &text)
{
    return QStringLiteral("%1“%2”看不懂，请写成“一二三四五”这样的星期几。").arg(where, text);
}

} // namespace WeekdayText
