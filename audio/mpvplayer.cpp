#include "mpvplayer.h"

#include "loaderrors.h"
#include "mpvworker.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstring>
#include <cmath>

namespace {

// mpv's volume scales the amplitude by (volume / 100)³; the player's percent
// is the amplitude itself.
double mpvVolume(int percent) { return 100.0 * std::cbrt(double(percent) / 100.0); }

} // namespace

struct MpvPlayer::Impl {
    Output output = Output::System;
    QString device; // the chosen output, empty: the default
    QString file; // what the next open() opens
    QString path; // the absolute path of the last open()
    std::optional<qint64> startPos;
    int volume = 100;
    std::shared_ptr<MpvWorker> worker;
    std::shared_ptr<MpvWorker> abandoned; // the last core given up on
    // position() never runs backwards between two positions set on purpose.
    mutable qint64 lastReportedMs = 0;
    mutable quint64 lastMarks = 0;

    AudioError noResponse(bool fileStage = false, int boundMs = kCallBoundMs) const
    {
        return AudioError(LoadErrors::noResponse(boundMs, path, fileStage),
                          AudioError::Cause::NoResponse);
    }

    // The worker to hand the next call to, or NoResponse when the current
    // one is still stuck in a call given up on.
    MpvWorker &ready()
    {
        if (!worker)
            worker = MpvWorker::start(output == Output::System, mpvVolume(volume));
        if (worker->unanswered() && worker->busyForMs() > 0) {
            const bool mayReplace = worker->busyForMs() >= kAbandonAfterMs
                                    && (!abandoned || abandoned->ended());
            if (!mayReplace)
                throw noResponse();
            worker->abandon();
            abandoned = std::move(worker);
            worker = MpvWorker::start(output == Output::System, mpvVolume(volume));
        }
        return *worker;
    }

    void call(const MpvWorker::Job &job)
    {
        MpvWorker &w = ready();
        const int bound = MpvWorker::unansweredAnywhere() > 0 ? kStalledBoundMs : kCallBoundMs;
        if (!w.run(job, bound))
            throw noResponse(w.readingFile(), bound);
    }

    CoreState state() const { return worker ? worker->state() : CoreState{}; }

    void requireOpen() const
    {
        if (!state().isOpen)
            throw AudioError(QString::fromLatin1(kNoDeviceOpen));
    }
};

MpvPlayer::MpvPlayer(Output output, const QString &device) : d(std::make_unique<Impl>())
{
    d->output = output;
    d->device = device;
    // mpv_create() returns NULL under any LC_NUMERIC but "C". Set here, on
    // the caller's thread, not on the worker's while the window formats
    // numbers; Qt formats through QLocale and is not affected.
    const char *lc = std::setlocale(LC_NUMERIC, nullptr);
    if (!lc || std::strcmp(lc, "C") != 0)
        std::setlocale(LC_NUMERIC, "C");
}

MpvPlayer::~MpvPlayer()
{
    // A core stuck in the sound server is left to its thread, never waited for.
    if (d->worker)
        d->worker->finish(kCallBoundMs);
}

void MpvPlayer::setFileName(const QString &path) { d->file = path; }
QString MpvPlayer::fileName() const { return d->file; }

void MpvPlayer::open()
{
    const QString path = d->file.isEmpty() ? QString() : QFileInfo(d->file).absoluteFilePath();
    d->path = path;
    // Its checks touch the disk, which may be a hung network share: they
    // run on the worker too.
    d->call([path, device = d->device](MpvCore &core) {
        core.setDevice(device);
        core.open(path);
    });
}

void MpvPlayer::close()
{
    if (!d->worker)
        return;
    // After a call given up on, the worker closes the file by itself.
    if (d->worker->unanswered())
        return;
    try {
        d->call([](MpvCore &core) { core.close(); });
    } catch (...) {
        // Closing never fails for the caller; a stuck core is undone later.
    }
}

void MpvPlayer::play()
{
    d->requireOpen();
    const std::optional<qint64> from = d->startPos;
    d->startPos.reset();
    d->call([from](MpvCore &core) { core.play(from); });
}

void MpvPlayer::stop()
{
    d->requireOpen();
    d->call([](MpvCore &core) { core.stop(); });
}

void MpvPlayer::pause()
{
    d->requireOpen();
    d->call([](MpvCore &core) { core.pause(); });
}

void MpvPlayer::seek(qint64 ms)
{
    d->requireOpen();
    d->call([ms](MpvCore &core) { core.seek(ms); });
}

void MpvPlayer::setStartPosition(qint64 ms) { d->startPos = std::max<qint64>(0, ms); }

qint64 MpvPlayer::length() const
{
    d->requireOpen();
    return d->state().lengthMs;
}

qint64 MpvPlayer::position() const
{
    const CoreState s = d->state();
    if (!s.isOpen)
        return 0;
    qint64 ms = qint64(std::llround(s.posSec * 1000.0));
    if (s.posMarks != d->lastMarks) {
        d->lastMarks = s.posMarks;
        d->lastReportedMs = ms;
    }
    // mpv reports the position every 50 ms or so while playing; in between
    // it runs on with the clock.
    if (s.mode == Mode::Playing && s.posStampNs > 0) {
        ms += std::min<qint64>((MpvCore::steadyNs() - s.posStampNs) / 1000000, 1000);
        ms = std::max(ms, d->lastReportedMs);
        d->lastReportedMs = ms;
    }
    return std::clamp<qint64>(ms, 0, s.lengthMs);
}

AudioPlayer::Mode MpvPlayer::mode() const
{
    const CoreState s = d->state();
    return s.isOpen ? s.mode : Mode::NotReady;
}

bool MpvPlayer::interrupted() const { return d->state().interrupted; }

void MpvPlayer::setVolume(int percent)
{
    d->volume = std::clamp(percent, 0, 100);
    if (!d->worker)
        return; // the core starts with it
    const double v = mpvVolume(d->volume);
    d->call([v](MpvCore &core) { core.setVolume(v); });
}

int MpvPlayer::volume() const { return d->volume; }

QString MpvPlayer::currentOutput() const
{
    const CoreState s = d->state();
    return s.isOpen ? s.currentAo : QString();
}

int MpvPlayer::coresAwaitingCleanup() { return MpvWorker::abandonedAlive(); }

void MpvPlayer::setOutputDevice(const QString &name) { d->device = name; }
QString MpvPlayer::outputDevice() const { return d->device; }

QString MpvPlayer::missingOutput() const
{
    const CoreState s = d->state();
    return s.isOpen ? s.missingDevice : QString();
}

QList<AudioOutputDevice> MpvPlayer::outputDevices()
{
    // Shared with the job: a call given up on still writes its answer.
    auto list = std::make_shared<QList<AudioOutputDevice>>();
    d->call([list](MpvCore &core) { *list = core.devices(); });
    return *list;
}
