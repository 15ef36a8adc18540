#include "settings.h"
#include "logging.h"
#include "ringengine.h"

#include <QVariant>

void Settings::ensureTable() const
{
    QSqlQuery q(m_store.database());
    if (!q.exec(QStringLiteral("create table if not exists shezhi (名称 text primary key, 值 text)")))
        storesql::fail(q);
}

QString Settings::value(const QString &name, const QString &dflt) const
{
    try {
        QSqlQuery q = storesql::prepared(m_store.database(),
                                         QStringLiteral("select 值 from shezhi where 名称 = :n"));
        q.bindValue(QStringLiteral(":n"), name);
        if (!q.exec())
            return dflt; // no table yet (an older file), or a store we may only read
        return q.next() ? q.value(0).toString() : dflt;
    } catch (const StoreError &e) {
        // An older file has no table yet: usual, so a debug line only.
        qCDebug(lcStore) << "setting" << name << "not read, the default holds:" << e.text();
        return dflt;
    }
}

bool Settings::flag(const QString &name, bool dflt) const
{
    const QString v = value(name);
    return v.isEmpty() ? dflt : v != u"0";
}

void Settings::setValue(const QString &name, const QString &value)
{
    ensureTable();
    QSqlQuery q = storesql::prepared(
        m_store.database(), QStringLiteral("insert or replace into shezhi (名称, 值) values (:n, :v)"));
    q.bindValue(QStringLiteral(":n"), name);
    q.bindValue(QStringLiteral(":v"), value);
    storesql::exec(q);
}

int Settings::catchUpSeconds() const
{
    bool ok = false;
    const int n = value(kCatchUp).trimmed().toInt(&ok);
    return ok && n >= 0 && n <= RingEngine::kMaxCatchUpSeconds ? n : RingEngine::kDefaultCatchUpSeconds;
}

void Settings::setCatchUpSeconds(int seconds)
{
    if (seconds < 0 || seconds > RingEngine::kMaxCatchUpSeconds)
        throw AppError(QStringLiteral("补打时限应为 0 到 %1 秒之间的整数").arg(RingEngine::kMaxCatchUpSeconds));
    setValue(kCatchUp, QString::number(seconds));
}
