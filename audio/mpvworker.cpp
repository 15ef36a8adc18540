#include "mpvworker.h"

#include "audiolog.h"

#include <atomic>
#include <chrono>
#include <pthread.h>

namespace {
std::atomic<int> s_abandonedAlive{0};
// Workers still inside a job given up on, in the whole process: while any
// is, the sound server is not answering.
std::atomic<int> s_unanswered{0};
// How often a zone's sounding file asks whether its output is still there.
constexpr std::chrono::milliseconds kOutputCheck{200};
} // namespace

MpvWorker::MpvWorker(bool systemOutput, double mpvVolume)
    : m_core(std::make_unique<MpvCore>(systemOutput, mpvVolume))
{
}

MpvWorker::~MpvWorker()
{
    // The owner joins or detaches before letting go; this is the last word.
    if (m_thread.joinable())
        m_thread.detach();
}

std::shared_ptr<MpvWorker> MpvWorker::start(bool systemOutput, double mpvVolume)
{
    std::shared_ptr<MpvWorker> w(new MpvWorker(systemOutput, mpvVolume));
    // The thread keeps its worker alive: an abandoned core outlives its player.
    w->m_thread = std::thread([w] { w->loop(); });
    pthread_setname_np(w->m_thread.native_handle(), "daling-mpv");
    return w;
}

void MpvWorker::wake(void *self)
{
    // Called on libmpv's threads: no libmpv call here, only a note.
    auto *w = static_cast<MpvWorker *>(self);
    std::lock_guard lk(w->m_mutex);
    w->m_mpvWoke = true;
    w->m_wakeCv.notify_one();
}

void MpvWorker::loop()
{
    MpvCore *core = m_core.get();
    core->setWakeup(&MpvWorker::wake, this);
    core->setCancelled([this] {
        std::lock_guard lk(m_mutex);
        return m_quit;
    });

    std::unique_lock lk(m_mutex);
    // Runs `fn` without the lock, as "busy", and publishes the state after.
    auto busy = [&](const std::function<void()> &fn) {
        m_busySinceNs = MpvCore::steadyNs();
        lk.unlock();
        fn();
        const CoreState s = core->state();
        const quint64 ends = core->endsSoFar();
        const bool interrupted = core->lastEndInterrupted();
        const quint64 loads = core->loadsSoFar();
        lk.lock();
        m_busySinceNs = 0;
        if (!hidden()) {
            m_state = s;
            m_loadId = loads;
            if (ends != m_endsSeen && m_notifier)
                m_notifier({Notice::Kind::Ended, 0, {}, interrupted, loads});
        }
        m_endsSeen = ends;
    };
    for (;;) {
        const auto due = [&] { return m_quit || m_undoDue || m_discardDue || m_mpvWoke || !m_tasks.empty(); };
        if (core->watchesOutput()) {
            // A zone's output that goes leaves no event behind: ask the
            // server a few times a second while its file sounds.
            if (!m_wakeCv.wait_for(lk, kOutputCheck, due)) {
                busy([&] { core->dropIfOutputGone(); });
                continue;
            }
        } else {
            m_wakeCv.wait(lk, due);
        }
        if (m_quit)
            break;
        if ((m_undoDue || m_discardDue) && !m_current) {
            // Whatever a given-up task did, its caller was told it failed
            // and sees nothing open: make that true before the next task.
            busy([&] {
                try {
                    core->close();
                } catch (const std::exception &e) {
                    qCWarning(lcAudio) << "closing after an abandoned call failed:" << e.what();
                }
            });
            if (m_undoDue)
                --s_unanswered;
            m_undoDue = m_discardDue = false;
            m_state = core->state();
            m_loadId = core->loadsSoFar();
            continue;
        }
        if (!m_tasks.empty()) {
            std::shared_ptr<Task> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            if (task->givenUp)
                continue; // never started: nothing to undo
            task->started = true;
            m_current = task;
            std::exception_ptr error;
            busy([&] {
                try {
                    task->job(*core);
                } catch (...) {
                    error = std::current_exception();
                }
            });
            task->error = error;
            task->done = true;
            m_current.reset();
            if (task->cancelled)
                m_discardDue = true;
            if (task == m_pending) {
                m_pending.reset();
                if (!task->cancelled && !task->givenUp && m_notifier)
                    m_notifier({Notice::Kind::OpenDone, task->seq, error, false});
            }
            if (task->detached && error) {
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception &e) {
                    qCWarning(lcAudio) << "a queued player call failed:" << e.what();
                }
            }
            m_doneCv.notify_all();
            continue;
        }
        m_mpvWoke = false;
        busy([&] { core->pump(); });
    }
    lk.unlock();
    m_core.reset(); // mpv_terminate_destroy, on this thread whatever it costs
    lk.lock();
    m_ended = true;
    if (m_abandoned)
        --s_abandonedAlive;
    if (m_undoDue) {
        m_undoDue = false;
        --s_unanswered;
    }
    m_doneCv.notify_all();
}

