// The playlist of the ad-hoc window: adding, deleting, clearing, reordering
// by drag and drop, and the order kept across closing.
#include "adhocfixture.h"

#include <QPointer>
#include <QSqlQuery>

class TestPlaylist : public QObject {
    Q_OBJECT
private slots:
    void windowAndControls();
    void addsFilesAfterTheListInDialogOrder();
    void deleteAndClear();
    void dropMovesTheSelectedLine();
    void dropNowhereAndDragOver();
    void reorderIsLostOnAddButKeptOnClose();
    void thousandsOfItems();
    void storeFailuresGoToTheErrorBox();
    void storedOrder();
};

void TestPlaylist::windowAndControls()
{
    TempHome home;
    BellStore store;
    QVERIFY(store.open(home.db()).isEmpty());
    FakeClock clock;
    FakePlayer player(&clock);
    FakeMessages msgs;
    FakeFileDialogs dialogs;
    QWidget main;
    main.setGeometry(20, 30, 760, 540);
    main.show();
    QPointer<TFormLinShiGuangBo> form = new TFormLinShiGuangBo(store, player, msgs, dialogs, &main);
    QCOMPARE(form->objectName(), QStringLiteral("FormLinShiGuangBo"));
    QCOMPARE(form->windowTitle(), QStringLiteral("临时播放广播"));
    QCOMPARE(form->size(), QSize(624, 438));
    QCOMPARE(form->font().pixelSize(), 16);
    QVERIFY(!(form->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    for (const char *name : {"ListBox1", "TrackBar1", "ButtonPlay", "ButtonPaused", "ButtonOpen",
                             "Button1", "Button2", "TimerPostion"})
        QVERIFY2(form->findChild<QObject *>(QString::fromLatin1(name)), name);
    QCOMPARE(form->Button1->text(), QStringLiteral(" 删除文件"));

    form->show();
    const QPoint off = form->frameGeometry().center() - main.frameGeometry().center();
    QVERIFY2(off.manhattanLength() < 40, qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));
    form->close();
    QVERIFY(form);
    QVERIFY(!form->isVisible());
    delete form;
}

void TestPlaylist::addsFilesAfterTheListInDialogOrder()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    const QStringList first = f.tones({"b1.wav", "b2.wav"});
    const QStringList more = f.tones({"新 三.wav", "a.mp3.wav", "c.wav"}, QStringLiteral("其他 文件夹"));
    QVERIFY(QFile::exists(more[0]));
    f.add(first);
    f.add(more);
    QCOMPARE(f.lines(), QStringList({"b1.wav", "b2.wav", "新 三.wav", "a.mp3.wav", "c.wav"}));
    QCOMPARE(f.stored(), QStringList({"1 b1.wav", "2 b2.wav", "3 新 三.wav", "4 a.mp3.wav", "5 c.wav"}));
    QCOMPARE(f.form->selectedIndex(), -1);
    // 路径 ends in the separator and 路径 + 音乐 is the chosen path.
    const QList<PlaylistItem> items = PlaylistStore(f.store).refresh();
    QStringList paths;
    for (const auto &it : items) {
        QVERIFY(it.folder.endsWith(u'/'));
        paths << it.path();
    }
    QCOMPARE(paths, first + more);

    f.form->ButtonOpenClick(); // the operator cancels
    QCOMPARE(f.lines().size(), 5);
    f.add(first.mid(0, 1)); // the same file twice
    QCOMPARE(f.lines().count("b1.wav"), 2);
    QVERIFY(f.msgs.shown.isEmpty());
}

void TestPlaylist::deleteAndClear()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    f.form->Button1Click();
    QCOMPARE(f.msgs.texts(), QStringList({"无音乐文件！"}));
    f.form->Button2Click(); // clearing an empty list says nothing
    QCOMPARE(f.msgs.shown.size(), 1);

    f.add(f.tones({"a.wav", "b.wav", "c.wav"}));
    f.form->Button1Click();
    QCOMPARE(f.msgs.shown.last().text, QStringLiteral("请选择音乐文件！"));
    QCOMPARE(f.msgs.shown.last().kind, QStringLiteral("plain"));
    QCOMPARE(f.lines().size(), 3);

    f.select(1);
    f.form->Button1Click();
    QCOMPARE(f.lines(), QStringList({"a.wav", "c.wav"}));
    QCOMPARE(f.stored(), QStringList({"1 a.wav", "2 c.wav"}));
    QCOMPARE(f.form->selectedIndex(), -1);

    f.form->Button2Click();
    QVERIFY(f.lines().isEmpty());
    QVERIFY(f.stored().isEmpty());
    QCOMPARE(f.msgs.shown.size(), 2);
}

