#pragma once
// One marked day of the school calendar (table rili) and the texts that
// describe it: a holiday (放假) rings nothing, a make-up day (上课) rings the
// entries of another weekday.
#include "seams.h"

#include <QDate>
#include <QList>
#include <QString>

// Bad input from the operator or a sheet; the text is for the operator.
class CalendarError : public AppError {
public:
    using AppError::AppError;
};

struct CalendarDay {
    enum class Kind { Holiday, MakeUp };
    QDate date;
    Kind kind = Kind::Holiday;
    QChar weekday; // for MakeUp: 日一二三四五六; null for Holiday
    QString remark;
    bool operator==(const CalendarDay &) const = default;

    // 类型 and 按星期 as stored.
    QString kindText() const;
    QString weekdayText() const { return kind == Kind::MakeUp ? QString(weekday) : QString(); }
    // What the date panel adds: "放假" or "按周一上课".
    QString panelText() const;
    // Builds a day from the stored or typed texts; throws CalendarError with
    // the operator's message. weekday may be "一", "周一", "星期一" or 1–7;
    // kind 调休 (a weekend day that is worked) is 上课. A date without a
    // year ("5月1日") takes yearIfMissing, or is refused when that is 0.
    static CalendarDay fromTexts(const QString &date, const QString &kind, const QString &weekday,
                                 const QString &remark, int yearIfMissing = 0);
};

namespace CalendarTexts {
inline const QString kHoliday = QStringLiteral("放假");
inline const QString kMakeUp = QStringLiteral("上课");
// yyyy-MM-dd and the other forms Chinese sheets use: yyyy/M/d (also what a
// real date cell reads as, maybe with a time of 0:00:00), yyyy.M.d and
// "2027年5月1日"; a month and day alone ("5月1日") with yearIfMissing.
// Invalid when the text is no existing date.
QDate parseDate(const QString &text, int yearIfMissing = 0);
// Whether text is a month and day without a year ("5月1日", "5月1号").
bool lacksYear(const QString &text);
QString dateKey(const QDate &date); // yyyy-MM-dd
QString noSuchDate(const QString &text);
QString makeUpWithoutWeekday(const QDate &date);
QString unknownKind(const QString &text);
QString yearUnknown(const QString &text);
}
