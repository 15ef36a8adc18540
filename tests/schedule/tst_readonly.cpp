// A store on a read-only file system (run by readonly.sh inside a mount
// namespace where the program's home is mounted read-only), as an unclean
// stop left it (its -wal and -shm files beside it, the last entry only in
// the log): SQLite opens it for reading without a word, and the program
// still knows: the list is read (with what the log holds), so the bells
// ring; nothing is written, a write fails with the engine's message instead
// of passing for done, and the ring records wait until the store may be
// written again.
#include "bellstore.h"
#include "fakes.h"
#include "ringhistory.h"
#include "storekeeper.h"
#include "storetext.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <unistd.h>

class ReadOnlyTest : public QObject {
    Q_OBJECT

    static QByteArray digestOf(const QString &folder)
    {
        QCryptographicHash h(QCryptographicHash::Sha256);
        for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
            QFile f(folder + "/" + name);
            if (f.open(QIODevice::ReadOnly))
                h.addData(name.toUtf8() + f.readAll());
        }
        return h.result();
    }

private slots:
    void readOnlyStore()
    {
        const QString home = qEnvironmentVariable("DALING_RO_HOME");
        if (home.isEmpty())
            QSKIP("run through readonly.sh");
        const QString data = home + "/data";
        QFile probe(data + "/probe");
        QVERIFY2(!probe.open(QIODevice::WriteOnly), "the folder should be read-only here");
        const QByteArray before = digestOf(data);

        BellStore store;
        const QString message = store.open(data + "/dbDaLing.db");
        // Opened for reading, with a message that says changes are not kept.
        QVERIFY(store.isOpen());
        QVERIFY(store.isReadOnly());
        QVERIFY(message.contains(QStringLiteral("只能读取")));
        QVERIFY(QFile::exists(data + "/dbDaLing.db-wal") && QFile::exists(data + "/dbDaLing.db-shm"));
        QCOMPARE(store.list("%").size(), 15); // the sample timetable, and the entry only in the log
        try {
            store.insert({0, 1, "x", "x.mp3", "", "", ""});
            QFAIL("a write to a read-only store must fail");
        } catch (const StoreError &e) {
            QVERIFY(!e.text().isEmpty());
        }
        QCOMPARE(digestOf(data), before);
    }

    void bandSaysReadOnlyUntilTheStoreMayBeWritten()
    {
        const QString home = qEnvironmentVariable("DALING_RO_HOME");
        if (home.isEmpty())
            QSKIP("run through readonly.sh");
        const AppPaths paths(home);
        FakeClock clock;
        BellStore store;
        StoreKeeper keeper(store, paths, clock);
        keeper.openAtStart();
        QVERIFY(store.isReadOnly());
        QCOMPARE(keeper.health().bandText(), storetext::kReadOnly);
        keeper.check(); // no copy on a read-only disk, and no second line for it
        QVERIFY(!keeper.copying());
        QCOMPARE(keeper.health().bandText(), storetext::kReadOnly);
        // The bells' records wait, and the band counts them.
        RingHistory history(store);
        keeper.setHistory(&history);
        for (int s : {5, 9, 14})
            history.record({0, clock.now().date(), 8 * 3600 + s, "上课", "a.mp3", BellStatus::Done, 3, {}});
        keeper.check();
        QVERIFY2(keeper.health().bandText().contains(u"打铃记录暂时无法保存：3 条"), qPrintable(keeper.health().bandText()));
        // The mount made writable again (this process's own namespace).
        QCOMPARE(QProcess::execute("mount", {"-o", "remount,bind,rw", home}), 0);
        keeper.check();
        QVERIFY(!store.isReadOnly());
        QCOMPARE(keeper.health().bandText(), QString());
        QCOMPARE(history.day(clock.now().date()).size(), 3);
        store.insert({0, 1, "x", "x.mp3", "", "", ""}); // and takes changes again
    }
};

int main(int argc, char *argv[])
{
    // readonly.sh, before the mount: an entry written and the program gone
    // without closing the store, as after a power cut.
    if (argc == 3 && qstrcmp(argv[1], "--leave-wal") == 0) {
        BellStore store;
        if (!store.open(QString::fromLocal8Bit(argv[2])).isEmpty())
            return 1;
        store.insert({0, 9 * 3600, "只在日志中", "a.mp3", "日一二三四五六", "", ""});
        ::_exit(0);
    }
    QCoreApplication app(argc, argv);
    ReadOnlyTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_readonly.moc"
