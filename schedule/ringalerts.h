#pragma once
// What the main window's bell bands say, without widgets: while the program
// is stopped and today still has bells to come, that they will not ring
// (with the next one skipped); and the bells that did not ring (错过, 失败)
// until the operator has seen them. The ring engine feeds it; the window
// and the tray icon only show it.
#include <QObject>
#include <QString>
#include <optional>

class RingAlerts : public QObject {
    Q_OBJECT
public:
    static inline const QString kStopped =
        QStringLiteral("已停止打铃：在按“开  始”之前，铃声不会响");

    // A bell as the bands name it.
    struct Bell {
        qint64 seconds = 0;
        QString name;
        QString reason; // why it did not ring
        bool operator==(const Bell &) const = default;
    };

    explicit RingAlerts(QObject *parent = nullptr) : QObject(parent) {}

    // The next of today's bells that stopped mode will skip; none while
    // running, or when no bell is left today.
    void setNextSkipped(std::optional<Bell> next);
    // Empty when there is nothing to say.
    QString stoppedText() const;

    // A bell that did not ring; shown until dismiss().
    void bellNotRung(const Bell &bell);
    int notRungCount() const { return m_notRung; }
    // The latest such bell and, for several, how many there were.
    QString notRungText() const;
    void dismiss();

signals:
    void changed();

private:
    std::optional<Bell> m_next;
    std::optional<Bell> m_latest;
    int m_notRung = 0;
};
