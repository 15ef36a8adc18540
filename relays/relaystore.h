#pragma once
// The amplifier relays (功放电源, table gongfang) and the fire alarm's
// contacts (消防联动, table xiaofang), kept in the bell store beside the
// zones. The tables are made when first written; a store without them (an
// older file, one opened only for reading) simply has none.
#include "relayaddress.h"
#include "storesql.h"

#include <QList>
#include <QString>

class BellStore;

struct Relay {
    static constexpr int kDefaultPreMs = 3000;
    static constexpr int kDefaultHoldMs = 60000;

    qint64 id = 0;
    QString name;         // 名称
    QString driver;       // 驱动: modbus-tcp, modbus-rtu, gpio, command
    QString address;      // 地址, as RelayAddress reads it
    int channel = 0;      // 通道: the coil or line, counting from 0
    QList<qint64> zones;  // 分区: ids; none powers 铃声输出 and 广播输出
    int preMs = kDefaultPreMs;   // 预开: on this long before the first sound
    int holdMs = kDefaultHoldMs; // 保持: off this long after the last sound
    int order = 0;        // 顺序: place in the power sequence (电源时序)
    bool operator==(const Relay &) const = default;
};

struct FireInput {
    qint64 id = 0;
    QString name;        // 名称
    QString driver;      // 驱动: modbus-tcp, modbus-rtu or gpio
    QString address;     // 地址
    int channel = 0;     // 通道: the discrete input or line
    QString music;       // 音乐: empty plays the alarm tone
    QList<qint64> zones; // 分区: ids; none sounds everywhere
    bool endOnOpen = true; // 断开结束: the contact opening ends the broadcast
    bool operator==(const FireInput &) const = default;
};

class RelayStore {
public:
    explicit RelayStore(BellStore &store) : m_store(store) {}

    // Limits of 预开 and 保持 (milliseconds).
    static constexpr int kMaxPreMs = 30000;
    static constexpr int kMaxHoldMs = 3600000;

    // Ordered by 顺序, then name. Empty when there is no table.
    QList<Relay> relays() const;
    // Throw StoreError with a message for the operator (an empty or used
    // name, an address its driver cannot read, a value out of range).
    qint64 addRelay(const Relay &relay);
    void updateRelay(const Relay &relay);
    void removeRelay(qint64 id);

    // Ordered by name. Empty when there is no table.
    QList<FireInput> fireInputs() const;
    qint64 addFireInput(const FireInput &input);
    void updateFireInput(const FireInput &input);
    void removeFireInput(qint64 id);

    // Makes both tables when missing.
    static void ensureTables(QSqlDatabase db);

private:
    void check(const Relay &relay) const;
    void check(const FireInput &input) const;
    BellStore &m_store;
};
