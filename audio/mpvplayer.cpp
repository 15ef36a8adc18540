#include "mpvplayer.h"

#include <QScopeGuard>

#include "audiolog.h"
#include "loaderrors.h"
#include "mpvworker.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTimer>

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
    MpvPlayer *self = nullptr;
    Output output = Output::System;
    QString confinedTo;
    // The open going on in the background, by its number.
    bool pending = false;
    quint64 seq = 0;
    QTimer pendingLimit;
    QElapsedTimer pendingSince;
    QString device; // the chosen output, empty: the default
    bool neverElsewhere = false; // handed to the core with each open
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
            worker = startWorker();
        if (worker->unanswered() && worker->busyForMs() > 0) {
            const bool mayReplace = worker->busyForMs() >= kAbandonAfterMs
                                    && (!abandoned || abandoned->ended());
            if (!mayReplace)
                throw noResponse();
            qCWarning(lcAudio) << "a player core stuck for" << worker->busyForMs()
                               << "ms is replaced by a fresh one";
            worker->setNotifier({});
            worker->abandon();
            abandoned = std::move(worker);
            worker = startWorker();
        }
        return *worker;
    }

    std::shared_ptr<MpvWorker> startWorker()
    {
        auto w = MpvWorker::start(output == Output::System, mpvVolume(volume));
        // Runs on the worker's thread, with its lock held: only a post.
        MpvPlayer *player = self;
        const MpvWorker *from = w.get();
        w->setNotifier([player, from](const MpvWorker::Notice &n) {
            QMetaObject::invokeMethod(player, [player, from, n] { player->d->arrived(from, n); },
                                      Qt::QueuedConnection);
        });
        return w;
    }

    // A notice from a worker, now on the player's thread.
    void arrived(const MpvWorker *from, const MpvWorker::Notice &n)
    {
        if (from != worker.get())
            return; // a core given up on since
        if (n.kind == MpvWorker::Notice::Kind::Ended) {
            // An end that arrives after the next open or a close belongs to
            // a file no longer there.
            if (pending || n.load != worker->loadId())
                return;
            if (n.interrupted)
                qCWarning(lcAudio) << "the output or decoder dropped" << path << "while it sounded";
            emit self->ended(n.interrupted);
            return;
        }
        if (!pending || n.seq != seq)
            return; // cancelled, or superseded by a later open
        pending = false;
        pendingLimit.stop();
        if (!n.error) {
            qCDebug(lcAudio) << "opened in the background:" << path;
            emit self->opened();
            return;
        }
        try {
            std::rethrow_exception(n.error);
        } catch (const AudioError &e) {
            qCWarning(lcAudio).noquote() << "open failed:" << e.text();
            emit self->openFailed(e.text(), e.cause());
        } catch (const std::exception &e) {
            qCWarning(lcAudio) << "open failed:" << e.what();
            emit self->openFailed(QString::fromLocal8Bit(e.what()), AudioError::Cause::File);
        }
    }

    void call(const MpvWorker::Job &job)
    {
        MpvWorker &w = ready();
        const int bound = MpvWorker::unansweredAnywhere() > 0 ? kStalledBoundMs : kCallBoundMs;
        if (!w.run(job, bound))
            throw noResponse(w.readingFile(), bound);
    }

    // While an open is pending the player holds nothing yet.
    CoreState state() const { return worker && !pending ? worker->state() : CoreState{}; }

    void requireOpen() const
    {
        if (pending || !state().isOpen)
            throw AudioError(QString::fromLatin1(kNoDeviceOpen));
    }
};

MpvPlayer::MpvPlayer(Output output, const QString &device) : d(std::make_unique<Impl>())
{
    d->self = this;
    d->pendingLimit.setSingleShot(true);
    QObject::connect(&d->pendingLimit, &QTimer::timeout, this, [this] { pendingTimedOut(); });
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
    if (d->worker) {
        d->worker->setNotifier({});
        d->worker->cancelPending();
        d->worker->finish(kCallBoundMs);
    }
    if (d->abandoned)
        d->abandoned->setNotifier({});
}

void MpvPlayer::setFileName(const QString &path) { d->file = path; }
QString MpvPlayer::fileName() const { return d->file; }

void MpvPlayer::open() { startOpen(false); }

void MpvPlayer::openAsync()
{
    const quint64 before = d->seq;
    // The outcome is always sent from the event loop, never from in here.
    auto later = [this, before](auto emitIt) {
        const quint64 mine = before + 1;
        QMetaObject::invokeMethod(this, [this, mine, emitIt] {
            if (d->seq == mine && !d->pending)
                emitIt();
        }, Qt::QueuedConnection);
    };
    try {
        startOpen(true);
        later([this] { emit opened(); });
    } catch (const AudioError &e) {
        if (e.isPending())
            return;
        qCWarning(lcAudio).noquote() << "open failed:" << e.text();
        const QString text = e.text();
        const AudioError::Cause cause = e.cause();
        later([this, text, cause] { emit openFailed(text, cause); });
    }
}