bool MpvWorker::run(Job job, int boundMs)
{
    return run(std::move(job), boundMs, false, 0) == Outcome::Done;
}

void MpvWorker::giveUp(Task &task)
{
    // Never started: it is skipped. Started: it is undone when it
    // returns. Either way the caller now sees nothing open.
    task.givenUp = true;
    if (!m_undoDue)
        ++s_unanswered;
    m_undoDue = true;
}

MpvWorker::Outcome MpvWorker::run(Job job, int boundMs, bool mayPend, quint64 seq)
{
    auto task = std::make_shared<Task>();
    task->job = std::move(job);
    task->seq = seq;
    std::unique_lock lk(m_mutex);
    m_tasks.push_back(task);
    m_wakeCv.notify_one();
    if (!m_doneCv.wait_for(lk, std::chrono::milliseconds(boundMs), [&] { return task->done; })) {
        if (mayPend) {
            task->pending = true;
            m_pending = task;
            return Outcome::Pending;
        }
        giveUp(*task);
        return Outcome::GivenUp;
    }
    if (task->error)
        std::rethrow_exception(task->error);
    return Outcome::Done;
}

void MpvWorker::post(Job job)
{
    auto task = std::make_shared<Task>();
    task->job = std::move(job);
    task->detached = true;
    std::lock_guard lk(m_mutex);
    m_tasks.push_back(task);
    m_wakeCv.notify_one();
}

bool MpvWorker::cancelPending()
{
    std::lock_guard lk(m_mutex);
    if (!m_pending)
        return false;
    if (m_pending->started)
        m_pending->cancelled = true;
    else
        m_pending->givenUp = true; // skipped: nothing to undo
    m_pending.reset();
    return true;
}

bool MpvWorker::giveUpPending()
{
    std::lock_guard lk(m_mutex);
    if (!m_pending)
        return false;
    giveUp(*m_pending);
    m_pending.reset();
    return true;
}

void MpvWorker::setNotifier(Notifier notifier)
{
    std::lock_guard lk(m_mutex);
    m_notifier = std::move(notifier);
}

CoreState MpvWorker::state() const
{
    std::lock_guard lk(m_mutex);
    return hidden() ? CoreState{} : m_state;
}

quint64 MpvWorker::loadId() const
{
    std::lock_guard lk(m_mutex);
    return m_loadId;
}

bool MpvWorker::unanswered() const
{
    std::lock_guard lk(m_mutex);
    return m_undoDue;
}

qint64 MpvWorker::busyForMs() const
{
    std::lock_guard lk(m_mutex);
    return m_busySinceNs ? (MpvCore::steadyNs() - m_busySinceNs) / 1000000 : 0;
}

void MpvWorker::leaveToThread(std::unique_lock<std::mutex> &lk)
{
    if (!m_ended && !m_abandoned) {
        m_abandoned = true;
        ++s_abandonedAlive;
    }
    lk.unlock();
    if (m_thread.joinable())
        m_thread.detach();
}

void MpvWorker::abandon()
{
    std::unique_lock lk(m_mutex);
    m_quit = true;
    m_wakeCv.notify_one();
    leaveToThread(lk);
}

void MpvWorker::finish(int boundMs)
{
    std::unique_lock lk(m_mutex);
    m_quit = true;
    m_wakeCv.notify_one();
    if (m_doneCv.wait_for(lk, std::chrono::milliseconds(boundMs), [&] { return m_ended; })) {
        lk.unlock();
        if (m_thread.joinable())
            m_thread.join();
        return;
    }
    leaveToThread(lk);
}

bool MpvWorker::ended() const
{
    std::lock_guard lk(m_mutex);
    return m_ended;
}

int MpvWorker::abandonedAlive() { return s_abandonedAlive.load(); }
int MpvWorker::unansweredAnywhere() { return s_unanswered.load(); }
