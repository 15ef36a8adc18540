#include "biff8writer.h"
#include "numberformats.h"
#include "pyhelper.h"
#include "sheetreader.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-utils.h>

namespace {

QList<QStringList> trimmed(QList<QStringList> rows)
{
    for (QStringList &r : rows)
        while (!r.isEmpty() && r.last().isEmpty())
            r.removeLast();
    while (!rows.isEmpty() && rows.last().isEmpty())
        rows.removeLast();
    return rows;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &b)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(b);
}

// A text of the most characters a cell holds, full of surrogate pairs
// (𠮷, an emoji) so that some fall where a record ends.
QString longestPairedText()
{
    QString s;
    while (s.size() + 5 <= 32767)
        s += QStringLiteral("长𠮷😀");
    return s + QString(32767 - s.size(), u'尾');
}

// A list that exercises the writer: Chinese text, blanks, quotes, repeated
// and unique strings, non-BMP characters, and texts long enough to be split
// across records.
QList<QStringList> sampleRows(int entries)
{
    QList<QStringList> rows{{"序", "时间", "名称", "音乐", "周期", "时长", "备注"}};
    for (int i = 1; i <= entries; ++i)
        rows.append({QString::number(i), QStringLiteral(" %1").arg(QTime(0, 0).addSecs(i * 7).toString("HH:mm:ss")),
                     QStringLiteral("第%1节 \"上课\"").arg(i), QStringLiteral("上课铃%1.mp3").arg(i % 5),
                     QStringLiteral("一二三四五"), i % 3 ? QString::number(i % 60) : QString(),
                     i == 2 ? QString(5000, QChar(u'长')) : i == 3 ? longestPairedText() : QStringLiteral("备注𠮷")});
    return rows;
}

// A compound file holding the given streams, as Office writes them.
QByteArray compoundFile(const QList<QPair<const char *, QByteArray>> &streams)
{
    gsf_init();
    GsfOutput *mem = gsf_output_memory_new();
    GsfOutfile *ole = gsf_outfile_msole_new(mem);
    for (const auto &[name, bytes] : streams) {
        GsfOutput *s = gsf_outfile_new_child(ole, name, FALSE);
        gsf_output_write(s, size_t(bytes.size()), reinterpret_cast<const guint8 *>(bytes.constData()));
        gsf_output_close(s);
        g_object_unref(s);
    }
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    const QByteArray file(reinterpret_cast<const char *>(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(mem))),
                          qsizetype(gsf_output_size(mem)));
    g_object_unref(mem);
    return file;
}

QByteArray biffRecord(quint16 type, const QByteArray &data)
{
    QByteArray r;
    r.append(char(type & 0xFF)).append(char(type >> 8));
    r.append(char(data.size() & 0xFF)).append(char(data.size() >> 8));
    return r + data;
}

} // namespace

