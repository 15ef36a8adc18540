#pragma once
// The boxes of an engine nobody sits at (the service): each text goes to
// the log (the journal under systemd) and to whoever listens (the clients'
// bands), and a question takes its default answer, the one a stray Enter
// would give: Yes where Yes is the default, No where a Yes cannot be
// undone, OK for OK and Cancel.
#include "seams.h"

#include <QObject>

class LogMessages : public QObject, public Messages {
    Q_OBJECT
public:
    using QObject::QObject;

    void plain(const QString &text) override;
    void typedOk(Kind kind, const QString &text) override;
    Answer yesNo(Kind kind, const QString &text) override;
    Answer noYes(Kind kind, const QString &text) override;
    void generalError(const QString &text) override;
    Answer okCancel(const QString &caption, const QString &text) override;

signals:
    // What a box would have shown, for the clients.
    void told(Messages::Kind kind, const QString &text);

private:
    void tell(Kind kind, const QString &text);
};