bool MpvPlayer::opening() const { return d->pending; }

bool MpvPlayer::cancelPending()
{
    if (!d->pending)
        return false;
    d->pending = false;
    d->pendingLimit.stop();
    return d->worker && d->worker->cancelPending();
}

void MpvPlayer::startOpen(bool async)
{
    cancelPending(); // a new open replaces one still going on
    const QString path = d->file.isEmpty() ? QString() : QFileInfo(d->file).absoluteFilePath();
    d->path = path;
    const quint64 seq = ++d->seq;
    MpvWorker &w = d->ready();
    // A call of some player already stuck in the server: this open would
    // only get stuck too.
    const bool stalled = MpvWorker::unansweredAnywhere() > 0;
    const int bound = async ? 0 : stalled ? kStalledBoundMs : kCallBoundMs;
    // Its checks touch the disk, which may be a hung network share: they
    // run on the worker too.
    const auto outcome = w.run(
        [path, device = d->device, confined = d->confinedTo, only = d->neverElsewhere](MpvCore &core) {
            core.setDevice(device);
            core.setNeverElsewhere(only);
            core.open(path, confined);
        },
        bound, !stalled, seq);
    switch (outcome) {
    case MpvWorker::Outcome::Done:
        return;
    case MpvWorker::Outcome::GivenUp:
        throw d->noResponse(w.readingFile(), bound);
    case MpvWorker::Outcome::Pending:
        break;
    }
    d->pending = true;
    d->pendingSince.start();
    d->pendingLimit.start(kServerWaitLimitMs);
    qCDebug(lcAudio) << "open goes on in the background:" << path;
    throw AudioError(LoadErrors::stillOpening(path), AudioError::Cause::Pending);
}

void MpvPlayer::pendingTimedOut()
{
    if (!d->pending || !d->worker)
        return;
    const bool readingFile = d->worker->readingFile();
    const qint64 waited = d->pendingSince.elapsed();
    if (readingFile && waited < kPendingLimitMs) {
        d->pendingLimit.start(int(kPendingLimitMs - waited)); // a slow file: it may take longer
        return;
    }
    if (!d->worker->giveUpPending())
        return; // it has just finished: its notice is on its way
    d->pending = false;
    const AudioError e = d->noResponse(readingFile, readingFile ? kPendingLimitMs : kServerWaitLimitMs);
    qCWarning(lcAudio).noquote() << "an open still going on after" << waited << "ms is given up:" << e.text();
    emit openFailed(e.text(), e.cause());
}

void MpvPlayer::close()
{
    const bool sounded = mode() == Mode::Playing || mode() == Mode::Paused;
    const auto tell = qScopeGuard([this, sounded] {
        if (sounded)
            emit stopped();
    });
    if (cancelPending())
        return; // the worker closes what it was opening
    if (!d->worker)
        return;
    // After a call given up on, the worker closes the file by itself.
    if (d->worker->unanswered())
        return;
    // Closing never fails for the caller and is never given up on: one
    // that outlasts the bound (a loaded machine) finishes in the background,
    // the player reading as closed meanwhile. A stalled server shows at the
    // next call instead.
    try {
        MpvWorker &w = d->ready();
        if (w.run([](MpvCore &core) { core.close(); }, kCallBoundMs, true, 0)
            == MpvWorker::Outcome::Pending)
            w.cancelPending();
    } catch (const std::exception &e) {
        qCWarning(lcAudio) << "close:" << e.what();
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
    const bool sounded = mode() == Mode::Playing || mode() == Mode::Paused;
    d->call([](MpvCore &core) { core.stop(); });
    if (sounded)
        emit stopped();
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
    // Not waited for: a level change must never hold a ramp (or find the
    // worker busy with an open going on in the background).
    const double v = mpvVolume(d->volume);
    d->worker->post([v](MpvCore &core) { core.setVolume(v); });
}

int MpvPlayer::volume() const { return d->volume; }

QString MpvPlayer::currentOutput() const
{
    const CoreState s = d->state();
    return s.isOpen ? s.currentAo : QString();
}

int MpvPlayer::coresAwaitingCleanup() { return MpvWorker::abandonedAlive(); }

void MpvPlayer::setOutputDevice(const QString &name) { d->device = name; }
void MpvPlayer::setConfinedTo(const QString &folder) { d->confinedTo = folder; }
void MpvPlayer::setNeverElsewhere(bool on) { d->neverElsewhere = on; }
qint64 MpvPlayer::outputLatencyMs() const { return d->state().outputLatencyMs; }
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