class TstSheets : public QObject {
    Q_OBJECT
private slots:
    void writerRoundTripsThroughOurReader();
    void writerIsReadByXlrd();
    void writerBounds();
    void independentXls();
    void independentXlsx();
    void independentOds();
    void csvInUtf8AndGb18030();
    void csvQuirks();
    void readerChosenByContent();
    void timeValuesRoundToTheSecond_data();
    void timeValuesRoundToTheSecond();
    void xlsCellRecords_data();
    void xlsCellRecords();
    void encryptedWorkbooksSaySo();
    void binaryWorkbooksSaySo_data();
    void binaryWorkbooksSaySo();
    void refusesBadInput_data();
    void refusesBadInput();
    void refusesZipBombAndLongSheets();
    void ssconvertReadsOurFile();
    void hostileXlsFilesAreRefused();
    void libreOfficeReadsOurFile();


private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TstSheets::writerRoundTripsThroughOurReader()
{
    for (int entries : {0, 3, 3000}) {
        const QList<QStringList> rows = sampleRows(entries);
        const QString file = path(QStringLiteral("rt%1.xls").arg(entries));
        writeBiff8File(file, QStringLiteral("广播铃声列表"), rows);
        const QByteArray bytes = fileBytes(file);
        QVERIFY(bytes.startsWith("\xD0\xCF\x11\xE0"));
        QCOMPARE(trimmed(readSheetFile(file).rows), trimmed(rows));
        QCOMPARE(trimmed(XlsReader().read(bytes).rows), trimmed(rows));
    }
}

void TstSheets::writerIsReadByXlrd()
{
    const QList<QStringList> rows = sampleRows(2000);
    const QString file = path(QStringLiteral("xlrd.xls"));
    writeBiff8File(file, QStringLiteral("广播铃声列表"), rows);
    QByteArray out;
    QString why;
    if (!runSheetsPy({QStringLiteral("dump"), file}, &out, &why))
        QSKIP(qPrintable(QStringLiteral("xlrd unavailable: ") + why));
    const QJsonObject o = QJsonDocument::fromJson(out).object();
    QCOMPARE(o.value("sheet").toString(), QStringLiteral("广播铃声列表"));
    QCOMPARE(o.value("sheets").toInt(), 1);
    QList<QStringList> got;
    for (const auto &r : o.value("rows").toArray()) {
        QStringList row;
        for (const auto &c : r.toArray())
            row << c.toString();
        got << row;
    }
    QCOMPARE(trimmed(got), trimmed(rows));
    // Every cell: vertically centred (1) and stored as text ("@").
    QCOMPARE(o.value("valign").toArray(), QJsonArray{1});
    QCOMPARE(o.value("formats").toArray(), QJsonArray{"@"});
}

void TstSheets::writerBounds()
{
    QList<QStringList> tooMany(Biff8::kMaxRows + 1, QStringList{"x"});
    QVERIFY_THROWS_EXCEPTION(AppError, biff8Workbook("s", tooMany));
    // Long texts go over CONTINUE records; past the 16-bit character count
    // a text is cut, never refused.
    const QList<QStringList> longest{{QString(Biff8::kMaxTextLength, u'字'), "后"}};
    QCOMPARE(XlsReader().read(biff8Workbook("s", longest)).rows, longest);
    const QList<QStringList> tooLong{{QString(Biff8::kMaxTextLength + 10, u'x')}};
    QCOMPARE(XlsReader().read(biff8Workbook("s", tooLong)).cell(0, 0).size(), Biff8::kMaxTextLength);
}

void TstSheets::independentXls()
{
    const QString file = path(QStringLiteral("xlwt.bin"));
    MAKE_SHEET(QStringLiteral("xls"), file);
    const QList<QStringList> expected{
        {"序", "时间", "名称", "音乐", "周期", "备注"},
        {"1", "07:30:00", "起床铃", "起床.mp3", "一二三四五", "2.5"},
        {"2", "2024/3/5 13:45:10", "午饭", "lunch.wav", "日六"},
        {"x", "2024/3/5", "", "c.mp3"},
    };
    QCOMPARE(trimmed(readSheetFile(file).rows), expected);
}

void TstSheets::independentXlsx()
{
    const QString file = path(QStringLiteral("openpyxl.bin"));
    MAKE_SHEET(QStringLiteral("xlsx"), file);
    const QList<QStringList> expected{
        {"序", "时间", "名称", "音乐", "周期", "备注"},
        {"1", "07:30:00", "起床铃", "起床.mp3", "一二三四五", "2.5"},
        {"2", "2024/3/5 13:45:10", "午饭", "lunch.wav", "日六"},
        {"x", "2024/3/5", "", "c.mp3", "", "12345678"},
        {"3", "", "公式", "c.mp3"}, // a formula without a stored result is empty
    };
    QCOMPARE(trimmed(readSheetFile(file).rows), expected);
}

void TstSheets::independentOds()
{
    const QString file = path(QStringLiteral("hand.ods"));
    MAKE_SHEET(QStringLiteral("ods"), file);
    // One row per kind of cell: numbers and dates, a duration past a day,
    // repeated and covered cells, the text elements, a formula's text.
    const QList<QStringList> expected{
        {"序", "时间", "名称"},
        {"1", "2024/3/5 7:30:00", "起床铃"},
        {"0.25", "12:05:00", "True", "12.5", "2024/3/5"},
        {"同", "同", "", "", "a   b\tc\nd\n第二段", "公式结果"},
        {"同", "同", "", "", "a   b\tc\nd\n第二段", "公式结果"},
    };
    QCOMPARE(trimmed(readSheetFile(file).rows), expected);
}

void TstSheets::csvInUtf8AndGb18030()
{
    const QList<QStringList> expected{
        {"序", "时间", "名称", "音乐", "周期", "备注"},
        {"1", "07:30:00", "起床铃", "起床.mp3", "一二三四五", "早上"},
        {"2", " 12:00", "午饭", "lunch.wav", "日一二三四五六"},
        {"3", "08:00", "名称,带\"引号\"", "c.mp3", "", "两行\n备注"},
    };
    for (const char *kind : {"csv-utf8", "csv-gb18030"}) {
        const QString file = path(QString::fromLatin1(kind));
        MAKE_SHEET(QString::fromLatin1(kind), file);
        QCOMPARE(trimmed(readSheetFile(file).rows), expected);
    }
}

void TstSheets::csvQuirks()
{
    // BOM, CR-only line ends, a last line without an end, tabs.
    QCOMPARE(CsvReader().read("\xEF\xBB\xBF" "a,b\rc,\"d\"").rows,
             (QList<QStringList>{{"a", "b"}, {"c", "d"}}));
    QCOMPARE(CsvReader().read("a\tb\n1\t2\n").rows, (QList<QStringList>{{"a", "b"}, {"1", "2"}}));
    // An unterminated quote keeps the rest as the cell.
    QCOMPARE(CsvReader().read("a,\"b\nc").rows, (QList<QStringList>{{"a", "b\nc"}}));
}

void TstSheets::readerChosenByContent()
{
    // Our .xls saved under a .csv name, and a CSV under an .xls name.
    const QString xlsAsCsv = path(QStringLiteral("really-xls.csv"));
    writeBytes(xlsAsCsv, biff8Workbook("s", {{"序", "时间"}}));
    QCOMPARE(readSheetFile(xlsAsCsv).rows, (QList<QStringList>{{"序", "时间"}}));
    const QString csvAsXls = path(QStringLiteral("really-csv.xls"));
    writeBytes(csvAsXls, "序,时间\n");
    QCOMPARE(readSheetFile(csvAsXls).rows, (QList<QStringList>{{"序", "时间"}}));
}

void TstSheets::timeValuesRoundToTheSecond_data()
{
    // Serials as .xls and .xlsx store them: nearest second, never past the
    // day's last second (a value just short of midnight is no midnight bell).
    QTest::addColumn<double>("serial");
    QTest::addColumn<QString>("text");
    const double s = 1.0 / 86400;
    QTest::newRow("23:59:59.6") << 86399.6 * s << "23:59:59";
    QTest::newRow("23:59:59.4") << 86399.4 * s << "23:59:59";
    QTest::newRow("just short of the next day") << (1 - 1e-12) << "23:59:59";
    QTest::newRow("07:29:59.6 rounds up") << 26999.6 * s << "07:30:00";
    QTest::newRow("dated, end of day") << (45356 + 86399.7 * s) << "2024/3/5 23:59:59";
    QTest::newRow("0.4 s") << 0.4 * s << "00:00:00";
}

void TstSheets::timeValuesRoundToTheSecond()
{
    QFETCH(double, serial);
    QFETCH(QString, text);
    QCOMPARE(dateSerialText(serial, QDate(1899, 12, 30)), text);
}

void TstSheets::xlsCellRecords_data()
{
    QTest::addColumn<bool>("biff8");
    QTest::newRow("BIFF8") << true;
    QTest::newRow("BIFF5, GBK bytes") << false;
}

void TstSheets::xlsCellRecords()
{
    // Every kind of cell record, as Excel writes them (BIFF5 strings are
    // bytes in the workbook's code page).
    QFETCH(bool, biff8);
    auto le = [](std::initializer_list<quint32> v, int width) {
        QByteArray b;
        for (quint32 x : v)
            for (int i = 0; i < width; ++i)
                b.append(char((x >> (8 * i)) & 0xFF));
        return b;
    };
    auto gbk = [&](const QString &t) {
        const QByteArray b = QStringEncoder("GB18030").encode(t);
        return le({quint32(b.size())}, 2) + b;
    };
    auto text = [&](const QString &t) {
        return biff8 ? le({quint32(t.size())}, 2) + '\x01'
                           + QByteArray(reinterpret_cast<const char *>(t.utf16()), t.size() * 2)
                     : gbk(t);
    };
    auto cell = [&](int r, int c, int xf) { return le({quint32(r), quint32(c), quint32(xf)}, 2); };
    const QByteArray bof = le({biff8 ? 0x0600u : 0x0500u, 0x0005}, 2) + QByteArray(biff8 ? 12 : 4, '\0');
    QByteArray xfs;
    for (int i = 0; i < 17; ++i) // XF 15: a custom date format, XF 16: a time
        xfs += biffRecord(0x00E0, le({0, i == 15 ? 200u : i == 16 ? 21u : 0u}, 2) + QByteArray(biff8 ? 16 : 12, '\0'));
    const QByteArray format = biffRecord(0x041E, le({200}, 2) + (biff8 ? text("yyyy/m/d") : QByteArray("\x08yyyy/m/d")));
    QByteArray globals = biffRecord(0x0809, bof) + biffRecord(0x0042, le({biff8 ? 1200u : 936u}, 2)) + format + xfs;
    const QByteArray name = biff8 ? QByteArray("\x01\x00s", 3) : QByteArray("\x01s");
    const quint32 sheetAt = quint32(globals.size() + 4 + 6 + name.size() + 4);
    globals += biffRecord(0x0085, le({sheetAt}, 4) + le({0, 0}, 1) + name) + biffRecord(0x000A, {});
    QByteArray sheet = biffRecord(0x0809, le({biff8 ? 0x0600u : 0x0500u, 0x0010}, 2) + QByteArray(biff8 ? 12 : 4, '\0'));
    sheet += biffRecord(0x0204, cell(0, 0, 0) + text("上课"));                       // LABEL
    sheet += biffRecord(0x027E, cell(0, 1, 0) + le({(42u << 2) | 2u}, 4));            // RK integer
    sheet += biffRecord(0x027E, cell(0, 2, 0) + le({(1234u << 2) | 3u}, 4));          // RK integer / 100
    sheet += biffRecord(0x00BD, cell(1, 0, 0).left(4) + le({0}, 2) + le({(7u << 2) | 2u}, 4) + le({16}, 2)
                                    + le({0x3FD40000u}, 4) + le({1}, 2)); // MULRK: 7, then 0.3125 as a time
    QByteArray number = cell(2, 0, 15);
    const double serial = 45356.0;
    number.append(reinterpret_cast<const char *>(&serial), 8);
    sheet += biffRecord(0x0203, number);                                                // NUMBER, a date
    sheet += biffRecord(0x0205, cell(2, 1, 0) + QByteArray("\x01\x00", 2));           // BOOLERR true
    sheet += biffRecord(0x0205, cell(2, 2, 0) + QByteArray("\x07\x01", 2));           // BOOLERR #DIV/0!
    auto formula = [&](int r, int c, const QByteArray &result) {
        return biffRecord(0x0006, cell(r, c, 0) + result + QByteArray(8, '\0'));
    };
    sheet += formula(3, 0, QByteArray::fromHex("000000000000ffff")) + biffRecord(0x0207, text("公式"));
    sheet += formula(3, 1, QByteArray::fromHex("0000000000001440")); // 5
    sheet += formula(3, 2, QByteArray::fromHex("010001000000ffff")); // TRUE
    sheet += formula(3, 3, QByteArray::fromHex("02002a000000ffff")); // #N/A
    sheet += biffRecord(0x000A, {});
    const QByteArray file = compoundFile({{biff8 ? "Workbook" : "Book", globals + sheet + QByteArray(4096, '\0')}});
    const QList<QStringList> expected{{"上课", "42", "12.34"}, {"7", "07:30:00"}, {"2024/3/5", "True"},
                                      {"公式", "5", "True"}};
    QCOMPARE(readSheet(file).rows, expected);
}

void TstSheets::encryptedWorkbooksSaySo()
{
    // .xls with FILEPASS (RC4), an encrypted OOXML package, an .ods whose
    // manifest names the encryption.
    const QByteArray filePass = biffRecord(0x0809, QByteArray::fromHex("0006050000000000000000000000"))
                                + biffRecord(0x002F, QByteArray::fromHex("0100010001") + QByteArray(48, 'k'))
                                + biffRecord(0x000A, {});
    const QList<QByteArray> files{
        compoundFile({{"Workbook", filePass + QByteArray(4096, '\0')}}),
        compoundFile({{"EncryptionInfo", QByteArray(200, 'i')}, {"EncryptedPackage", QByteArray(5000, 'e')}}),
        fileBytes(QString::fromLocal8Bit(qgetenv("DALING_TEST_DATA")) + "/encrypted.ods"),
    };
    for (const QByteArray &bytes : files) {
        QVERIFY(!bytes.isEmpty());
        try {
            readSheet(bytes);
            QFAIL("accepted");
        } catch (const SheetError &e) {
            QCOMPARE(e.text(), QStringLiteral("表格文件设置了密码，请先在表格程序中取消密码后再导入。"));
        }
    }
}

void TstSheets::binaryWorkbooksSaySo_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("fileName");
    QTest::newRow(".xlsb") << QStringLiteral("xlsb") << QStringLiteral("t.xlsb");
    // Known by its content, not by its name.
    QTest::newRow(".xlsb named .xlsx") << QStringLiteral("xlsb") << QStringLiteral("t.xlsx");
    QTest::newRow("binary workbook part of another name")
        << QStringLiteral("xlsb-renamed") << QStringLiteral("t.zip");
}

