#pragma once
// The thread that owns one mpv core (mpvcore.h) and does everything that
// can block on it: starting it, each of the player's operations, reading its
// events, destroying it. The caller hands a job over and waits for it only
// up to a bound; past the bound it gives up, and the job, when it finally
// returns, is undone (the core closes its file) so that nothing the caller
// was told failed happens late (no bell sounds seconds after its time).
//
// Why a thread and not only libmpv's async API: mpv_create, mpv_initialize
// and mpv_terminate_destroy have no async form and all of them can block on
// a stuck sound server; the load needs several synchronous property reads;
// and the proven synchronous load sequence stays as it is. libmpv's wakeup
// callback is used too: it wakes this thread when events wait, so that the
// GUI thread never calls libmpv at all, and an idle player sleeps.
//
// An open may also be left to finish in the background (run() with
// mayPend): the caller stops waiting but still wants the outcome, which the
// notifier then reports. What happens by itself (a file ends or is dropped)
// is reported through the same notifier, on this thread.
#include "mpvcore.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class MpvWorker {
public:
    using Job = std::function<void(MpvCore &)>;

    // What the notifier is told, on the worker's thread.
    struct Notice {
        enum class Kind { OpenDone, Ended } kind;
        quint64 seq = 0;            // OpenDone: the pending job's number
        std::exception_ptr error;   // OpenDone: what the open threw, if it did
        bool interrupted = false;   // Ended: dropped by its output or decoder
        quint64 load = 0;           // Ended: the open the file belonged to
    };
    using Notifier = std::function<void(const Notice &)>;
    enum class Outcome { Done, GivenUp, Pending };

    // Starts the thread; the mpv core itself starts with the first job that
    // needs it (MpvCore::open).
    static std::shared_ptr<MpvWorker> start(bool systemOutput, double mpvVolume);
    ~MpvWorker();
    MpvWorker(const MpvWorker &) = delete;
    MpvWorker &operator=(const MpvWorker &) = delete;

    // Runs `job` on the thread and waits for it up to `boundMs`. Returns
    // false when it gave up; otherwise rethrows what the job threw.
    bool run(Job job, int boundMs);
    // As run(), but with `mayPend` a job still running at the bound is not
    // given up: it goes on, Pending is returned, and its end is reported as
    // Notice::OpenDone with `seq`. One pending job at a time.
    Outcome run(Job job, int boundMs, bool mayPend, quint64 seq);
    // Queues `job` without waiting for it; a failure is only logged.
    void post(Job job);
    // The pending job's outcome is no longer wanted: it is skipped if it has
    // not started, else its file is closed after it. Not a stall. False
    // when it had already finished (its file is then open).
    bool cancelPending();
    // The pending job took too long: it is given up as a stalled call is.
    // False when it had already finished (its notice is on its way).
    bool giveUpPending();
    // Called with the worker's lock held; set it empty before the receiver
    // goes away.
    void setNotifier(Notifier notifier);

    // The core's state as last published. While a job given up on is not
    // yet undone, the state of a closed player.
    CoreState state() const;
    // The core's count of opens and closes as last published.
    quint64 loadId() const;
    // A job was given up on and the thread has not come back from it yet.
    bool unanswered() const;
    // How long the thread has been inside one job or event (0 when idle).
    qint64 busyForMs() const;
    // The job in hand waits for its file, not for the output.
    bool readingFile() const { return m_core->readingFile(); }

    // Hands the core to the thread for good: it destroys the core once its
    // current call returns, then ends. Never waits.
    void abandon();
    // Ends the thread: waits up to `boundMs` for the core's destruction and
    // otherwise leaves it to the thread, as abandon() does.
    void finish(int boundMs);
    bool ended() const;

    // Cores given up on whose threads are still stuck, in the whole process.
    static int abandonedAlive();
    // Workers of any player still inside a job given up on.
    static int unansweredAnywhere();

private:
    struct Task {
        Job job;
        bool started = false, done = false, givenUp = false;
        bool pending = false, cancelled = false, detached = false;
        quint64 seq = 0;
        std::exception_ptr error;
    };
    MpvWorker(bool systemOutput, double mpvVolume);
    void loop();
    static void wake(void *self);
    void leaveToThread(std::unique_lock<std::mutex> &lk);
    void giveUp(Task &task);
    // The published state must not show the core (a call given up on or a
    // cancelled open is being undone).
    bool hidden() const { return m_undoDue || m_discardDue || (m_current && m_current->cancelled); }

    // Made here, used and destroyed on the thread.
    std::unique_ptr<MpvCore> m_core;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeCv; // the thread waits for work
    std::condition_variable m_doneCv; // callers wait for their task
    std::deque<std::shared_ptr<Task>> m_tasks;
    std::shared_ptr<Task> m_current;
    bool m_mpvWoke = false;
    bool m_quit = false;
    bool m_ended = false;
    bool m_abandoned = false;
    bool m_undoDue = false; // a task was given up on: close the file after it
    bool m_discardDue = false; // a cancelled open finished: close its file
    std::shared_ptr<Task> m_pending;
    Notifier m_notifier;
    quint64 m_endsSeen = 0;
    quint64 m_loadId = 0;
    qint64 m_busySinceNs = 0;
    CoreState m_state;
};
