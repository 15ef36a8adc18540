// What a real dalingd listens on over the network: nothing while the remote
// control is off (the default), only the address and port set while it is
// on, and nothing again once it is switched off and the engine re-reads its
// store. Read from the kernel's own tables (/proc/net/tcp and tcp6, the
// listening sockets whose inodes are the engine's descriptors), as `ss -ltn`
// reads them.
#include "bellstore.h"
#include "fakes.h"
#include "remotesettings.h"
#include "rpcclient.h"
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

// "address:port" (kernel's hex, as /proc/net/tcp writes it) of each TCP
// socket that pid listens on.
QStringList listening(qint64 pid)
{
    QSet<QString> inodes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.contains(QLatin1String("socket:[")))
            inodes << target.section(u'[', 1).chopped(1);
    }
    QStringList out;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile f(QString::fromLatin1(table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        f.readLine(); // the header
        while (!f.atEnd()) {
            const QStringList cols = QString::fromLatin1(f.readLine()).simplified().split(u' ');
            // local_address is column 1, st column 3 (0A: LISTEN), inode column 9
            if (cols.size() > 9 && cols.at(3) == QLatin1String("0A") && inodes.contains(cols.at(9)))
                out << cols.at(1);
        }
    }
    return out;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void setRemote(const QString &db, int port)
{
    BellStore store;
    QVERIFY(store.open(db).isEmpty());
    Settings settings(store);
    RemoteSettings web;
    web.port = port;
    web.address = QStringLiteral("127.0.0.1");
    web.save(settings);
}

} // namespace

class WebOffTest : public QObject {
    Q_OBJECT
private slots:
    void listensOnlyWhereSwitchedOn()
    {
        TempHome home;
        QTemporaryDir runtime;
        const QString exe = home.place(QStringLiteral(DALINGD_BIN));
        QVERIFY(!exe.isEmpty());
        {
            BellStore store; // the store as a new school's: nothing set
            QVERIFY(store.open(home.db()).isEmpty());
        }
        QProcess engine;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        engine.setProcessEnvironment(env);
        engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        engine.start(exe, {});
        QVERIFY(engine.waitForStarted(5000));
        const QString socket = runtime.filePath("daling.sock");
        QVERIFY(QTest::qWaitFor([&] {
            const RpcResult r = rpcCall(socket, "Engine.GetStatus", {}, 1000);
            return !r.isError() && !r.value()["starting"].toBool();
        }, 30000));
        const qint64 pid = engine.processId();

        // Off by default: no TCP socket listens at all.
        QCOMPARE(listening(pid), QStringList());

        // On, at 127.0.0.1 and a port: there only.
        const quint16 port = freePort();
        QVERIFY(port > 0);
        setRemote(home.db(), port);
        QVERIFY(!rpcCall(socket, "Bells.Reload").isError());
        const QString at = QStringLiteral("0100007F:%1").arg(port, 4, 16, QChar(u'0')).toUpper();
        QTRY_COMPARE_WITH_TIMEOUT(listening(pid), QStringList{at}, 10000);

        // Off again: nothing listens.
        setRemote(home.db(), 0);
        QVERIFY(!rpcCall(socket, "Bells.Reload").isError());
        QTRY_COMPARE_WITH_TIMEOUT(listening(pid), QStringList(), 10000);

        ::kill(pid_t(pid), SIGTERM);
        QVERIFY(engine.waitForFinished(15000));
    }
};

QTEST_GUILESS_MAIN(WebOffTest)
#include "tst_weboff.moc"