void TstSheets::binaryWorkbooksSaySo()
{
    QFETCH(QString, kind);
    QFETCH(QString, fileName);
    const QString file = path(fileName);
    MAKE_SHEET(kind, file);
    try {
        readSheetFile(file);
        QFAIL("accepted");
    } catch (const SheetError &e) {
        QCOMPARE(e.text(), QStringLiteral("不支持 Excel 二进制工作簿（.xlsb）。请在 Excel 或 WPS 中“另存为” .xlsx 或 .xls 后再导入。"));
    }
}

void TstSheets::refusesBadInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QByteArray xls = biff8Workbook("s", sampleRows(300));
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("文件是空的，没有可导入的内容");
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << SheetTexts::notASheet();
    QTest::newRow("truncated xls") << xls.left(xls.size() / 2) << SheetTexts::damaged();
    QTest::newRow("cfb header only") << xls.left(512) << SheetTexts::damaged();
    QTest::newRow("zip signature only") << QByteArray("PK\x03\x04garbage") << SheetTexts::damaged();
    QTest::newRow("invalid text") << QByteArray("\xff\xfe\xfd,\x80\x80\n") << SheetTexts::notASheet();
    QTest::newRow("Excel 4.0 workbook") << QByteArray("\x09\x04\x06\x00\x00\x04\x00\x01\x00\x00", 10)
                                        << SheetTexts::tooOld();
    QTest::newRow("UTF-16 with NUL") << QByteArray("\xff\xfe" "a\0\0\0", 6) << SheetTexts::notASheet();
}

