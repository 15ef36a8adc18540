#pragma once
// The engine's API values as typed structs, read from its JSON (docs/api.md
// lists the fields). Reading is lenient: a missing or mistyped field reads
// as its default, so an engine a little newer or older than this client is
// still shown; what the client needs and cannot read is its caller's to judge.
#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// A band the window shows: its kind ("store", "stopped", "notRung",
// "snapcast", "emergency", …) and its text.
struct EngineBand {
    QString kind;
    QString text;
    bool dismissable = false; // the window offers 知道了 for it
    QString level;            // the store's: "fault", "warning", "notice"
    bool operator==(const EngineBand &) const = default;
    static QList<EngineBand> listFromJson(const QJsonValue &value);
};

// What plays: a bell (id set), a test or something else (no id), or nothing
// (music empty).
struct EnginePlaying {
    std::optional<qint64> id;
    QString music;
    qint64 positionMs = 0;
    qint64 lengthMs = 0;
    bool active() const { return !music.isEmpty(); }
    bool operator==(const EnginePlaying &) const = default;
    static EnginePlaying fromJson(const QJsonValue &value); // null: nothing plays
};

// One bell of the day's list as the API sends it.
struct EngineBell {
    qint64 id = 0;
    qint64 seconds = -1; // of the day; -1 when "time" is no second of the day
    QString name;
    QString music;
    QString days;
    QString duration;
    QString remark;
    QStringList zones; // names
    QString status;    // a bellstatus text, as shown with the blink on
    std::optional<qint64> delayMs;
    static EngineBell fromJson(const QJsonObject &o);
};

// A bell's status changed (Bell.OnStatus).
struct EngineBellStatus {
    qint64 id = 0;
    qint64 seconds = -1;
    QString status;
    std::optional<qint64> delayMs;
    QStringList zones;
    static EngineBellStatus fromJson(const QJsonObject &o);
};

// Day.GetBells.
struct EngineDay {
    QDate date;
    bool running = false;
    std::optional<qint64> next; // the id of the next bell to come
    QList<EngineBell> bells;
    static EngineDay fromJson(const QJsonObject &o);
};

// Engine.GetStatus.
struct EngineStatus {
    QString version;
    QString dataFolder;
    qint64 pid = 0;
    bool service = false;
    bool running = false;
    qint64 nowSeconds = -1; // of the day, -1 when not given
    QDate date;
    QString dateText;
    bool testing = false;
    bool emergency = false;
    QList<EngineBand> bands;
    EnginePlaying playing;
    static EngineStatus fromJson(const QJsonObject &o);
};

// Emergency.Start's params: all optional.
struct EmergencyRequest {
    QString file;       // a path, or a bare name in the music folder; empty: the alarm tone
    QStringList zones;  // zone names; empty: everywhere
    QString by;         // who, for the record
    QString origin;     // a window's "button", "tray" or "adhoc"; empty: the command line
    QJsonObject toJson() const;
};

namespace enginejson {
// "HH:MM:SS" as a second of the day; -1 when it is none.
qint64 secondsOf(const QString &hhmmss);
bool isRunningMode(const QString &mode); // "running" / "stopped"
std::optional<qint64> optionalInt(const QJsonValue &v);
} // namespace enginejson
