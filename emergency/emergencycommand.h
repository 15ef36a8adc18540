#pragma once
// The command line of the emergency broadcast:
//   daling --emergency [FILE] [--zones 教学楼A,操场]
//   daling --emergency-stop
// It opens no window and asks nothing: it tells the running program through
// its local channel and exits 0 once the alarm sounds, or 1 with the reason
// on standard error. Both sides of the channel's line live here: what the
// command sends, and how the program reads it.
#include "emergencybroadcast.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace emergencycommand {

struct Parsed {
    bool stop = false;
    QString file;       // made absolute when it names a file from the caller's folder
    QStringList zones;
    QString error;      // a usage error, in the operator's words
};

// True when the arguments ask for either command.
bool wanted(int argc, char **argv);
// args without the program's name; cwd resolves a relative FILE.
Parsed parse(const QStringList &args, const QString &cwd);
// The channel's line for it: "emergency <json>" or "emergency-stop".
QByteArray line(const Parsed &p);
// The program's side: the request a line's argument carries (origin
// Command); nothing, with *error set, when it is not one.
std::optional<EmergencyBroadcast::Request> request(const QByteArray &argument, QString *error);

// Sends through send (nothing back: no program answered) and returns the
// exit code; what the operator should read goes to err.
int run(const Parsed &p, const std::function<std::optional<QByteArray>(const QByteArray &line)> &send,
        QString *err);

// How long the command waits for its answer: the zones' settling and a margin.
constexpr int kAnswerTimeoutMs = EmergencyBroadcast::kSettleMs + 2500;

} // namespace emergencycommand