void TstSheets::refusesBadInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    try {
        readSheet(bytes);
        QFAIL("accepted");
    } catch (const SheetError &e) {
        QCOMPARE(e.text(), message);
    }
}

void TstSheets::refusesZipBombAndLongSheets()
{
    const QString xlsx = path(QStringLiteral("t.xlsx"));
    MAKE_SHEET(QStringLiteral("xlsx"), xlsx);
    const QByteArray whole = fileBytes(xlsx);
    QVERIFY_THROWS_EXCEPTION(SheetError, readSheet(whole.left(whole.size() - 40)));
    QVERIFY_THROWS_EXCEPTION(SheetError, readSheet(whole.left(whole.size() / 2)));

    auto expectError = [](const QByteArray &bytes, const QString &text) {
        try {
            readSheet(bytes);
            return QStringLiteral("accepted");
        } catch (const SheetError &e) {
            return e.text() == text ? QString() : e.text();
        }
    };
    const QString bomb = path(QStringLiteral("bomb.xlsx"));
    MAKE_SHEET(QStringLiteral("bomb"), bomb);
    QCOMPARE(expectError(fileBytes(bomb), SheetTexts::tooLarge()), QString());
    for (const QString &kind : {QStringLiteral("laughs-xlsx"), QStringLiteral("laughs-ods")}) {
        const QString laughs = path(kind);
        MAKE_SHEET(kind, laughs);
        QCOMPARE(expectError(fileBytes(laughs), SheetTexts::damaged()), QString());
    }

    const QString big = path(QStringLiteral("big.xlsx"));
    MAKE_SHEET(QStringLiteral("xlsx-big"), big);
    QCOMPARE(expectError(fileBytes(big), SheetTexts::tooManyRows()), QString());

    QByteArray csv;
    for (int i = 0; i < SheetLimits::kMaxRows; ++i)
        csv += "1\n";
    QCOMPARE(CsvReader().read(csv).rowCount(), SheetLimits::kMaxRows); // exactly the bound
    QCOMPARE(expectError(csv + "1\n", SheetTexts::tooManyRows()), QString());
}

