#pragma once
// The operator's texts for a file the player cannot open or play, and for an
// output that is missing or does not answer. One home for them, so that the
// player's core and its façade say the same thing the same way.
#include <QString>
#include <QStringList>

namespace LoadErrors {

// Checks that can be made before libmpv sees the file (it exists, is a
// non-empty regular file, can be read, and its header is a sound format the
// program's own reader knows; with `confinedTo`, it lies inside that folder
// once every symbolic link is followed). Empty when the file passes.
QString checkFile(const QString &path, const QString &confinedTo = {});

// The only output the sound server offers is its stand-in for a PC without
// a sound card.
QString dummyOutputOnly(const QString &path);

// Why a zone stays silent: its own output (named as the operator knows it,
// SoundServer::label) is not there, and it never plays elsewhere.
QString missingOutput(const QString &label);

// The open takes longer than the caller waits; it goes on.
QString stillOpening(const QString &path);

// mpv's own error lines, for the technically minded reader of a message;
// empty when there are none.
QString details(const QStringList &mpvErrorLines);

// No sound output could be opened for `path`.
QString outputFailed(bool systemOutput, const QString &path, const QStringList &mpvErrorLines);
// A player kept to its output, whose output has gone.
QString outputGone(const QString &device);

// The file ended before it could play: `endError` is the mpv error of its
// END_FILE. Sets *isOutput when the output, not the file, failed.
QString endedWhileLoading(int endError, const QString &path, const QStringList &mpvErrorLines,
                          bool *isOutput);

QString commandFailed(const QString &path, int mpvError);
QString notAccepted(const QString &path);
QString openTimedOut(double seconds, const QString &path);
QString noAudioTrack(const QString &path);
QString truncated(const QString &path, const QString &why);
QString startFailed(int mpvError); // 0: mpv_create() itself failed

// The player or the sound server did not answer within `boundMs`, or, with
// `fileStage`, the file could not be read in that time. `path` is the file
// concerned, if any.
QString noResponse(int boundMs, const QString &path, bool fileStage = false);

} // namespace LoadErrors
