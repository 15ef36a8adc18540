#include "timetext.h"
#include "weekdaytext.h"

#include <QtTest>

class TstTimeText : public QObject {
    Q_OBJECT
private slots:
    void rules_data();
    void rules();
    void weekdays_data();
    void weekdays();
};

void TstTimeText::rules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("seconds"); // -1: not a time

    // Fields and separators.
    QTest::newRow("full") << "12:30:00" << 45000ll;
    QTest::newRow("no seconds") << "12:30" << 45000ll;
    QTest::newRow("hours alone") << "12" << 43200ll;
    QTest::newRow("single digits") << "7:5:3" << 25503ll;
    QTest::newRow("leading zeros") << "007:05" << 25500ll;
    QTest::newRow("milliseconds dropped") << "12:30:15.999" << 45015ll;
    QTest::newRow("ms 1000") << "12:30:15.1000" << -1ll;
    QTest::newRow("ms after minutes") << "12:30.5" << -1ll;
    QTest::newRow("separator without number") << "12:" << -1ll;
    QTest::newRow("second separator without number") << "12:30:" << -1ll;
    QTest::newRow("decimal without number") << "12:30:00." << -1ll;
    // Blanks.
    QTest::newRow("export form") << " 07:30:00" << 27000ll;
    QTest::newRow("blanks around") << "   07:30   " << 27000ll;
    QTest::newRow("blank after separator") << "07: 30" << 27000ll;
    QTest::newRow("blanks around separators") << "12 : 30 : 05" << 45005ll;
    QTest::newRow("blank before separator") << " 8 :05" << 29100ll;
    QTest::newRow("blanks around decimal") << "8:05:00 . 5" << 29100ll;
    QTest::newRow("blank is no separator") << "12 30" << -1ll;
    QTest::newRow("blanks then no number") << "12 : " << -1ll;
    QTest::newRow("tab, no-break and ideographic blanks") << "\t07\u00a0:\u300030\t" << 27000ll;
    QTest::newRow("full-width colons") << "12：30：05" << 45005ll;
    QTest::newRow("empty") << "" << -1ll;
    QTest::newRow("blanks only") << "   " << -1ll;
    // Ranges.
    QTest::newRow("midnight") << "00:00:00" << 0ll;
    QTest::newRow("last second") << "23:59:59" << 86399ll;
    QTest::newRow("24 hours") << "24:00:00" << -1ll;
    QTest::newRow("60 minutes") << "12:60" << -1ll;
    QTest::newRow("60 seconds") << "12:00:60" << -1ll;
    QTest::newRow("huge hours") << "99999999999999999999" << -1ll;
    // Markers.
    QTest::newRow("PM after") << "3:15 PM" << 54900ll;
    QTest::newRow("pm glued") << "3:15pm" << 54900ll;
    QTest::newRow("AM before") << "AM 3:15" << 11700ll;
    QTest::newRow("12 AM is midnight") << "12:00 AM" << 0ll;
    QTest::newRow("12 PM is noon") << "12:00 PM" << 43200ll;
    QTest::newRow("下午 before") << "下午3:00" << 54000ll;
    QTest::newRow("上午 after") << "9:00 上午" << 32400ll;
    QTest::newRow("下午 12") << "下午 12:30" << 45000ll;
    QTest::newRow("marker needs 1-12") << "13:00 PM" << -1ll;
    QTest::newRow("marker with 0") << "0:30 AM" << -1ll;
    QTest::newRow("marker alone") << "PM" << -1ll;
    QTest::newRow("two markers") << "AM 3:00 PM" << -1ll;
    // Dates.
    QTest::newRow("date slash") << "2024/3/5 07:30:00" << 27000ll;
    QTest::newRow("date dash") << "2024-03-05 7:30" << 27000ll;
    QTest::newRow("date alone") << "2024/3/5" << 0ll;
    QTest::newRow("date alone blanks") << " 2024-3-5 " << 0ll;
    QTest::newRow("date then marker time") << "2024/3/5 下午 1:00" << 46800ll;
    QTest::newRow("after date and time ignored") << "2024/3/5 7:30 备注" << 27000ll;
    QTest::newRow("without date trailing text") << "7:30 备注" << -1ll;
    QTest::newRow("date then junk") << "2024/3/5 abc" << -1ll;
    QTest::newRow("date glued to time") << "2024/3/507:30" << -1ll;
    QTest::newRow("no such day") << "2023/2/29 07:30" << -1ll;
    QTest::newRow("leap day") << "2024/2/29 07:30" << 27000ll;
    QTest::newRow("mixed date separators") << "2024/3-5 07:30" << -1ll;
    QTest::newRow("month and day only") << "3/5" << -1ll;
    QTest::newRow("month 13") << "2024/13/1" << -1ll;
    // Characters that are not digits or separators.
    QTest::newRow("full-width digits") << "１２:３０:００" << -1ll;
    QTest::newRow("Chinese words") << "十二点" << -1ll;
    QTest::newRow("sign") << "-1:00" << -1ll;
    QTest::newRow("plus") << "+1:00" << -1ll;
    QTest::newRow("decimal number") << "0.5" << -1ll;
    QTest::newRow("full-width decimal point") << "12:30:00．5" << -1ll;
}

