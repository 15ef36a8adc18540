// The audio header reader walks the bytes of files the operator chooses: a
// malformed file must give no facts or some, never a crash or a hang. It
// reads from a path (memory-mapped), so each input goes to a file in memory.
#include "audiofilefacts.h"

#include <QFile>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // One file per process, removed when the fuzzer ends.
    static const struct Scratch {
        QString path = QStringLiteral("/dev/shm/daling-fuzz-audio-%1").arg(qint64(::getpid()));
        ~Scratch() { QFile::remove(path); }
    } scratch;
    const QString &path = scratch.path;
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    // wav, ogg and flac are told by their magic bytes; anything else is
    // walked as an mp3 when libmpv calls it one.
    const AudioFileFacts::Facts facts = AudioFileFacts::inspect(path, QStringLiteral("mp3"));
    (void)facts.truncated.size();
    (void)AudioFileFacts::scanMp3(path);
    // What decides whether a file may reach the player at all.
    (void)AudioFileFacts::sniff(path).lengthMs;
    return 0;
}
