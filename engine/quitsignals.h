#pragma once
// Logout and shutdown end a session's programs with SIGTERM (SIGHUP when its
// terminal goes, SIGINT for Ctrl+C). Each of these leaves the event loop the
// ordinary way instead of killing the process, so that the main window's
// destructor still records the bell it cuts (中断), writes the queued ring
// history (or, when the store does not take it, the file it waits in for
// the next start) and closes the store.
// The handler only writes the signal's number into a pipe, which is all a
// handler may safely do; the event loop reads it.
#include <QObject>

class QSocketNotifier;

class QuitOnSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitOnSignals(QObject *parent = nullptr);
    // Back to the default actions: a signal during the teardown ends the process.
    ~QuitOnSignals() override;

    // A signal came: also one that came before the main event loop ran
    // (inside a start-up box), which that loop must then not enter.
    bool received() const { return m_received; }

private:
    QSocketNotifier *m_notifier = nullptr;
    bool m_received = false;
};
