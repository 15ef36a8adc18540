#pragma once
// The one home of what the operator reads about the store: SQLite's own
// texts are English and terse, so each message says in Chinese what went
// wrong and what it means for the bells, with the engine's text after it in
// brackets for the technician.
#include <QString>

namespace storetext {

enum class Fault {
    None,
    Full,       // the disk is full
    Io,         // the disk cannot be read or written
    Damaged,    // the file is not a database, or its pages are broken
    ReadOnly,   // the file, folder or mount may only be read
    Busy,       // another program holds the file
    CannotOpen, // missing folder, permissions, a path that is no file
    Other,
};

Fault classify(const QString &engineText);

// "<Chinese>（<engine text>）" for a failed statement; a text that already
// begins with Chinese (ours) is returned as it is.
QString describe(const QString &engineText);

// What the band says for each state of the store.
inline const QString kReadOnly = QStringLiteral("铃声列表只读：修改不会保存，打铃记录不会保存");
QString ringingFromCopy(Fault fault, const QString &copyDate, const QString &engineText);
QString noCopy(Fault fault, const QString &engineText);
QString restoredFromCopy(const QString &copyDate);
QString writtenBackFromMemory();
QString historyQueued(int records, const QString &engineText);
QString notWrittenBack(const QString &engineText);
QString copyFailed(const QString &engineText);

} // namespace storetext
