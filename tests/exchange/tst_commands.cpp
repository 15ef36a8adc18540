// The export and import commands on sheets made here.
#include "biff8writer.h"
#include "importfixture.h"
#include "sheetexport.h"
#include "zonestore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

class TstCommands : public QObject, protected ImportFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void exportWritesEveryEntryWithOneSuffix();
    void exportOfAnEmptyListAndCancel();
    void exportSaysWhichTextsWereCut();
    void exportThenImportRestoresEveryField();
    void importReadsOtherSheetsTheOldWay();
    void importMessagesWordForWord();
    void bareNamesOnly();
    void noAnswerAndCancelChangeNothing();
    void sheetWithoutEntriesChangesNothing();
    void failureDuringInsertionKeepsOldList();
    void lockedDatabaseKeepsOldList();
    void unreadableFileIsAnError();
    void zonesTravelByName();

};

void TstCommands::init()
{
    setUp();
}

void TstCommands::cleanup()
{
    tearDown();
}

void TstCommands::exportWritesEveryEntryWithOneSuffix()
{
    DaySchedule grid;
    fillGrid(grid, {entry(27000, "早", "a.mp3", "一二", "12", "备"),
                    entry(28000, "", "b.mp3", "三"), // no name: still exported
                    entry(29000, "晚", "c.mp3", "")});
    SheetExport exp(grid, m_messages, m_dialogs, [this] { ++m_events; });
    const QString base = m_home->path() + "列表";
    m_dialogs.saveAnswers = {base, base + ".XLS"};
    exp.run();
    QCOMPARE(m_dialogs.proposedNames, QStringList{"Quorlin学校铃声广播列表"});
    QCOMPARE(m_messages.texts(), QStringList{"数据已经成功保存"});
    QCOMPARE(m_messages.shown[0].kind, QStringLiteral("plain"));
    QCOMPARE(m_events, 3);
    const SheetData sheet = readSheetFile(base + ".xls");
    QCOMPARE(sheet.rows.value(0), BellListSheet::header());
    QCOMPARE(sheet.rowCount(), 4);
    QCOMPARE(sheet.rows[1], (QStringList{"1", " 07:30:00", "早", "a.mp3", "一二", "12", "备"}));
    QCOMPARE(sheet.cell(2, 2), QString());
    QCOMPARE(sheet.cell(2, 3), QStringLiteral("b.mp3"));
    QCOMPARE(sheet.cell(3, 0), QStringLiteral("3"));

    exp.run(); // a name that ends in .xls in any case gets no second suffix
    QVERIFY(QFile::exists(base + ".XLS"));
    QVERIFY(!QFile::exists(base + ".XLS.xls"));
    QCOMPARE(SheetExport::withSuffix("a.xls"), QStringLiteral("a.xls"));
    QCOMPARE(SheetExport::withSuffix("a.xlsx"), QStringLiteral("a.xlsx.xls"));
}

void TstCommands::exportOfAnEmptyListAndCancel()
{
    DaySchedule grid;
    SheetExport exp(grid, m_messages, m_dialogs, {});
    const QString file = m_home->path() + "empty.xls";
    m_dialogs.saveAnswers = {file, std::nullopt};
    exp.run();
    QCOMPARE(readSheetFile(file).rows, QList<QStringList>{BellListSheet::header()});
    QCOMPARE(m_messages.texts(), QStringList{"数据已经成功保存"});
    exp.run(); // cancelled: nothing shown, nothing written
    QCOMPARE(m_messages.shown.size(), 1);
}

void TstCommands::exportSaysWhichTextsWereCut()
{
    DaySchedule grid;
    // Excel's cell limit; a pair of surrogates at the limit is not halved.
    const QString pairAtLimit = QString(32766, u'长') + QStringLiteral("𠮷尾");
    fillGrid(grid, {entry(1, "短", "a.mp3", ""), entry(2, "长", "a.mp3", "", "", QString(40000, u'长')),
                    entry(3, "刚好", "a.mp3", "", "", QString(32767, u'长')), entry(4, "对", "a.mp3", "", "", pairAtLimit)});
    const QString file = m_home->path() + "cut.xls";
    m_dialogs.saveAnswers = {file};
    SheetExport(grid, m_messages, m_dialogs, {}).run();
    QCOMPARE(m_messages.texts(),
             QStringList{"数据已经成功保存，但第2、4条铃声的文字超过32767个字，表格中只保存了前32767个字。"});
    const SheetData sheet = readSheetFile(file);
    QCOMPARE(sheet.cell(2, 6), QString(32767, u'长'));
    QCOMPARE(sheet.cell(3, 6), QString(32767, u'长'));
    QCOMPARE(sheet.cell(4, 6), QString(32766, u'长'));
}

