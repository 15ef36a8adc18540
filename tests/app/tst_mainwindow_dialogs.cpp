// The main window's dialogs and boxes: boxes above the open dialog, Escape
// closing neither dialog, Qt's own dialogs in Chinese beside our boxes, the
// keyboard reaching the menu, where save dialogs start, and the title rule.
#include "mainwindowfixture.h"
#include "qtseams.h"
#include "formlinshiguangbo.h"
#include "tformeditdaling.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <functional>

class MainWindowDialogsTest : public QObject {
    Q_OBJECT
    using Fixture = MainWindowFixture;

private slots:
    void boxesOpenAboveTheDialogThatIsOpen()
    {
        // A bell's message while the editor is open must come above the
        // editor, not behind it with the main window.
        QWidget mainWindow;
        QtMessages messages("daling");
        messages.setOwner(&mainWindow);
        mainWindow.show();
        QDialog editor(&mainWindow);
        QWidget *boxParent = nullptr;
        QString caption;
        QTimer::singleShot(0, &editor, [&] {
            QTimer::singleShot(50, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (box) {
                    boxParent = box->parentWidget();
                    caption = box->windowTitle();
                    box->buttons().first()->click();
                }
                editor.accept();
            });
            messages.plain("找不到该音乐文件，或系统不支持该音乐文件！");
        });
        editor.exec();
        QCOMPARE(boxParent, &editor);
        QCOMPARE(caption, QStringLiteral("daling"));
    }

    void escapeClosesNeitherDialog()
    {
        Fixture f;
        f.make();
        TFormMain &w = *f.form;
        w.show();
        for (QDialog *d : std::initializer_list<QDialog *>{&w.editor(), &w.adhoc()}) {
            QCOMPARE(d->windowModality(), Qt::WindowModal); // the tray answers meanwhile
            d->show();
            QVERIFY(QTest::qWaitForWindowExposed(d));
            QTest::keyClick(d, Qt::Key_Escape);
            if (auto *field = d->findChild<QLineEdit *>())
                QTest::keyClick(field, Qt::Key_Escape);
            QVERIFY2(d->isVisible(), qPrintable(d->objectName()));
            d->close();
        }
    }

    void qtDialogsChineseOurBoxesEnglish()
    {
        const bool installed = installQtChinese();
        if (!installed)
            QSKIP("Qt's Chinese catalogue (qt6-translations-l10n) is not installed");
        {
            QFileDialog dlg(nullptr, QString(), QDir::tempPath());
            dlg.setOption(QFileDialog::DontUseNativeDialog);
            dlg.show();
            QStringList labels;
            for (auto *l : dlg.findChildren<QLabel *>())
                labels << l->text();
            QVERIFY2(!labels.contains("Look in:") && !labels.contains("File &name:"),
                     qPrintable(labels.join('|')));
            QVERIFY2(labels.join("").contains(QStringLiteral("文件")), qPrintable(labels.join('|')));
        }
        QtMessages messages("daling");
        struct Case {
            const char *name;
            std::function<void()> show;
            QString caption;
            QStringList buttons;
            QString dflt = {}; // the default button, where it matters
        };
        const QList<Case> cases = {
            {"plain", [&] { messages.plain("x"); }, "daling", {"OK"}},
            {"typed", [&] { messages.typedOk(Messages::Kind::Warning, "x"); }, "Warning", {"OK"}},
            {"yesNo", [&] { messages.yesNo(Messages::Kind::Confirm, "x"); }, "Confirm", {"&Yes", "&No"}, "&Yes"},
            {"noYes", [&] { messages.noYes(Messages::Kind::Confirm, "x"); }, "Confirm", {"&Yes", "&No"}, "&No"},
            {"Information", [&] { messages.typedOk(Messages::Kind::Information, "x"); }, "Information", {"OK"}},
            {"general", [&] { messages.generalError("x"); }, "daling", {"OK"}},
            {"okCancel", [&] { messages.okCancel("系统提示 ", "x"); }, "系统提示 ", {"OK", "Cancel"}},
        };
        for (const Case &c : cases) {
            QString caption, dflt;
            QStringList buttons;
            int width = 0;
            QTimer::singleShot(50, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!box)
                    return;
                caption = box->windowTitle();
                width = box->width();
                dflt = box->defaultButton() ? box->defaultButton()->text() : QString();
                for (QAbstractButton *b : box->buttons())
                    buttons << b->text();
                box->buttons().first()->click();
            });
            c.show();
            QCOMPARE(caption, c.caption);
            buttons.sort();
            QStringList expected = c.buttons;
            expected.sort();
            QVERIFY2(buttons == expected, c.name);
            if (!c.dflt.isEmpty())
                QCOMPARE(dflt, c.dflt);
            // Wide enough that the title bar shows the whole caption.
            QVERIFY2(width >= QFontMetrics(QApplication::font()).horizontalAdvance(caption) + 100, c.name);
        }
    }

    void keyboardReachesTheMenuAndLeavesTheList()
    {
        Fixture f;
        f.make();
        TFormMain &w = *f.form;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *grid = f.find<QTableView>("StringGridshow");
        QVERIFY(!grid->tabKeyNavigation()); // Tab moves on, the arrows move within
        auto *n1 = f.find<QMenu>("N1");
        const auto opens = [&](auto press) {
            press();
            const bool open = QTest::qWaitFor([&] { return n1->isVisible(); }, 2000);
            n1->close();
            w.menuBar()->setActiveAction(nullptr);
            w.activateWindow(); // the popup had taken it
            return QTest::qWaitForWindowActive(&w) && open;
        };
        grid->setFocus();
        QList<bool> open;
        open << opens([&] { QTest::keyClick(grid, Qt::Key_S, Qt::AltModifier); });
        grid->setFocus();
        open << opens([&] { QTest::keyClick(grid, Qt::Key_F10); });
        grid->setFocus();
        open << opens([&] {
            QTest::keyPress(grid, Qt::Key_Alt, Qt::AltModifier);
            QTest::keyRelease(grid, Qt::Key_Alt, Qt::NoModifier);
        });
        QCOMPARE(open, (QList<bool>{true, true, true}));

        // The editor's weekday buttons and "…" are on the Tab path, and a
        // pressed day is filled dark.
        for (const char *name : {"S0", "S1", "S2", "S3", "S4", "S5", "S6", "S", "SpeedButton8"})
            QVERIFY2(w.editor().findChild<QPushButton *>(name)->focusPolicy() & Qt::TabFocus, name);
        auto *monday = w.editor().findChild<QPushButton *>("S1");
        monday->setChecked(false);
        const QColor up = monday->grab().toImage().pixelColor(monday->width() / 5, monday->height() / 2);
        monday->setChecked(true);
        const QColor down = monday->grab().toImage().pixelColor(monday->width() / 5, monday->height() / 2);
        QVERIFY2(up.lightness() - down.lightness() > 100, qPrintable(up.name() + " " + down.name()));
    }

    void saveDialogsStartInTheDocumentsFolder()
    {
        TempHome home;
        QtFileDialogs dialogs;
        QDir().mkpath(home.music());
        QStringList seen;
        const auto answer = [&](bool accept, const QString &file = {}) {
            QTimer::singleShot(50, [&, accept, file] {
                auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                if (!d)
                    return;
                seen << QDir(d->directory()).absolutePath();
                if (accept) {
                    d->selectFile(file);
                    QMetaObject::invokeMethod(d, "accept");
                } else {
                    d->reject();
                }
            });
        };
        // The editor's open dialog has been in the music folder …
        answer(true, home.music() + "a.mp3");
        QVERIFY(dialogs.openFile(home.music() + "a.mp3"));
        // … the exports still start among the operator's documents.
        answer(false);
        QVERIFY(!dialogs.saveFile("打铃记录.xls"));
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[1], QDir(QtFileDialogs::documentsFolder()).absolutePath());
        QVERIFY(seen[1] != QDir(home.music()).absolutePath());
    }

    void applicationTitleRule()
    {
        QCOMPARE(applicationTitle("/opt/x/daling"), QStringLiteral("daling"));
        QCOMPARE(applicationTitle("/opt/x/DaLing.Exe"), QStringLiteral("Daling"));
        QCOMPARE(applicationTitle("/a.b/QUORLIN.v2.exe"), QStringLiteral("Quorlin"));
        QCOMPARE(Messages::errorText("无法打开"), QStringLiteral("无法打开."));
        QCOMPARE(Messages::errorText("done."), QStringLiteral("done."));
        QCOMPARE(Messages::errorText("x!"), QStringLiteral("x!"));
    }
};

QTEST_MAIN(MainWindowDialogsTest)
#include "tst_mainwindow_dialogs.moc"
