// The ring history store and its report: pruning, reading a day, and the
// .xls and .csv exports read back by independent readers (LibreOffice for
// the .xls: its own CTest entry, skipped with 77 where it is missing).
#include "fakes.h"
#include "historyreport.h"
#include "ringhistory.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>

class HistoryTest : public QObject {
    Q_OBJECT

    struct Fixture {
        TempHome home;
        BellStore store;
        RingHistory history{store};
        FakeMessages messages;
        FakeFileDialogs dialogs;
        HistoryReport report{history, messages, dialogs};
        Fixture()
        {
            if (!store.open(home.db()).isEmpty())
                qFatal("store did not open");
        }
        void add(const QDate &d, qint64 t, const QString &name, BellStatus result,
                 std::optional<qint64> delay = 3, const QString &reason = {})
        {
            history.record({0, d, t, name, name + ".mp3", result, delay, reason});
        }
    };

private slots:
    void recordsAreKeptFourHundredDays()
    {
        Fixture f;
        const QDate today(2026, 12, 7);
        f.add(today.addDays(-401), 100, "too old", BellStatus::Done);
        f.add(today.addDays(-400), 100, "oldest kept", BellStatus::Done);
        f.add(today, 200, "today", BellStatus::Done);
        QVERIFY(f.history.flush());
        QCOMPARE(f.history.prune(today), 1);
        QCOMPARE(f.history.between(today.addYears(-2), today).size(), 2);
        QCOMPARE(f.history.day(today.addDays(-400)).first().name, QStringLiteral("oldest kept"));
        // A store of an older version has no table yet: no records, no error.
        Fixture fresh;
        QVERIFY(fresh.history.day(today).isEmpty());
    }