void TstCommands::exportThenImportRestoresEveryField()
{
    for (const char *name : {"上课.mp3", "下课 铃.wav", "c.mp3"})
        m_home->touchMusic(QString::fromUtf8(name));
    const QList<BellEntry> list{entry(0, "午夜", "c.mp3", "日一二三四五六", "3", "第一个"),
                                entry(27000, "上课", "上课.mp3", "一二三四五", "", "含,逗号\"引号\""),
                                entry(27000, "", "下课 铃.wav", "", "45", ""),
                                entry(86399, " 前后空格 ", "c.mp3", "六", "120", "  "),
                                entry(3600, "长备注𠮷😀", "c.mp3", "一", "", QString(32765, u'长') + "𠮷")};
    m_store->replaceAll(list);
    const QList<BellEntry> stored = m_store->list("%");
    DaySchedule grid;
    fillGrid(grid, stored);
    const QString file = m_home->path() + "rt";
    m_dialogs.saveAnswers = {file};
    SheetExport(grid, m_messages, m_dialogs, {}).run();

    m_store->replaceAll({entry(1, "别的", "c.mp3", "")});
    m_dialogs.openAnswers = {file + ".xls"};
    SheetImport imp = makeImport();
    imp.run();
    QCOMPARE(m_messages.texts().last(), QStringLiteral("数据已经成功导入到数据库，共 5 条铃声。"));
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(stored));
    QCOMPARE(m_events, int(list.size()));
    QCOMPARE(m_refreshes, 1);
}

void TstCommands::importReadsOtherSheetsTheOldWay()
{
    m_home->touchMusic("a.mp3");
    const QString file = m_home->path() + "old.csv";
    // Column 6 is the remark, 7 is not read; any text in column 1 goes on.
    writeCsv(file, "编号,时间,名称,音乐,周期,说明,多余\n"
                   "x,下午 1:00,午休,a.mp3,一二,备注六,忽略\n"
                   "1,2024/3/5 08:00:00,,a.mp3,\"三,一\",,\n"
                   ",09:00,不读,missing.mp3,,,\n"
                   "5,bad,不读,missing.mp3,,,\n");
    m_dialogs.openAnswers = {file};
    makeImport().run();
    QCOMPARE(withoutIds(m_store->list("%")),
             (QList<BellEntry>{entry(28800, "", "a.mp3", "一三"),
                               entry(46800, "午休", "a.mp3", "一二", "", "备注六")}));
}

void TstCommands::importMessagesWordForWord()
{
    m_home->touchMusic("a.mp3");
    const QString folder = m_paths->musicFolder();
    const QString file = m_home->path() + "m.csv";
    writeCsv(file, "序,时间,名称,音乐\n1,07:30,ok,a.mp3\n2,07:31,x,上课.mp3\n");
    m_dialogs.openAnswers = {file, file, file};
    SheetImport imp = makeImport();
    imp.run();
    QCOMPARE(m_messages.texts(),
             QStringList{folder + "上课.mp3文件不存在，\r\r\r请先把文件:上课.mp3\r复制到:\r\r" + folder});
    QCOMPARE(m_messages.shown[0].kind, QStringLiteral("plain"));

    // A bad time in sheet row 3; a row with both faults reports the file.
    writeCsv(file, "序,时间,名称,音乐\n1,07:30,ok,a.mp3\n2,１２:３０,x,a.mp3\n3,bad,x,none.mp3\n");
    m_messages.shown.clear();
    imp.run();
    QCOMPARE(m_messages.texts(),
             QStringList{"3  【１２:３０】行不是日期型数据，注意检查全角数字和符号，例如 十二点三十分  12:30:00"});
    writeCsv(file, "序,时间,名称,音乐\n1,bad,x,none.mp3\n");
    m_messages.shown.clear();
    imp.run();
    QVERIFY(m_messages.texts().value(0).startsWith(folder + "none.mp3文件不存在，"));
    // Nothing asked, nothing changed, no reload.
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(m_old));
    QCOMPARE(m_refreshes, 0);
    QCOMPARE(m_dialogs.openStartPaths, (QStringList{QString(), file, file}));
}

