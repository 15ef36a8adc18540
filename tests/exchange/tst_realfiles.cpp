// The import of files made by other programs (tests/exchange/data), the
// command-line check, and the round trip through LibreOffice.
#include "importfixture.h"
#include "sheetcheck.h"
#include "sheetexport.h"
#include "weekdayset.h"

#include <QStandardPaths>
#include <QTemporaryDir>

class TstRealFiles : public QObject, protected ImportFixture {
    Q_OBJECT
private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void realFilesReadAsSpreadsheetProgramsDo_data();
    void realFilesReadAsSpreadsheetProgramsDo();
    void textFileThatIsNoTextSaysSo();
    void realFilesImportTheirEntries_data();
    void realFilesImportTheirEntries();
    void realFilesRefusedWithTheirReason_data();
    void realFilesRefusedWithTheirReason();
    void checkSheetFromTheCommandLine();
    void exportThroughLibreOfficeAndBack();
};

void TstRealFiles::realFilesImportTheirEntries_data()
{
    // Workbooks saved by other programs (tests/exchange/data/make-corpus.sh):
    // formula columns, time cells, a merged 周期 cell, text formulas, rich
    // and inline strings, booleans, the 1904 calendar, a long text.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<BellEntry>>("expected");
    QTest::addColumn<QString>("summary"); // empty: the count alone
    const QList<BellEntry> lo{entry(27000, "起床", "起床.mp3", "一二三四五", "", "早操"),
                              entry(29100, "上课", "上课.mp3", "", "", "第一节"),
                              entry(45000, "午饭", "午饭.mp3", "日一二三四五六", "", "饭前  洗手慢走"),
                              entry(86399, "晚安", "晚安.mp3", "日六", "", "晚安")};
    for (const char *ext : {"xls", "xlsx", "ods"})
        QTest::newRow(ext) << QStringLiteral("bells-lo.%1").arg(ext) << lo << QString();
    QTest::newRow("openpyxl") << "bells-openpyxl.xlsx"
                              << QList<BellEntry>{entry(24600, "早读", "起床.mp3", "一二三四五", "", "备注"),
                                                  entry(28800, "上课", "上课.mp3", "一二三四五", "", ""),
                                                  entry(45000, "午饭", "午饭.mp3", "日六", "", "5"),
                                                  entry(86399, "晚安", "晚安.mp3", "日", "", "")}
                              << "将导入 4 条铃声。第6行的序号为空，导入到此为止；第7行还有内容，不会导入。";
    QTest::newRow("xlwt") << "bells-xlwt.xls"
                          << QList<BellEntry>{entry(25200, "起床", "起床.mp3", "一二三四五", "", QString(9000, u'长')),
                                              entry(29100, "上课", "上课.mp3", "一二三四五", "", "第一节"),
                                              entry(45000, "午饭", "午饭.mp3", "日六", "", "True")}
                          << QString();
    QTest::newRow("hand xlsx") << "hand-bells.xlsx"
                               << QList<BellEntry>{entry(29100, "上课", "上课.mp3", "一二三四五", "", "True"),
                                                   entry(43200, "午饭", "午饭.mp3", "", "", "False"),
                                                   entry(86399, "晚安", "晚安.mp3", "", "", "")}
                               << QString();
    // A school's timetable: a merged title above headers of its own
    // wording and order, a blank row between morning and afternoon, and
    // times and weekdays as people type them.
    const QList<BellEntry> school{entry(23400, "起床", "起床.mp3", "一二三四五", "30", "早操前"),
                                  entry(25800, "早读", "上课.mp3", "一二三四五"),
                                  entry(28800, "上课", "上课.mp3", "一二三四五", "45", "第一节"),
                                  entry(31500, "课间", "午饭.mp3", "一三五")};
    const QString below = QStringLiteral("将导入 4 条铃声。第8行的序号为空，导入到此为止；第9–11行还有内容，不会导入。");
    for (const char *file : {"timetable-openpyxl.xlsx", "timetable-lo.xls", "timetable-lo.ods",
                             "timetable-lo-utf16.txt", "timetable-lo-utf16.csv"})
        QTest::newRow(file) << file << school << below;
    // Excel 2.x-4.0 worksheets, a workbook stream named in capitals, a
    // part name in other letter case.
    const QList<BellEntry> old{entry(27000, "起床", "起床.mp3", "一二三四五"), entry(43200, "午饭", "午饭.mp3", "日六")};
    for (const char *file : {"biff2-excel2.xls", "biff3-excel3.xls", "biff4-excel4.xls"})
        QTest::newRow(file) << file << old << QString();
    QTest::newRow("WORKBOOK") << "upper-stream.xls" << lo << QString();
    QTest::newRow("SharedStrings.xml") << "casefold-xlsxwriter.xlsx"
                                       << QList<BellEntry>{entry(25800, "上课", "上课.mp3", "一二三四五")} << QString();
}