void TstTimeText::rules()
{
    QFETCH(QString, text);
    QFETCH(qint64, seconds);
    const auto got = parseTimeText(text);
    if (seconds < 0)
        QVERIFY2(!got, qPrintable(QStringLiteral("accepted as %1").arg(got.value_or(0))));
    else
        QCOMPARE(got.value_or(-1), seconds);
}

void TstTimeText::weekdays_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("days"); // "x": refused
    QTest::newRow("canonical") << "日一二三四五六" << "日一二三四五六";
    QTest::newRow("any order, twice") << "五一一" << "一五";
    QTest::newRow("blank") << "  " << "";
    QTest::newRow("prefixes and separators") << "周一、星期三，礼拜五/周六, 日" << "日一三五六";
    QTest::newRow("周日 and 星期天") << "周天 星期天 礼拜日" << "日";
    QTest::newRow("至") << "周一至周五" << "一二三四五";
    QTest::newRow("到, no prefix") << "一到五" << "一二三四五";
    QTest::newRow("hyphen and blanks") << "一 - 五" << "一二三四五";
    QTest::newRow("tilde, em dash") << "一~三、五—六" << "一二三五六";
    QTest::newRow("over the weekend") << "五至一" << "日一五六";
    QTest::newRow("周六至周日") << "周六至周日" << "日六";
    QTest::newRow("工作日") << "工作日" << "一二三四五";
    QTest::newRow("每天") << "每天" << "日一二三四五六";
    QTest::newRow("每日, 天天, 全周") << "每日天天全周" << "日一二三四五六";
    QTest::newRow("周末, 双休日") << "周末" << "日六";
    QTest::newRow("word and day") << "双休日、三" << "日三六";
    QTest::newRow("digits") << "135" << "一三五";
    QTest::newRow("digit range") << "1-5" << "一二三四五";
    QTest::newRow("7 is Sunday") << "周7" << "日";
    QTest::newRow("full-width digits") << "１－５" << "一二三四五";
    QTest::newRow("隔周一") << "隔周一" << "x";
    QTest::newRow("8") << "8" << "x";
    QTest::newRow("0") << "0" << "x";
    QTest::newRow("天 alone") << "天" << "x";
    QTest::newRow("prefix alone") << "周" << "x";
    QTest::newRow("open range") << "一至" << "x";
    QTest::newRow("range from nothing") << "-五" << "x";
    QTest::newRow("other text") << "随便写" << "x";
}

void TstTimeText::weekdays()
{
    QFETCH(QString, text);
    QFETCH(QString, days);
    const auto got = WeekdayText::read(text);
    if (days == u"x")
        QVERIFY2(!got, qPrintable(QStringLiteral("accepted as ") + got.value_or(QString())));
    else
        QCOMPARE(got.value_or(QStringLiteral("refused")), days);
}

QTEST_APPLESS_MAIN(TstTimeText)
#include "tst_timetext.moc"
