#pragma once
// Settings of the program, kept in the store's table shezhi (名称 → 值),
// created when missing. Every feature that keeps a choice keeps it here, each
// under its own name.
#include "bellstore.h"

class Settings {
public:
    explicit Settings(BellStore &store) : m_store(store) {}

    // The stored value, or dflt when there is none (or the store cannot be
    // read: a setting never stops the program).
    QString value(const QString &name, const QString &dflt = {}) const;
    bool flag(const QString &name, bool dflt) const;
    // Stores the value; throws StoreError when it cannot be kept.
    void setValue(const QString &name, const QString &value);
    void setFlag(const QString &name, bool on) { setValue(name, on ? QStringLiteral("1") : QStringLiteral("0")); }

    // 补打时限: how many seconds after its second a bell still rings. A
    // stored value that is no whole number within the bounds reads as the
    // default.
    static inline const QString kCatchUp = QStringLiteral("补打时限");
    int catchUpSeconds() const;
    // Throws AppError (with the message the operator sees) out of bounds.
    void setCatchUpSeconds(int seconds);

private:
    void ensureTable() const;
    BellStore &m_store;
};
