#pragma once
// The parts of a zip package (.xlsx, .ods), read with hard bounds: the
// central directory is checked and every part inflated once, counting, so
// that a zip bomb or a truncated archive is refused before any parser runs.
// The parts inflated by that check are kept for part(): inflating the
// sheet a second time cost a tenth of reading it.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <string_view>

class ZipPackage {
public:
    // Reads the central directory; throws SheetError for a broken archive.
    explicit ZipPackage(const QByteArray &bytes);
    // Inflates every part once (keeping them) and throws SheetError when all
    // of them together exceed the bound or one of them is broken.
    void checkBounds();
    // Part names are matched without regard to case, as OPC asks.
    bool contains(const QString &name) const { return find(name) != nullptr; }
    // The inflated part; an empty array when there is no such part.
    QByteArray part(const QString &name) const;

private:
    struct Entry {
        int method = 0;
        qint64 data = 0;
        qint64 packed = 0;
        qint64 unpacked = 0;
    };
    const Entry *find(const QString &name) const;

    const QByteArray &m_bytes;
    QHash<QString, Entry> m_entries;
    QHash<QString, QString> m_folded; // case-folded name → stored name
    QHash<const Entry *, QByteArray> m_inflated; // by checkBounds()
};

struct SheetData;
// The first worksheet of an .xlsx, of an .ods.
SheetData readXlsxSheet(const ZipPackage &zip);
SheetData readOdsSheet(const ZipPackage &zip);
// An .ods saved with a password (its manifest names the encryption).
bool isEncryptedOds(const ZipPackage &zip);