void TestPlaylist::dropMovesTheSelectedLine()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    f.add(f.tones({"A", "B", "C", "D", "E"}));
    const QList<qint64> ids = f.form->lineIds();

    f.select(0);
    f.form->ListBox1DragDrop(f.lineCentre(3));
    QCOMPARE(f.lines(), QStringList({"B", "C", "D", "A", "E"}));
    QCOMPARE(f.form->selectedIndex(), 3);
    // The id travels with its line.
    QCOMPARE(f.form->lineIds(), QList<qint64>({ids[1], ids[2], ids[3], ids[0], ids[4]}));
    // The store learns nothing until the window closes.
    QCOMPARE(f.stored().first(), QStringLiteral("1 A"));

    f.form->Refresh();
    f.select(3);
    f.form->ListBox1DragDrop(f.lineCentre(0));
    QCOMPARE(f.lines(), QStringList({"D", "A", "B", "C", "E"}));
    QCOMPARE(f.form->selectedIndex(), 0);
}

void TestPlaylist::dropNowhereAndDragOver()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    f.add(f.tones({"A", "B", "C"}));
    const QStringList before = f.lines();
    f.form->ListBox1DragDrop(f.lineCentre(2)); // nothing selected
    QCOMPARE(f.lines(), before);
    f.select(0);
    f.form->ListBox1DragDrop(f.belowLastLine());
    QCOMPARE(f.lines(), before);
    QCOMPARE(f.form->selectedIndex(), 0);
    f.form->ListBox1DragDrop(f.lineCentre(0)); // onto itself
    QCOMPARE(f.lines(), before);

    // A drag is let over the list only for its own line, onto a line.
    QObject *list = f.form->ListBox1;
    QVERIFY(f.form->ListBox1DragOver(list, f.lineCentre(1)));
    QVERIFY(!f.form->ListBox1DragOver(list, f.belowLastLine()));
    QVERIFY(!f.form->ListBox1DragOver(f.form->TrackBar1, f.lineCentre(1)));
    f.form->Refresh();
    QVERIFY(!f.form->ListBox1DragOver(list, f.lineCentre(1))); // nothing selected
}

void TestPlaylist::reorderIsLostOnAddButKeptOnClose()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    f.add(f.tones({"A", "B", "C"}));
    f.form->show();
    QCOMPARE(f.form->selectedIndex(), 0);
    QCOMPARE(f.player.log.last(), QStringLiteral("open A"));

    // Reorder, then add: the stored order comes back, the new file last.
    f.select(0);
    f.form->ListBox1DragDrop(f.lineCentre(2));
    QCOMPARE(f.lines(), QStringList({"B", "C", "A"}));
    f.add(f.tones({"N"}));
    QCOMPARE(f.lines(), QStringList({"A", "B", "C", "N"}));

    // Reorder, close, reopen: the new order, its first line selected and opened.
    f.select(3);
    f.form->ListBox1DragDrop(f.lineCentre(0));
    f.form->close();
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.stored(), QStringList({"0 N", "1 A", "2 B", "3 C"}));
    f.form->show();
    QCOMPARE(f.lines(), QStringList({"N", "A", "B", "C"}));
    QCOMPARE(f.stored(), QStringList({"1 N", "2 A", "3 B", "4 C"}));
    QCOMPARE(f.form->selectedIndex(), 0);
    QCOMPARE(f.player.log.last(), QStringLiteral("open N"));
    QCOMPARE(f.player.fileName(), f.home.music() + "N");
    QVERIFY(!f.player.isPlaying());

    // Escape leaves the window open (a live broadcast goes on); the close
    // box closes it and saves the order.
    f.select(1);
    f.form->ListBox1DragDrop(f.lineCentre(0));
    QTest::keyClick(f.form->ListBox1, Qt::Key_Escape);
    QTest::keyClick(f.form.get(), Qt::Key_Escape);
    QVERIFY(f.form->isVisible());
    QCOMPARE(f.stored(), QStringList({"1 N", "2 A", "3 B", "4 C"}));
    f.form->close();
    QVERIFY(!f.form->isVisible());
    QCOMPARE(f.stored(), QStringList({"0 A", "1 N", "2 B", "3 C"}));
}

