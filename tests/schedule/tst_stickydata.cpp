// The package's data/ with the sticky bit (3775, group of the operators):
// what one operator may do to what another or root owns, and that the
// program's files still work for every operator there: the store with its
// -wal and -shm, and the ring records that wait for the next start. Run as
// root, which takes each operator's identity in turn (seteuid); 77 otherwise.
#include "bellstore.h"
#include "fakes.h"
#include "ringhistory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr gid_t kOperators = 65531;
constexpr uid_t kA = 65533, kB = 65534;

// This process as operator uid (the operators' group its only one, the
// desktop's umask) until the end of the scope.
class As {
public:
    explicit As(uid_t uid)
    {
        m_umask = ::umask(022);
        const gid_t groups[] = {kOperators};
        m_ok = ::setgroups(1, groups) == 0 && ::setegid(kOperators) == 0 && ::seteuid(uid) == 0;
    }
    ~As()
    {
        (void)!::seteuid(0);
        (void)!::setegid(0);
        (void)!::setgroups(0, nullptr);
        ::umask(m_umask);
    }
    bool ok() const { return m_ok; }

private:
    mode_t m_umask;
    bool m_ok;
};

// A home whose data/ is as the package leaves it: root:operators 3775 (or
// 2775 without the sticky bit), the lock and the store root's, 0664.
struct Home {
    TempHome home;
    QString data = home.path() + "data/";
    explicit Home(bool sticky = true)
    {
        ::chmod(QFile::encodeName(home.path()).constData(), 0755);
        const QByteArray d = QFile::encodeName(data);
        (void)!::chown(d.constData(), 0, kOperators);
        ::chmod(d.constData(), sticky ? 03775 : 02775);
        {
            BellStore store;
            if (!store.open(home.db()).isEmpty())
                qFatal("store did not open");
        }
        for (const char *name : {"daling.lock", "dbDaLing.db"})
            own(data + name, 0);
    }
    // A file of its own for owner, shared with the group.
    void own(const QString &path, uid_t owner) const
    {
        QFile f(path);
        if (f.open(QIODevice::Append))
            f.close();
        (void)!::chown(QFile::encodeName(path).constData(), owner, kOperators);
        ::chmod(QFile::encodeName(path).constData(), 0664);
    }
};

RingRecord bell(int second, const QString &name)
{
    return {0, QDate(2026, 12, 7), second, name, name + ".mp3", BellStatus::Done, 120, {}};
}

} // namespace

class StickyDataTest : public QObject {
    Q_OBJECT
private slots:
    // Why the lock and the store are root's: in the sticky folder operator B
    // neither deletes nor renames over what another owns; without the
    // sticky bit both succeed. Writing in place works either way.
    void whatAnotherOperatorMayDo_data()
    {
        QTest::addColumn<bool>("sticky");
        QTest::addColumn<QString>("what");
        QTest::addColumn<uid_t>("owner");
        QTest::addColumn<bool>("allowed");
        for (const bool sticky : {true, false}) {
            const char *s = sticky ? "sticky: " : "not sticky: ";
            QTest::addRow("%sdelete root's lock", s) << sticky << "delete" << uid_t(0) << !sticky;
            QTest::addRow("%sreplace A's file by rename", s) << sticky << "rename" << kA << !sticky;
            QTest::addRow("%swrite A's file in place", s) << sticky << "write" << kA << true;
        }
    }
    void whatAnotherOperatorMayDo()
    {
        QFETCH(bool, sticky);
        QFETCH(QString, what);
        QFETCH(uid_t, owner);
        QFETCH(bool, allowed);
        Home h(sticky);
        const QByteArray target = QFile::encodeName(h.data + "target");
        h.own(h.data + "target", owner);
        As b(kB);
        QVERIFY(b.ok());
        bool done = false;
        if (what == "delete") {
            done = ::unlink(target.constData()) == 0;
        } else if (what == "rename") {
            QFile part(h.data + "target.part");
            QVERIFY(part.open(QIODevice::WriteOnly));
            part.close();
            done = ::rename(QFile::encodeName(part.fileName()).constData(), target.constData()) == 0;
        } else {
            const int fd = ::open(target.constData(), O_WRONLY | O_APPEND);
            done = fd >= 0 && ::write(fd, "x", 1) == 1;
            if (fd >= 0)
                ::close(fd);
        }
        QVERIFY2(done == allowed, qPrintable(QString::fromLocal8Bit(strerror(errno))));
    }

    // Operator A's copy left ring records waiting in data/ (the store did not
    // take them) and its store open, with its -wal; operator B's copy starts:
    // it writes both records to the store once, and a later start of B's
    // brings none again, though the file is A's to delete.
    void anotherOperatorsWaitingRecordsComeInOnce()
    {
        Home h;
        const QStringList places{h.data + RingHistory::kWaitingFile};
        std::unique_ptr<BellStore> storeOfA;
        {
            As a(kA);
            QVERIFY(a.ok());
            storeOfA = std::make_unique<BellStore>();
            QVERIFY(storeOfA->open(h.home.db()).isEmpty());
            RingHistory history(*storeOfA);
            history.record(bell(28800, "first"));
            history.record(bell(28860, "second"));
            QVERIFY(history.saveWaiting(places));
        }
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(places[0]).constData(), &st), 0);
        QCOMPARE(st.st_uid, kA);
        QVERIFY(QFile::exists(h.home.db() + "-wal"));

        As b(kB);
        QVERIFY(b.ok());
        {
            BellStore store;
            QVERIFY(store.open(h.home.db()).isEmpty());
            RingHistory history(store);
            QCOMPARE(history.loadWaiting(places), 2);
            QVERIFY(history.flush());
            // A's copy ends while B's runs: its -wal is A's and stays.
            storeOfA.reset();
        }
        QVERIFY(QFile::exists(h.home.db() + "-wal")); // B's last close could not delete it
        BellStore store;
        QVERIFY(store.open(h.home.db()).isEmpty());
        RingHistory again(store);
        QCOMPARE(again.loadWaiting(places), 0);
        QCOMPARE(again.day(QDate(2026, 12, 7)).size(), 2);
    }
};

int main(int argc, char **argv)
{
    if (::geteuid() != 0) {
        std::puts("SKIP: taking the operators' identities needs root");
        return 77;
    }
    QCoreApplication app(argc, argv);
    StickyDataTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_stickydata.moc"
