#pragma once
// Keeps the day ringing whatever happens to the store file: opens it at
// start without asking anyone, rings from the newest good copy while it
// cannot be used (and never writes over a damaged file), retries it every
// minute, writes a deleted store back from the open connection, keeps a
// copy a day (made on a thread and connection of its own: a large store's
// copy takes seconds, and the bells' thread never waits for it) and before
// the list is replaced, and tells the main window's band (StoreHealth) what
// is wrong.
#include "apppaths.h"
#include "bellstore.h"
#include "seams.h"
#include "storebackup.h"
#include "storehealth.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>
#include <sys/types.h>

class QThread;
class RingHistory;

class StoreKeeper : public QObject {
    Q_OBJECT
public:
    // The check runs once a minute at this second and millisecond: bells are
    // set on whole minutes mostly, and a tick is due just after each second,
    // so a copy taken here never sits in front of a bell's tick.
    static constexpr int kCheckSecond = 30;
    static constexpr int kCheckMsec = 500;
    // The first check (and the day's first copy) comes at least this long
    // after the start, once the window and the clock are up.
    static constexpr int kFirstCheckMs = 5 * 1000;

    StoreKeeper(BellStore &store, const AppPaths &paths, const Clock &clock, QObject *parent = nullptr);
    // A day's copy still running is abandoned (its part file removed).
    ~StoreKeeper() override;

    StoreHealth &health() { return m_health; }
    const StoreBackup &backup() const { return m_backup; }
    // Whose queue the band reports on.
    void setHistory(RingHistory *history) { m_history = history; }

    enum class Source { Store, Copy, Nothing };
    Source source() const { return m_source; }

    // Opens the store at start. A school's store that is gone comes back
    // from its newest copy (the sample timetable is for the very first start
    // only); one that cannot be used leaves the newest copy open for
    // reading. Returns the store's own message, empty when it opened for
    // writing.
    QString openAtStart();
    // Arms the minute's check (a single shot, re-armed from the clock after
    // each check, so that it does not drift off its moment).
    void start();
    // The minute's work: retries a store that could not be used, notices a
    // store deleted or replaced, takes the day's copy, reports queued ring
    // records. Never throws.
    void check();
    // A copy of the list as it is now (before it is replaced), on the
    // store's connection: the operator waits for the change anyway.
    void takeCopy();
    // The day's copy, started by check() and made on its own thread.
    bool copying() const { return m_copier != nullptr; }
    // Waits until the day's copy is done and tells its outcome (tests and
    // benchmarks); false when it still runs after ms.
    bool waitForCopy(int ms = 120000);

    QTimer timer;

signals:
    // The store now holds another list than the one shown: reload.
    void listReplaced();

private:
    bool openStore();
    void fallBackToCopy(const QString &error);
    void checkStore();
    void writeBack();
    void probe();
    void watchHistory();
    void rememberIdentity();
    void armNext(int minMs);
    void startDayCopy();
    void dayCopyDone();

    BellStore &m_store;
    AppPaths m_paths;
    const Clock &m_clock;
    StoreBackup m_backup;
    StoreHealth m_health;
    RingHistory *m_history = nullptr;
    Source m_source = Source::Nothing;
    QString m_openMessage;
    struct CopyJob {
        std::atomic_bool stop = false;
        QString error;
    };
    QThread *m_copier = nullptr;
    std::shared_ptr<CopyJob> m_copyJob;
    struct Identity {
        dev_t dev = 0;
        ino_t ino = 0;
        mode_t mode = 0; // given to a store written back
        bool valid = false;
    } m_identity;
};
