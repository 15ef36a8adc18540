#pragma once
// 系统 → "校历与作息方案…": a month calendar with the marked days in their
// colours, the mark fields, and the timetables. A view over
// CalendarCommands, which does the work and asks the operator.
#include "calendarcommands.h"

#include <QDialog>

class QCalendarWidget;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class CalendarDialog : public QDialog {
    Q_OBJECT
public:
    // Background colours of the marked days in the month view.
    static inline const QColor kHolidayColour{255, 205, 205};
    static inline const QColor kMakeUpColour{200, 230, 255};

    CalendarDialog(SchoolCalendar &calendar, CalendarCommands &commands, const QDate &today,
                   QWidget *parent = nullptr);

    QCalendarWidget *month() const { return m_month; }
    // Reads the marks of the month shown and the timetables again.
    void reload();

private:
    void paintMonth();
    void dateClicked(const QDate &date);
    void showDay(const QDate &date);
    void rowChosen();
    qint64 chosenTimetable() const;

    SchoolCalendar &m_calendar;
    CalendarCommands &m_commands;
    QCalendarWidget *m_month = nullptr;
    QLabel *m_dayInfo = nullptr;
    QLineEdit *m_first = nullptr, *m_last = nullptr, *m_remark = nullptr;
    QComboBox *m_kind = nullptr, *m_weekday = nullptr;
    QTableWidget *m_timetables = nullptr;
    QLineEdit *m_name = nullptr, *m_startDay = nullptr;
    QList<QDate> m_painted; // dates whose format the last paint set
};
