#include "audioplayer.h"

#include <QPointer>
#include <QTimer>

void AudioPlayer::openAsync()
{
    const QString file = fileName();
    QTimer::singleShot(0, this, [this, file] {
        if (fileName() != file)
            return; // another file was chosen meanwhile; its own open reports
        try {
            open();
            emit opened();
        } catch (const AudioError &e) {
            if (!e.isPending())
                emit openFailed(e.text(), e.cause());
        }
    });
}