void TstCommands::bareNamesOnly()
{
    // A real file reached through a path is refused all the same.
    m_home->touchMusic("a.mp3");
    QDir(m_home->path()).mkpath("音乐/sub");
    m_home->touchMusic("sub/b.mp3");
    const QString file = m_home->path() + "p.csv";
    for (const QString &music : {QStringLiteral("sub/b.mp3"), QStringLiteral("..\\音乐\\a.mp3"),
                                 QStringLiteral("../音乐/a.mp3"), QString(), QStringLiteral("sub")}) {
        writeCsv(file, ("序,时间,名称,音乐\n1,07:30,x," + music + "\n").toUtf8());
        m_dialogs.openAnswers = {file};
        m_messages.shown.clear();
        makeImport().run();
        const QString expected = music.isEmpty() ? BellSheetReader::emptyMusicMessage(2)
                                                 : makeImport().sheetReader().missingFileMessage(music);
        QCOMPARE(m_messages.texts(), QStringList{expected});
    }
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(m_old));
}

void TstCommands::noAnswerAndCancelChangeNothing()
{
    m_home->touchMusic("a.mp3");
    const QString file = m_home->path() + "n.csv";
    writeCsv(file, "序,时间,名称,音乐\n1,07:30,x,a.mp3\n");
    m_dialogs.openAnswers = {file, std::nullopt};
    m_messages.answers = {Messages::Answer::No};
    SheetImport imp = makeImport();
    imp.run();
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(m_messages.shown[0].kind, QStringLiteral("Confirm"));
    QCOMPARE(m_messages.shown[0].text, QStringLiteral("将导入 1 条铃声。其中 1 条的周期为空，不会自动打铃。原来数据会被清除，你确定导入铃声广播列表吗？"));
    imp.run(); // cancelled dialog
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(m_old));
    QCOMPARE(m_refreshes, 0);
    QCOMPARE(imp.lastFile(), file);
}

void TstCommands::sheetWithoutEntriesChangesNothing()
{
    // A blank A2, a header alone, an empty first sheet, a renamed text file:
    // refused before the question, the list kept.
    const QString file = m_home->path() + "e.csv";
    for (const QByteArray &csv : {QByteArray("序,时间\n,07:30\n1,07:30\n"), QByteArray("序,时间\n"),
                                  QByteArray("\n\n\n"), QByteArray("这只是一段文字，不是表格。\n")}) {
        writeCsv(file, csv);
        m_dialogs.openAnswers = {file};
        m_messages.shown.clear();
        makeImport().run();
        QCOMPARE(m_messages.texts(), QStringList{"表格中没有找到铃声记录，铃声列表没有改变。"});
    }
    const QString xls = m_home->path() + "e.xls";
    writeBiff8File(xls, "空", {});
    m_dialogs.openAnswers = {xls};
    m_messages.shown.clear();
    makeImport().run();
    QCOMPARE(m_messages.texts(), QStringList{BellSheetReader::noEntriesMessage()});
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(m_old));
    QCOMPARE(m_refreshes, 0);
}

void TstCommands::failureDuringInsertionKeepsOldList()
{
    m_home->touchMusic("a.mp3");
    QByteArray csv = "序,时间,名称,音乐\n";
    for (int i = 1; i <= 10; ++i)
        csv += QByteArray::number(i) + ",07:" + QByteArray::number(10 + i) + ",x,a.mp3\n";
    const QString file = m_home->path() + "f.csv";
    writeCsv(file, csv);
    m_dialogs.openAnswers = {file};
    int rows = 0;
    SheetImport imp(*m_store, *m_paths, m_messages, m_dialogs,
                    [&] {
                        if (++rows == 5)
                            throw AppError("程序被中断");
                    },
                    [this] { ++m_refreshes; });
    try {
        imp.run();
        QFAIL("no error");
    } catch (const AppError &e) {
        QCOMPARE(e.text(), QStringLiteral("程序被中断，原来的铃声列表没有改变"));
    }
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(m_old));
    QCOMPARE(m_messages.texts(), QStringList{"将导入 10 条铃声。其中 10 条的周期为空，不会自动打铃。原来数据会被清除，你确定导入铃声广播列表吗？"});
    QCOMPARE(m_refreshes, 0);
}

