// The status bar's drawing and click, and the link it opens.
#include "links.h"
#include "statusbar.h"

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QtTest>

namespace {
// First column, from the left, that holds a clearly red pixel.
int firstRedColumn(const QImage &img)
{
    for (int x = 0; x < img.width(); ++x)
        for (int y = 0; y < img.height(); ++y) {
            const QColor c = img.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 80 && c.blue() < 80)
                return x;
        }
    return -1;
}

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};
} // namespace

class TestStatusBar : public QObject {
    Q_OBJECT
private slots:
    void offset()
    {
        QCOMPARE(DaLingStatusBar::textOffset(800), 133);
        QCOMPARE(DaLingStatusBar::textOffset(1024), 170);
        QCOMPARE(DaLingStatusBar::textOffset(5), 0);
    }

    void drawsRedTextAtASixthOfTheWindow()
    {
        QWidget main;
        main.resize(800, 600);
        DaLingStatusBar bar(&main);
        bar.setGeometry(0, 570, 800, 30);
        QCOMPARE(bar.height(), 30);
        QCOMPARE(bar.cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(bar.isSizeGripEnabled());
        QVERIFY(!bar.text().isEmpty());

        QImage img = bar.grab().toImage();
        int x = firstRedColumn(img);
        QVERIFY2(x >= 133 && x <= 140, qPrintable(QString::number(x)));

        // Taken at each drawing: a wider window moves the text.
        main.resize(1200, 600);
        img = bar.grab().toImage();
        x = firstRedColumn(img);
        QVERIFY2(x >= 200 && x <= 207, qPrintable(QString::number(x)));

        // Clipped to the panel: no text beyond it when the window is narrow.
        main.resize(300, 600);
        bar.setText(QString(200, QChar(u'铃')));
        img = bar.grab().toImage();
        QVERIFY(firstRedColumn(img.copy(0, 0, 50, 30)) == -1);
        QVERIFY(firstRedColumn(img) >= 50);
    }

    void clickOpensMakerSite()
    {
        QWidget main;
        main.resize(800, 600);
        DaLingStatusBar bar(&main);
        bar.setGeometry(0, 570, 800, 30);
        UrlCatcher browser;
        QDesktopServices::setUrlHandler("http", &browser, "open");
        connect(&bar, &DaLingStatusBar::clicked, &openMakerSite);

        QTest::mouseClick(&bar, Qt::RightButton, {}, QPoint(10, 10));
        QVERIFY(browser.urls.isEmpty());
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(600, 15));
        QCOMPARE(browser.urls, QList<QUrl>{makerSite()});
        QVERIFY(makerSite().isValid());
        QCOMPARE(makerSite().scheme(), QString("http"));
        QDesktopServices::unsetUrlHandler("http");
    }
};

QTEST_MAIN(TestStatusBar)
#include "tst_statusbar.moc"
