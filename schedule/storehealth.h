#pragma once
// What is wrong with the store now, without widgets: each problem has its
// own text, and the main window shows them together in a band across its
// top until their causes are gone. A notice (the list was written back or
// restored) stays until the operator dismisses it.
#include <QMap>
#include <QObject>
#include <QString>

class StoreHealth : public QObject {
    Q_OBJECT
public:
    enum class Problem {
        Unavailable, // the store cannot be used: ringing from a copy, or from nothing
        NotWrittenBack, // a deleted store could not be written back: ringing from memory
        ReadOnly,
        History,     // ring records kept in memory
        BackupFailed,
        Restored,    // a notice: the list was written back or restored
    };
    enum class Level { None, Notice, Warning, Fault };

    void set(Problem p, const QString &text);
    void clear(Problem p);
    bool has(Problem p) const { return m_problems.contains(p); }
    QString text(Problem p) const { return m_problems.value(p); }

    // The band: every problem's text, one a line, most serious first.
    QString bandText() const;
    Level level() const;
    // A notice is shown: the operator may dismiss it (the other lines stay
    // until their causes are gone).
    bool dismissable() const { return has(Problem::Restored); }
    void dismiss() { clear(Problem::Restored); }

    static Level levelOf(Problem p);

signals:
    void changed();

private:
    QMap<Problem, QString> m_problems; // ordered by seriousness
};
