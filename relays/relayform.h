#pragma once
// What the window's 功放电源 dialog shows and saves, without its widgets:
// the drivers in the operator's words (the stored code beside them), the
// zones to choose with the choice that means none, 预开 and 保持 in seconds
// (milliseconds in the store), each row's line in the lists, and the saves
// through RelayStore, whose checks and messages refuse bad input.
#include "relaystore.h"
#include "zonestore.h"

#include <QList>
#include <QString>
#include <QStringList>

class RelayForm {
public:
    // What an empty 分区 means for each table.
    static inline const QString kRelayNoZone = QStringLiteral("铃声输出和广播输出");
    static inline const QString kInputNoZone = QStringLiteral("全部分区");
    static inline const QString kAlarmTone = QStringLiteral("（警报音）");

    // musicFolder: where a contact's 音乐 is named by its bare name.
    RelayForm(BellStore &store, QList<Zone> zones, QString musicFolder = {})
        : m_tables(store), m_zones(std::move(zones)), m_musicFolder(std::move(musicFolder))
    {
    }

    // The drivers a relay (inputs: a contact) may have, as stored.
    static QStringList driverCodes(bool inputs);
    // "网络继电器模块（modbus-tcp）"; an unknown code is shown as it is.
    static QString driverText(const QString &code);
    // How 地址 is written for the driver, with an example.
    static QString addressHint(const QString &code);

    // Seconds as the dialog shows them (tenths), milliseconds as kept.
    static double seconds(int ms) { return ms / 1000.0; }
    static int milliseconds(double seconds) { return qRound(seconds * 1000.0); }

    const QList<Zone> &zones() const { return m_zones; }
    // 音乐 for a file chosen: its bare name when it is in the music folder
    // (as the bells name theirs), else its path.
    QString musicName(const QString &path) const;
    // The zones' names joined with "、", or what none means; a zone since
    // deleted is named by its id.
    QString zonesText(const QList<qint64> &ids, const QString &none) const;
    // One line of each list.
    QString rowText(const Relay &r) const;
    QString rowText(const FireInput &f) const;

    QList<Relay> relays() const { return m_tables.relays(); }
    QList<FireInput> inputs() const { return m_tables.fireInputs(); }
    // Adds (id 0) or changes the row and returns its id; throws StoreError
    // with the operator's message.
    qint64 save(const Relay &r);
    qint64 save(const FireInput &f);
    void removeRelay(qint64 id);
    void removeInput(qint64 id);
    // Whether anything was saved or removed: the engine then reads the tables again.
    bool changed() const { return m_changed; }

private:
    RelayStore m_tables;
    QList<Zone> m_zones;
    QString m_musicFolder;
    bool m_changed = false;
};