    // A jilu made before records had zones reads as it is (also by a store
    // opened only for reading), and gains the column with its next record.
    void recordsOfAnOlderFileGainTheirZones()
    {
        Fixture f;
        QSqlQuery q(f.store.database());
        QVERIFY(q.exec("create table jilu (id integer primary key autoincrement, 日期 text, 时间 integer, "
                       "名称 text, 音乐 text, 结果 text, 延迟 integer, 说明 text)"));
        QVERIFY(q.exec("insert into jilu (日期, 时间, 名称, 音乐, 结果, 延迟, 说明) "
                       "values ('2026-12-07', 100, 'old', 'old.mp3', '完成', 2, '')"));
        const QDate d(2026, 12, 7);
        QCOMPARE(f.history.day(d).size(), 1);
        QVERIFY(f.history.day(d).first().zones.isEmpty());
        f.history.record({0, d, 200, "new", "new.mp3", BellStatus::PartlyRung, 3, "乙", "甲、乙"});
        QVERIFY(f.history.flush());
        const QList<RingRecord> rows = f.history.day(d);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].zones, QString());
        QCOMPARE(rows[1].zones, QStringLiteral("甲、乙"));
        // The old record names no entry; the new one does.
        f.history.record({0, d, 300, "named", "n.mp3", BellStatus::Done, 3, {}, {}, false, 42});
        QVERIFY(f.history.flush());
        QCOMPARE(f.history.day(d)[0].entryId, std::nullopt);
        QCOMPARE(f.history.day(d)[2].entryId, std::optional<qint64>(42));
    }

    void aDayReadsBackInOrderWithItsOutcomes()
    {
        Fixture f;
        const QDate d(2026, 12, 7);
        f.add(d, 300, "b", BellStatus::Missed, std::nullopt, "错过了");
        f.add(d, 100, "a", BellStatus::Done, 4);
        const int cut = f.history.record({0, d, 200, "c", "c.mp3", BellStatus::Done, 5, {}, "甲、乙"});
        QVERIFY(f.history.flush());
        f.history.amend(cut, BellStatus::Interrupted, "中途断了"); // after it was written
        QVERIFY(f.history.flush());
        const QList<RingRecord> rows = f.report.recordsOf(d);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(HistoryReport::cells(rows[0]), (QStringList{"00:01:40", "a", "a.mp3", "完成", "4", "", ""}));
        QCOMPARE(HistoryReport::cells(rows[1]), (QStringList{"00:03:20", "c", "c.mp3", "中断", "5", "中途断了", "甲、乙"}));
        QCOMPARE(HistoryReport::cells(rows[2]), (QStringList{"00:05:00", "b", "b.mp3", "错过", "", "错过了", ""}));
        QVERIFY(!HistoryReport::isFault(rows[0]) && HistoryReport::isFault(rows[1]));
    }

    void csvExportReadsBackWithItsChinese()
    {
        Fixture f;
        const QDate mon(2026, 12, 7), tue(2026, 12, 8), wed(2026, 12, 9);
        f.add(mon, 8 * 3600, "上课铃", BellStatus::Done, 4);
        f.add(tue, 9 * 3600, "课间操, \"广播\"", BellStatus::Failed, std::nullopt,
              "声音输出没有响应，铃声没有播出！");
        f.add(wed, 100, "not in range", BellStatus::Done);
        QVERIFY(f.history.flush());
        const QString out = f.home.path() + "记录";
        f.dialogs.saveAnswers.push_back(out);
        QCOMPARE(f.report.exportCsv(tue, mon), 2); // either order of the range
        QCOMPARE(f.dialogs.proposedNames, QStringList{"打铃记录20261207-20261208.csv"});
        QCOMPARE(f.messages.shown.size(), 1);
        QFile file(out + ".csv");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("\xEF\xBB\xBF"));

        QProcess py;
        py.start("/usr/bin/python3",
                 {"-c", "import csv,sys,json\n"
                        "rows=list(csv.reader(open(sys.argv[1],encoding='utf-8-sig',newline='')))\n"
                        "print(json.dumps(rows,ensure_ascii=True))",
                  file.fileName()});
        if (!py.waitForFinished(20000) || py.exitCode() != 0)
            QSKIP("no python3 to read the file back");
        const QJsonArray rows = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].toArray().first().toString(), QStringLiteral("日期"));
        QCOMPARE(rows[1].toArray().toVariantList(),
                 (QVariantList{"2026-12-07", "08:00:00", "上课铃", "上课铃.mp3", "完成", "4", "", ""}));
        QCOMPARE(rows[2].toArray().toVariantList(),
                 (QVariantList{"2026-12-08", "09:00:00", "课间操, \"广播\"", "课间操, \"广播\".mp3",
                               "失败", "", "声音输出没有响应，铃声没有播出！", ""}));

        // Cancelled: nothing written, nothing said.
        QCOMPARE(f.report.exportCsv(mon, mon), -1);
        QCOMPARE(f.messages.shown.size(), 1);
    }

    // LibreOffice, as an operator opens the file: no filter options. (It
    // takes a UTF-8 .csv with its byte order mark for Latin-1, which is
    // why .xls is the history's default export.)
    void xlsExportReadsAsChineseInLibreOffice()
    {
        if (qEnvironmentVariableIsEmpty("DALING_SOFFICE_RUN"))
            QSKIP("run alone by schedule.history_soffice");
        const QString soffice = QStandardPaths::findExecutable("soffice");
        if (soffice.isEmpty()) {
            std::printf("SKIP: LibreOffice (soffice) is not installed\n");
            std::exit(77);
        }
        Fixture f;
        const QDate d(2026, 12, 7);
        f.add(d, 8 * 3600, "第一节上课", BellStatus::Done, 4);
        f.add(d, 9 * 3600, "课间操", BellStatus::Missed, std::nullopt, "铃声时刻已过，没有播放。");
        QVERIFY(f.history.flush());
        f.dialogs.saveAnswers.push_back(f.home.path() + "记录");
        QCOMPARE(f.report.exportRange(d, d, HistoryReport::Format::Xls), 2);
        QCOMPARE(f.dialogs.proposedNames, QStringList{"打铃记录20261207.xls"});

        QTemporaryDir profile;
        QProcess lo;
        lo.start(soffice, {"-env:UserInstallation=file://" + profile.path(), "--headless",
                           "--convert-to", "xlsx", "--outdir", f.home.path(), f.home.path() + "记录.xls"});
        QVERIFY(lo.waitForFinished(90000));
        QVERIFY2(QFile::exists(f.home.path() + "记录.xlsx"), lo.readAllStandardError().constData());
        QProcess py;
        py.start("/usr/bin/python3", {"-c", "import sys,json,openpyxl\n"
                                            "s=openpyxl.load_workbook(sys.argv[1]).active\n"
                                            "print(json.dumps([[c or '' for c in r] for r in s.iter_rows(values_only=True)]))",
                                      f.home.path() + "记录.xlsx"});
        if (!py.waitForFinished(20000) || py.exitCode() != 0)
            QSKIP("no python3 with openpyxl to read the converted file");
        const QJsonArray rows = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].toArray().toVariantList(),
                 (QVariantList{"日期", "时间", "名称", "音乐", "结果", "延迟(毫秒)", "说明", "分区"}));
        QCOMPARE(rows[2].toArray().toVariantList(),
                 (QVariantList{"2026-12-07", "09:00:00", "课间操", "课间操.mp3", "错过", "", "铃声时刻已过，没有播放。", ""}));
    }
};

QTEST_GUILESS_MAIN(HistoryTest)
#include "tst_history.moc"
