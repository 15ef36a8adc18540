// A store on a read-only file system (run by readonly.sh inside a mount
// namespace where the program's home is mounted read-only): the list is
// still read, so the bells ring; nothing is written, and a write fails with
// the engine's message instead of passing for done.
#include "bellstore.h"
#include "fakes.h"
#include "storekeeper.h"
#include "storetext.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

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
        QCOMPARE(store.list("%").size(), 14); // the sample timetable
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
        QCOMPARE(keeper.health().bandText(), storetext::kReadOnly);
        keeper.check(); // no copy on a read-only disk, and no second line for it
        QCOMPARE(keeper.health().bandText(), storetext::kReadOnly);
        // The mount made writable again (this process's own namespace).
        QCOMPARE(QProcess::execute("mount", {"-o", "remount,bind,rw", home}), 0);
        keeper.check();
        QVERIFY(!store.isReadOnly());
        QCOMPARE(keeper.health().bandText(), QString());
    }
};

QTEST_GUILESS_MAIN(ReadOnlyTest)
#include "tst_readonly.moc"
