#pragma once
// The small interfaces through which the logic reaches the operator and the
// wall clock, so that tests can answer for a person and set the time.
// By its path: exchange/ reads this header without linking audio/.
#include "../audio/apperror.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// Message boxes. Every call is modal and may let timers run meanwhile.
class Messages {
public:
    enum class Kind { Error, Confirm, Information, Warning };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~Messages() = default;
    // Plain box: the application's title as caption, no icon, one "OK".
    virtual void plain(const QString &text) = 0;
    // Typed box with one "OK" (caption and icon follow the kind).
    virtual void typedOk(Kind kind, const QString &text) = 0;
    // Typed box with "&Yes" (default) and "&No" (also Escape).
    virtual Answer yesNo(Kind kind, const QString &text) = 0;
    // The same with "&No" the default: a question whose Yes cannot be
    // undone, so that a stray Enter keeps what is there.
    virtual Answer noYes(Kind kind, const QString &text) { return yesNo(kind, text); }
    // The general error box: a full stop is appended when the last
    // character sorts after it.
    virtual void generalError(const QString &text) = 0;
    // The system box with caption, text, information icon, OK and Cancel.
    virtual Answer okCancel(const QString &caption, const QString &text) = 0;

    // Text as the general error box shows it.
    static QString errorText(const QString &text)
    {
        if (!text.isEmpty() && text.back() > QChar(u'.'))
            return text + u'.';
        return text;
    }
};

// File dialogs. std::nullopt (or an empty list) means the operator cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // One existing file; startPath is the name shown in the file box.
    virtual std::optional<QString> openFile(const QString &startPath) = 0;
    // Several files at once, in the order the dialog returns them.
    virtual QStringList openFiles() = 0;
    // A name to save under; no question before replacing.
    virtual std::optional<QString> saveFile(const QString &proposedName) = 0;
};