void TestPlaylist::thousandsOfItems()
{
    AdhocFixture f;
    QVERIFY(f.ok());
    QStringList old;
    for (int i = 0; i < 1005; ++i)
        old << f.home.music() + QStringLiteral("old%1.wav").arg(i, 4, 10, QChar(u'0'));
    f.add(old);
    QCOMPARE(f.lines().size(), 1005);
    QCOMPARE(f.lines().last(), QStringLiteral("old1004.wav"));

    // Stored 1 … 1005 now; new files get 1000, 1001, 1002 and sort among them.
    f.add(f.tones({"n0.wav", "n1.wav", "n2.wav"}));
    const QStringList l = f.lines();
    QCOMPARE(l.size(), 1008);
    QCOMPARE(l.last(), QStringLiteral("old1004.wav"));
    const int n0 = l.indexOf("n0.wav"), n1 = l.indexOf("n1.wav"), n2 = l.indexOf("n2.wav");
    QVERIFY2(n0 >= 999 && n0 <= 1000, qPrintable(QString::number(n0)));
    QVERIFY(n0 < n1 && n1 < n2 && n2 <= 1004);
    QCOMPARE(l.first(), QStringLiteral("old0000.wav"));
    const QStringList s = f.stored();
    QCOMPARE(s.first(), QStringLiteral("1 old0000.wav"));
    QCOMPARE(s.last(), QStringLiteral("1008 old1004.wav"));

    // The last line moved to the top survives a close.
    f.form->show();
    f.select(1007);
    f.form->ListBox1DragDrop(f.lineCentre(0));
    QCOMPARE(f.form->selectedIndex(), 0);
    f.form->close();
    f.form->show();
    QCOMPARE(f.lines().size(), 1008);
    QCOMPARE(f.lines().first(), QStringLiteral("old1004.wav"));
    QCOMPARE(f.lines().last(), QStringLiteral("old1003.wav"));
    f.form->close();
}

void TestPlaylist::storeFailuresGoToTheErrorBox()
{
    TempHome home;
    BellStore store; // never opened: every statement fails
    FakeClock clock;
    FakePlayer player(&clock);
    FakeMessages msgs;
    FakeFileDialogs dialogs;
    TFormLinShiGuangBo form(store, player, msgs, dialogs);
    form.show();
    dialogs.openManyAnswers.push_back({home.music() + "a.wav"});
    form.ButtonOpenClick();
    form.Button2Click();
    form.close();
    QCOMPARE(msgs.shown.size(), 4);
    for (const auto &s : msgs.shown) {
        QCOMPARE(s.kind, QStringLiteral("general"));
        QCOMPARE(s.text, QStringLiteral("数据库未打开."));
    }
    QVERIFY(!form.isVisible());
}

void TestPlaylist::storedOrder()
{
    TempHome home;
    BellStore bells;
    QVERIFY(bells.open(home.db()).isEmpty());
    PlaylistStore store(bells);
    store.addFiles({"/x/a.mp3", "/x/b.mp3"});
    auto items = store.refresh();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0].path(), QStringLiteral("/x/a.mp3"));
    QCOMPARE(items[0].folder, QStringLiteral("/x/"));
    store.addFiles({"/y/c.mp3", "/y/d.mp3", "/y/e.mp3"});
    items = store.refresh();
    QStringList names;
    for (const auto &it : items)
        names << it.music;
    QCOMPARE(names, QStringList({"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"}));
    QCOMPARE(items.last().order, 5);
    store.saveOrder({items[4].id, 999999, items[0].id});
    items = store.refresh();
    QCOMPARE(items[0].music, QStringLiteral("e.mp3"));
    store.remove(items[0].id);
    QCOMPARE(store.refresh().size(), 4);
    store.clear();
    QVERIFY(store.refresh().isEmpty());
}

QTEST_MAIN(TestPlaylist)
#include "tst_playlist.moc"
