// Placeholder until the libmpv backend lands.
#include "mpvplayer.h"

struct MpvPlayer::Impl {
    QString file;
};

MpvPlayer::MpvPlayer(Output) : d(new Impl) {}
MpvPlayer::~MpvPlayer() { delete d; }
void MpvPlayer::setFileName(const QString &path) { d->file = path; }
QString MpvPlayer::fileName() const { return d->file; }
void MpvPlayer::open() { throw AudioError(QStringLiteral("audio backend missing")); }
void MpvPlayer::close() {}
void MpvPlayer::play() { throw AudioError(QString::fromLatin1(kNoDeviceOpen)); }
void MpvPlayer::stop() { throw AudioError(QString::fromLatin1(kNoDeviceOpen)); }
void MpvPlayer::pause() { throw AudioError(QString::fromLatin1(kNoDeviceOpen)); }
void MpvPlayer::seek(qint64) { throw AudioError(QString::fromLatin1(kNoDeviceOpen)); }
void MpvPlayer::setStartPosition(qint64) {}
qint64 MpvPlayer::length() const { throw AudioError(QString::fromLatin1(kNoDeviceOpen)); }
qint64 MpvPlayer::position() const { return 0; }
AudioPlayer::Mode MpvPlayer::mode() const { return Mode::NotReady; }
