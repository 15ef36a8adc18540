#pragma once
// Reading BIFF records: the record walk over the workbook stream, and the
// pieces of a record continued in CONTINUE records, where a string may go
// on after a repeated option byte. Every read is checked against the bytes
// that are there; nothing here trusts a length from the file.
#include <QString>
#include <optional>

struct SheetData;
#include <vector>

namespace Biff {

quint16 u16(const char *p);
quint32 u32(const char *p);
double f64(const char *p);
// An RK number: a 30-bit integer or the high bits of a double, maybe /100.
double rkValue(quint32 rk);

constexpr quint16 kContinue = 0x003C;

struct Record {
    quint16 type = 0;
    const char *data = nullptr;
    int size = 0;
};

// Walks the records of the stream from an offset.
class Records {
public:
    Records(const QByteArray &s, qint64 from) : m_s(s), m_pos(from) {}
    // False at the end of the stream; throws SheetError for a record cut short.
    bool next(Record *r);
    // The next record's type, without taking it; 0 at the end.
    quint16 peekType() const;

private:
    const QByteArray &m_s;
    qint64 m_pos;
};

// The data of a record and of the CONTINUE records after it.
class Pieces {
public:
    void add(const char *d, int n) { m_parts.push_back({d, n}); }
    bool atEnd() { return !skipEmpty(); }
    // Fixed-size fields never cross a boundary in files Excel writes, but a
    // hostile file may try: such bytes are read across it.
    bool bytes(char *out, int n);
    std::optional<quint16> u16v();
    std::optional<quint32> u32v();
    bool skip(qint64 n);
    // A BIFF8 unicode string: count (16 bits, or 8 with 'byteCount'),
    // option byte, characters (continued after a fresh option byte), rich
    // runs and phonetic data skipped.
    std::optional<QString> unicode(bool byteCount = false);

private:
    struct Part {
        const char *d;
        int n;
    };
    bool skipEmpty();
    std::vector<Part> m_parts;
    size_t m_part = 0;
    int m_off = 0;
};

// A record together with the CONTINUE records that follow it.
Pieces withContinues(const Record &first, Records &recs);

// Whether the bytes start with a BIFF BOF record of any version (a bare
// stream, not inside a compound file).
bool isBareBiff(const QByteArray &bytes);

// The workbook stream of an .xls's compound file ("Workbook" for BIFF8,
// "Book" for BIFF5, in any letter case); throws SheetError.
QByteArray workbookStream(const QByteArray &file);

// An Excel 2.x, 3.0 or 4.0 worksheet (BIFF2-4): the cells of its one sheet.
SheetData readOldBiffSheet(const QByteArray &stream);

} // namespace Biff
