#pragma once
// What the readers of an audio file's facts share (audiofilefacts.cpp for
// wav, flac, ogg and the choice among them, mp3facts.cpp for mp3): the
// file's bytes, bounds-checked reads, and how a cut-short file is judged
// and told to the operator.
#include "audiofilefacts.h"

#include <QFile>
#include <cstring>

namespace AudioFileFacts::detail {

// A read-only view of the whole file (memory-mapped: only the pages touched
// are read).
class Bytes {
public:
    explicit Bytes(const QString &path) : m_file(path)
    {
        if (!m_file.open(QIODevice::ReadOnly))
            return;
        m_size = m_file.size();
        if (m_size > 0)
            m_data = m_file.map(0, m_size);
        if (!m_data)
            m_size = 0;
    }
    const uchar *data() const { return m_data; }
    qint64 size() const { return m_size; }
    bool has(qint64 pos, qint64 n) const { return pos >= 0 && n >= 0 && pos + n <= m_size; }
    const uchar *at(qint64 pos) const { return m_data + pos; }
    bool matches(qint64 pos, const char *magic) const
    {
        const qint64 n = qint64(std::strlen(magic));
        return has(pos, n) && std::memcmp(m_data + pos, magic, size_t(n)) == 0;
    }

private:
    QFile m_file;
    uchar *m_data = nullptr;
    qint64 m_size = 0;
};

inline quint32 be32(const uchar *p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }
inline quint32 le32(const uchar *p) { return quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0]; }

QString truncationText(double announced, double holds);

// A file counts as cut short only when a noticeable part is missing: more
// than 1 % of what was announced and more than 100 ms. Files whose last
// frame is slightly damaged still play.
bool clearlyShort(double announcedSec, double holdsSec);

// Size of the ID3v2 tags at the start (there may be several), 0 if none.
qint64 skipId3v2(const Bytes &b);

// The mp3 reader (mp3facts.cpp).
void inspectMp3(const Bytes &b, Facts &f);

} // namespace AudioFileFacts::detail
