#pragma once
// Which entry of which second: stays the same across reloads of the list,
// so that a bell is found again wherever a reload put it; its ring record
// carries it too.
#include <QHashFunctions>
#include <QtGlobal>

struct BellKey {
    qint64 id = 0;
    qint64 seconds = 0;
    bool operator==(const BellKey &) const = default;
};
inline size_t qHash(const BellKey &k, size_t seed = 0) { return qHashMulti(seed, k.id, k.seconds); }
