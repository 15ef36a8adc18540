#pragma once
// What a date means for the bells in running mode: whether any ring, whose
// weekday's entries they are, and the date panel's text. Refresh asks the
// board's plan for the clock's date on every reload; the default plan is
// the plain week (the date's own weekday, the date text alone).
#include <QChar>
#include <QDate>
#include <QString>

class DayPlan {
public:
    struct Day {
        bool rings = true;  // false: running mode lists and rings nothing
        QChar weekday;      // 日一二三四五六: whose entries ring that day
        QString dateText;   // PanelDate
    };
    virtual ~DayPlan() = default;
    // May first do what belongs to a new date before its list is read (a
    // timetable that starts that day). Never throws.
    virtual Day dayOf(const QDate &date);
};