void TstCommands::lockedDatabaseKeepsOldList()
{
    m_home->touchMusic("a.mp3");
    const QString file = m_home->path() + "l.csv";
    writeCsv(file, "序,时间,名称,音乐\n1,07:30,x,a.mp3\n");
    {
        // Another program holds the write lock for the whole import.
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
        other.setDatabaseName(m_home->db());
        QVERIFY(other.open());
        QSqlQuery q(other);
        QVERIFY2(q.exec("BEGIN IMMEDIATE"), qPrintable(q.lastError().text()));
        m_dialogs.openAnswers = {file};
        QVERIFY_THROWS_EXCEPTION(AppError, makeImport().run());
        q.exec("ROLLBACK");
        other.close();
    }
    QSqlDatabase::removeDatabase("other");
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(m_old));
    QCOMPARE(m_refreshes, 0);
}

void TstCommands::unreadableFileIsAnError()
{
    const QString file = m_home->path() + "bin.xls";
    writeCsv(file, QByteArray("\0\1\2\3", 4));
    m_dialogs.openAnswers = {file, m_home->path() + "gone.xls"};
    QVERIFY_THROWS_EXCEPTION(AppError, makeImport().run());
    QVERIFY_THROWS_EXCEPTION(AppError, makeImport().run());
    QVERIFY(m_messages.shown.isEmpty());
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(m_old));
}

QTEST_GUILESS_MAIN(TstCommands)
#include "tst_commands.moc"

// Zones go out by name in an eighth column, only when some bell has one, and
// come back to the store's zones; a name the store lacks is told per row.
void TstCommands::zonesTravelByName()
{
    m_home->touchMusic("a.mp3");
    ZoneStore zones(*m_store);
    const qint64 jia = zones.add({0, "教学楼A", "pulse/a", 0});
    const qint64 yi = zones.add({0, "操场", "pulse/b", 0});
    QList<BellEntry> list{entry(27000, "上课", "a.mp3", "一"), entry(28000, "出操", "a.mp3", "二"),
                          entry(29000, "无分区", "a.mp3", "三")};
    list[0].zones = {jia, yi};
    list[1].zones = {yi};
    m_store->replaceAll(list);
    const QList<BellEntry> stored = m_store->list("%");
    DaySchedule grid;
    fillGrid(grid, stored);
    SheetExport exp(grid, m_messages, m_dialogs, {});
    exp.zones = [&zones] { return zones.list(); };
    QCOMPARE(exp.sheetRows()[0], BellListSheet::header() << "分区");
    QCOMPARE(exp.sheetRows()[1].last(), QStringLiteral("教学楼A、操场"));
    QCOMPARE(exp.sheetRows()[3].last(), QString());
    const QString file = m_home->path() + "zones";
    m_dialogs.saveAnswers = {file};
    exp.run();
    m_store->replaceAll({entry(1, "别的", "a.mp3", "")});
    m_dialogs.openAnswers = {file + ".xls"};
    makeImport().run();
    QCOMPARE(withoutIds(m_store->list("%")), withoutIds(stored));

    // Zones defined but no bell in one: the old layout.
    fillGrid(grid, {entry(1, "x", "a.mp3", "")});
    QCOMPARE(exp.sheetRows()[0], BellListSheet::header());

    const QString csv = m_home->path() + "z.csv";
    writeCsv(csv, "序,时间,名称,音乐,周期,分区\n1,07:30,a,a.mp3,一,\"教学楼A， 食堂\"\n2,07:31,b,a.mp3,一,食堂；宿舍\n"
                  "3,07:32,c,a.mp3,一,食堂\n4,07:33,d,a.mp3,一,\n");
    const BellSheetPlan plan = makeImport().planOf(readSheetFile(csv));
    QCOMPARE(plan.entries.size(), 4);
    QCOMPARE(plan.entries[0].zones, QList<qint64>{jia});
    QVERIFY(plan.entries[1].zones.isEmpty() && plan.entries[3].zones.isEmpty());
    QCOMPARE(plan.summary(), QStringLiteral("将导入 4 条铃声。第3行的分区“宿舍”、第2–4行的分区“食堂”不存在，"
                                            "这些铃声导入后不在这些分区播放。"));
}