void TstRealFiles::realFilesImportTheirEntries()
{
    QFETCH(QString, file);
    QFETCH(QList<BellEntry>, expected);
    for (const char *music : {"起床.mp3", "上课.mp3", "午饭.mp3", "晚安.mp3"})
        m_home->touchMusic(QString::fromUtf8(music));
    m_dialogs.openAnswers = {dataFile(file)};
    makeImport().run();
    QFETCH(QString, summary);
    BellSheetPlan plan;
    plan.entries = expected;
    QCOMPARE(m_messages.texts(), (QStringList{(summary.isEmpty() ? plan.summary() : summary)
                                                  + "原来数据会被清除，你确定导入铃声广播列表吗？",
                                              plan.doneText()}));
    QCOMPARE(withoutIds(m_store->list("%")), expected);
}

void TstRealFiles::realFilesRefusedWithTheirReason_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    QTest::newRow("weekday text") << "refuse-weekday.xlsx"
                                  << "第3行的【周期】“隔周一”看不懂，请写成“一二三四五”这样的星期几。";
    QTest::newRow("empty music") << "refuse-music.xlsx" << BellSheetReader::emptyMusicMessage(3);
    QTest::newRow("tab in a time") << "refuse-time.xlsx" << BellSheetReader::badTimeMessage(3, "7:30\t分");
    QTest::newRow("XlsxWriter's placeholder results") << "formula-xlsxwriter.xlsx"
                                                      << BellSheetReader::uncalculatedMessage(2, "序号");
    QTest::newRow("openpyxl's formulas") << "formula-openpyxl.xlsx" << BellSheetReader::uncalculatedMessage(3, "时间");
}

void TstRealFiles::realFilesRefusedWithTheirReason()
{
    QFETCH(QString, file);
    QFETCH(QString, message);
    for (const char *music : {"起床.mp3", "上课.mp3"})
        m_home->touchMusic(QString::fromUtf8(music));
    m_dialogs.openAnswers = {dataFile(file)};
    makeImport().run();
    QCOMPARE(m_messages.texts(), QStringList{message});
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(m_old));
    QVERIFY(message.contains(u'第') || message.startsWith(u'3')); // names its row
}

void TstRealFiles::checkSheetFromTheCommandLine()
{
    const QString data = qEnvironmentVariable("DALING_TEST_DATA") + "/";
    const QString music = m_paths->musicFolder();
    auto check = [&](const QStringList &args, QString *out = nullptr, QString *err = nullptr) {
        QString o, e;
        QTextStream os(&o), es(&e);
        const int code = SheetCheck::run(args, music, os, es);
        os.flush();
        es.flush();
        if (out)
            *out = o;
        if (err)
            *err = e;
        return code;
    };
    QString out, err;
    // The music folder of the program: 上课.mp3 is there, 起床.mp3 is not.
    m_home->touchMusic("上课.mp3");
    QCOMPARE(check({"--check-sheet", data + "biff3-excel3.xls"}, &out), 1);
    QCOMPARE(out, makeImport().sheetReader().missingFileMessage("起床.mp3").replace(u'\r', u'\n') + "\n");
    QCOMPARE(check({"--no-music-check", "--check-sheet", data + "timetable-lo.xls"}, &out), 0);
    QCOMPARE(out, QStringLiteral("06:30:00\t起床\t起床.mp3\t一二三四五\t30\t早操前\n"
                                 "07:10:00\t早读\t上课.mp3\t一二三四五\t\t\n"
                                 "08:00:00\t上课\t上课.mp3\t一二三四五\t45\t第一节\n"
                                 "08:45:00\t课间\t午饭.mp3\t一三五\t\t\n"
                                 "将导入 4 条铃声。第8行的序号为空，导入到此为止；第9–11行还有内容，不会导入。\n"));
    // Another music folder; texts with tabs and line breaks stay one line.
    QTemporaryDir other;
    for (const char *name : {"起床.mp3", "午饭.mp3"})
        QFile(other.filePath(QString::fromUtf8(name))).open(QIODevice::WriteOnly);
    const QString csv = other.filePath("t.csv");
    writeCsv(csv, "序,时间,名称,音乐,周期,备注\n1,7:00,早\t读,起床.mp3,工作日,\"两\n行\"\n");
    QCOMPARE(check({"--check-sheet", csv, "--music-dir", other.path()}, &out), 0);
    QCOMPARE(out, QStringLiteral("07:00:00\t早\\t读\t起床.mp3\t一二三四五\t\t两\\n行\n将导入 1 条铃声。\n"));
    QCOMPARE(check({"--check-sheet", data + "formula-openpyxl.xlsx", "--no-music-check"}, &out), 1);
    QCOMPARE(check({"--check-sheet", other.filePath("missing.xls")}, &out), 1);
    QVERIFY(out.startsWith("无法打开文件"));
    // Usage errors.
    for (const QStringList &args : {QStringList{"--check-sheet"}, QStringList{"--check-sheet", csv, "--bogus"},
                                    QStringList{"--check-sheet", csv, "--music-dir"},
                                    QStringList{"--check-sheet", csv, "extra.xls"}}) {
        QCOMPARE(check(args, &out, &err), 2);
        QVERIFY(err.startsWith("用法："));
    }
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(m_old)); // nothing changed
}

