#include "timetext.h"

#include <QDate>

namespace {

// What people type between the parts: blanks of every width, and tabs.
bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == QChar(0x00A0) || c == QChar(0x3000);
}

class Scanner {
public:
    explicit Scanner(const QString &t) : s(t) {}

    bool atEnd() const { return i >= s.size(); }
    QChar peek() const { return atEnd() ? QChar() : s.at(i); }
    bool take(QChar c)
    {
        if (peek() != c || atEnd())
            return false;
        ++i;
        return true;
    }
    bool skipBlanks()
    {
        const qsizetype from = i;
        while (!atEnd() && isBlank(s.at(i)))
            ++i;
        return i > from;
    }
    // Plain ASCII digits only: full-width digits are refused on purpose.
    std::optional<qint64> number(int *digits = nullptr)
    {
        qint64 v = 0;
        int n = 0;
        while (!atEnd() && s.at(i) >= u'0' && s.at(i) <= u'9') {
            if (v < 1'000'000'000)
                v = v * 10 + (s.at(i).unicode() - u'0');
            ++i;
            ++n;
        }
        if (digits)
            *digits = n;
        if (n == 0)
            return std::nullopt;
        return v;
    }
    // 0 = none, 1 = morning, 2 = afternoon.
    int marker()
    {
        static const struct { const char16_t *text; int kind; } kMarkers[] = {
            {u"AM", 1}, {u"PM", 2}, {u"上午", 1}, {u"下午", 2}};
        for (const auto &m : kMarkers) {
            const QString text = QString::fromUtf16(m.text);
            if (s.mid(i, text.size()).compare(text, Qt::CaseInsensitive) == 0) {
                i += text.size();
                return m.kind;
            }
        }
        return 0;
    }

    const QString &s;
    qsizetype i = 0;
};

// yyyy/M/d or yyyy-M-d with one kind of separator; the day must exist.
bool scanDate(Scanner &sc)
{
    const qsizetype start = sc.i;
    int yearDigits = 0;
    const auto year = sc.number(&yearDigits);
    const QChar sep = sc.peek();
    if (!year || yearDigits > 4 || (sep != u'/' && sep != u'-')) {
        sc.i = start;
        return false;
    }
    sc.take(sep);
    const auto month = sc.number();
    if (!month || !sc.take(sep)) {
        sc.i = start;
        return false;
    }
    const auto day = sc.number();
    if (!day) {
        sc.i = start;
        return false;
    }
    const int y = int(*year) + (yearDigits <= 2 ? 2000 : 0);
    if (*month > 12 || *day > 31 || !QDate(y, int(*month), int(*day)).isValid()) {
        sc.i = start;
        return false;
    }
    return true;
}

} // namespace

std::optional<qint64> parseTimeText(const QString &text)
{
    Scanner sc(text);
    sc.skipBlanks();
    if (sc.atEnd())
        return std::nullopt;

    const qsizetype beforeDate = sc.i;
    bool hasDate = scanDate(sc);
    if (hasDate) {
        const bool blank = sc.skipBlanks();
        if (sc.atEnd())
            return 0; // a date alone is midnight
        if (!blank) {
            // "2024/3/5x" is neither a date nor a time.
            return std::nullopt;
        }
    } else {
        sc.i = beforeDate;
    }

    int mark = sc.marker();
    if (mark)
        sc.skipBlanks();

    const auto hours = sc.number();
    if (!hours)
        return std::nullopt;
    qint64 h = *hours, m = 0, s = 0, ms = 0;
    // A separator, blanks allowed on either side ("12 : 30"); without one
    // the blanks are left for what follows.
    auto separator = [&sc](QChar c) {
        const qsizetype at = sc.i;
        sc.skipBlanks();
        // The full-width colon of a Chinese input method reads as ":".
        if (sc.take(c) || (c == u':' && sc.take(QChar(0xFF1A)))) {
            sc.skipBlanks();
            return true;
        }
        sc.i = at;
        return false;
    };
    if (separator(u':')) {
        const auto v = sc.number();
        if (!v)
            return std::nullopt; // a separator needs its number
        m = *v;
        if (separator(u':')) {
            const auto w = sc.number();
            if (!w)
                return std::nullopt;
            s = *w;
            if (separator(u'.')) {
                const auto x = sc.number();
                if (!x)
                    return std::nullopt;
                ms = *x;
            }
        }
    }

    if (!mark) {
        const qsizetype afterTime = sc.i;
        sc.skipBlanks();
        mark = sc.marker();
        if (!mark)
            sc.i = afterTime;
    }

    if (mark) {
        if (h < 1 || h > 12)
            return std::nullopt;
        h = h % 12 + (mark == 2 ? 12 : 0);
    }
    if (h >= 24 || m >= 60 || s >= 60 || ms >= 1000)
        return std::nullopt;

    if (!hasDate) {
        sc.skipBlanks();
        if (!sc.atEnd())
            return std::nullopt;
    }
    // After a date and a time anything else is ignored.
    return h * 3600 + m * 60 + s;
}
