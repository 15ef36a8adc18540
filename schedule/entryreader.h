#pragma once
// Reads the bell list straight through SQLite's own interface, on the
// connection Qt SQL holds. Written by hand because Qt SQL turns every value
// into a variant first, which made a reload of 10,000 entries cost 17–28 ms
// of reading alone; this reads them in a fraction of that.
#include "bellstore.h"

#include <QSqlDatabase>
#include <optional>

// The entries whose 周期 is like the pattern, ordered by 时间, with a time
// that is no whole second of the day read as BellEntry::kInvalidTime.
// std::nullopt when the connection is not SQLite's or the statement fails:
// the caller then reads through Qt SQL, which reports the failure.
std::optional<QList<BellEntry>> readEntriesDirect(const QSqlDatabase &db, const QString &pattern);