void TstRealFiles::exportThroughLibreOfficeAndBack()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("LibreOffice is not installed");
    m_home->touchMusic("上课.mp3");
    // Every weekday set, Chinese and non-BMP names, the longest remark a
    // cell holds.
    QList<BellEntry> list;
    for (int days = 0; days < 128; ++days) {
        std::array<bool, 7> down{};
        for (int d = 0; d < 7; ++d)
            down[size_t(d)] = days & (1 << d);
        list << entry(days * 600, QStringLiteral("第%1节𠮷😀").arg(days), "上课.mp3", WeekdaySet::fromDays(down),
                      days % 2 ? "30" : "", days == 5 ? QString(32766, u'长') + "尾" : "备注");
    }
    m_store->replaceAll(list);
    const QList<BellEntry> stored = m_store->list("%");
    DaySchedule grid;
    fillGrid(grid, stored);
    const QString file = m_home->path() + "lo";
    m_dialogs.saveAnswers = {file};
    SheetExport(grid, m_messages, m_dialogs, {}).run();
    for (const char *format : {"xls:MS Excel 97", "xlsx:Calc MS Excel 2007 XML", "ods:calc8"}) {
        const QString ext = QString::fromLatin1(format).section(u':', 0, 0);
        QProcess p;
        p.start(soffice, {"-env:UserInstallation=file://" + m_home->path() + "lo-profile", "--headless",
                          "--convert-to", QString::fromLatin1(format), "--outdir", m_home->path() + ext, file + ".xls"});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 0);
        m_store->replaceAll({});
        m_dialogs.openAnswers = {m_home->path() + ext + "/lo." + ext};
        m_messages.shown.clear();
        makeImport().run();
        QCOMPARE(m_messages.texts().value(1), QStringLiteral("数据已经成功导入到数据库，共 128 条铃声。"));
        QCOMPARE(withoutIds(m_store->list("%")), withoutIds(stored));
    }
}


void TstRealFiles::realFilesReadAsSpreadsheetProgramsDo_data()
{
    // Cells of files made by other programs (make-timetables.sh) that were
    // read wrongly or not at all.
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("text");
    QTest::newRow("chart: first cell") << "chart-lo.xls" << 0 << 0 << "Etude du portefeuille";
    QTest::newRow("chart: a value") << "chart-lo.xls" << 5 << 1 << "50";
    QTest::newRow("chart: below the chart") << "chart-lo.xls" << 7 << 0 << "图表下面";
    QTest::newRow("shared string escape") << "escapes-xlsxwriter.xlsx" << 0 << 0 << "ABC\r\nDEF";
    QTest::newRow("escaped underscore") << "escapes-xlsxwriter.xlsx" << 0 << 1 << "x_x0041_y";
    QTest::newRow("inline string escape") << "escapes-xlsxwriter.xlsx" << 0 << 2 << "tab\there";
    QTest::newRow("BOF a few bytes off, odd byte in SST") << "biff8-tolerant.xls" << 0 << 0 << "起床早读";
    QTest::newRow("string after the odd byte") << "biff8-tolerant.xls" << 0 << 1 << "上课.mp3";
    QTest::newRow("number after the odd byte") << "biff8-tolerant.xls" << 1 << 0 << "42";
    QTest::newRow("[Magenta]0 is no time") << "timetable-openpyxl.xlsx" << 3 << 0 << "1";
    QTest::newRow("1904 dates beside x15:workbookPr") << "calendar-1904.xlsx" << 1 << 0 << "2026/10/1";
}

void TstRealFiles::realFilesReadAsSpreadsheetProgramsDo()
{
    QFETCH(QString, file);
    QFETCH(int, row);
    QFETCH(int, col);
    QFETCH(QString, text);
    QCOMPARE(readSheetFile(dataFile(file)).cell(row, col), text);
}

void TstRealFiles::textFileThatIsNoTextSaysSo()
{
    // The notice that .csv files are accepted is no help for a .csv.
    for (const QString &name : {QStringLiteral("bin.csv"), QStringLiteral("bin.dat")}) {
        const QString file = m_home->path() + name;
        writeCsv(file, QByteArray("\x01\x02\0\x03", 4));
        try {
            readSheetFile(file);
            QFAIL("accepted");
        } catch (const SheetError &e) {
            QCOMPARE(e.text(), name.endsWith(u"csv") ? SheetTexts::notAText() : SheetTexts::notASheet());
        }
    }
}

QTEST_GUILESS_MAIN(TstRealFiles)
#include "tst_realfiles.moc"
