#pragma once
// The real message boxes and file dialogs behind the seams the logic uses.
#include "seams.h"

#include <QPointer>
#include <QString>

class QWidget;

class QtMessages : public Messages {
public:
    // title: the application's title, the caption of plain and error boxes.
    explicit QtMessages(QString title) : m_title(std::move(title)) {}
    // The window that owns the boxes (the active window when unset).
    void setOwner(QWidget *w) { m_owner = w; }

    void plain(const QString &text) override;
    void typedOk(Kind kind, const QString &text) override;
    Answer yesNo(Kind kind, const QString &text) override { return question(kind, text, true); }
    Answer noYes(Kind kind, const QString &text) override { return question(kind, text, false); }
    void generalError(const QString &text) override;
    Answer okCancel(const QString &caption, const QString &text) override;

private:
    Answer question(Kind kind, const QString &text, bool yesDefault);
    QWidget *owner() const;
    QString m_title;
    QPointer<QWidget> m_owner;
};

class QtFileDialogs : public FileDialogs {
public:
    void setOwner(QWidget *w) { m_owner = w; }
    std::optional<QString> openFile(const QString &startPath) override;
    QStringList openFiles() override;
    std::optional<QString> saveFile(const QString &proposedName) override;
    // Where the first save dialog opens: the user's documents folder (the
    // home folder where there is none).
    static QString documentsFolder();

private:
    QPointer<QWidget> m_owner;
    QString m_lastFolder;     // of the open dialogs
    QString m_lastSaveFolder; // of the save dialogs
};

// The executable's file name up to its first full stop, every letter after
// the first in lower case.
QString applicationTitle(const QString &executablePath);

// Loads Debian's Chinese catalogue of Qt's own texts (file dialogs, the
// context menus of text fields) into the application. The program's message
// boxes set their English captions and buttons themselves, so the catalogue
// does not change them. False when the catalogue is not installed.
bool installQtChinese();