void TstSheets::ssconvertReadsOurFile()
{
    const QString ssconvert = QStandardPaths::findExecutable(QStringLiteral("ssconvert"));
    if (ssconvert.isEmpty())
        QSKIP("ssconvert (gnumeric) is not installed");
    const QString file = path(QStringLiteral("gnumeric.xls"));
    const QList<QStringList> rows = sampleRows(20);
    writeBiff8File(file, QStringLiteral("广播铃声列表"), rows);
    const QString csv = path(QStringLiteral("gnumeric.csv"));
    QProcess p;
    p.start(ssconvert, {file, csv});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(!p.readAllStandardError().contains("rror"), "ssconvert complained");
    QCOMPARE(trimmed(readSheetFile(csv).rows), trimmed(rows));
}

void TstSheets::libreOfficeReadsOurFile()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("LibreOffice is not installed");
    const QString file = path(QStringLiteral("lo.xls"));
    const QList<QStringList> rows = sampleRows(20);
    writeBiff8File(file, QStringLiteral("广播铃声列表"), rows);
    QProcess p;
    // A profile of its own, and a csv filter that keeps Chinese text (UTF-8).
    p.start(soffice, {"-env:UserInstallation=file://" + path("lo-profile"), "--headless",
                      "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1",
                      "--outdir", path("lo-out"), file});
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(trimmed(readSheetFile(path("lo-out/lo.csv")).rows), trimmed(rows));
}

void TstSheets::hostileXlsFilesAreRefused()
{
    // Files that crashed the xls library used before (found by its fuzzer):
    // each gives cells or a clear error, in this process.
    for (const char *name : {"freexl-fault.xls", "freexl-segv.xls", "freexl-overflow.xls", "freexl-oom.xls"}) {
        const QString p = QString::fromLocal8Bit(qgetenv("DALING_TEST_DATA")) + "/" + name;
        QVERIFY(QFile::exists(p));
        try {
            (void)readSheetFile(p);
        } catch (const SheetError &e) {
            QVERIFY(!e.text().isEmpty());
        }
    }
    QVERIFY_THROWS_EXCEPTION(SheetError, readSheet(QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(600, '\xff')));
}

QTEST_GUILESS_MAIN(TstSheets)
#include "tst_sheets.moc"
