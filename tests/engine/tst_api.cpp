// The engine's channel at a real dalingd: no display, a data folder and a
// runtime folder of the test's own, bells on a null sink of a private
// PulseAudio. Its bells ring at their second and their statuses reach a
// connected client; many idle clients and one that trickles a byte a second
// neither stop it answering nor delay a bell. Bounds are loose (both cores
// may be busy); the figures belong to bench/rpc.
#include "audiotestutil.h"
#include "bellstore.h"
#include "fakes.h"
#include "ringhistory.h"
#include "rpcclient.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A bell's start may be this late and still count as at its second.
constexpr qint64 kLateMs = 1500;

struct Bell {
    QString name;
    qint64 seconds;
};

} // namespace

class ApiTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;

    // dalingd in a home of its own, with its bells in the store.
    struct Engine {
        TempHome home;
        QTemporaryDir runtime; // private (0700), as a session's runtime folder
        QProcess process;
        QString socket() const { return runtime.filePath("daling.sock"); }

        bool start(const QList<Bell> &bells)
        {
            if (makeTone(home.music() + "bell.wav", 1.0).isEmpty())
                return false;
            {
                BellStore store;
                if (!store.open(home.db()).isEmpty())
                    return false;
                for (const Bell &b : bells)
                    store.insert({0, b.seconds, b.name, "bell.wav", "日一二三四五六", "1", "", {}});
            }
            const QString exe = home.place(QStringLiteral(DALINGD_BIN));
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
            env.remove("NOTIFY_SOCKET");
            env.insert("XDG_RUNTIME_DIR", runtime.path());
            process.setProcessEnvironment(env);
            process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process.start(exe, {});
            // Ready once the core is built: the channel answers before it.
            return process.waitForStarted(5000) && QTest::qWaitFor([this] {
                       const RpcResult r = rpcCall(socket(), "Engine.GetStatus", {}, 1000);
                       return !r.isError() && !r.value()["starting"].toBool();
                   }, 30000);
        }
        ~Engine()
        {
            if (process.state() != QProcess::NotRunning) {
                ::kill(pid_t(process.processId()), SIGTERM);
                process.waitForFinished(15000);
            }
        }
    };

    // Bells due a few seconds from now (the engine must be ticking first).
    static QList<Bell> bellsAhead(const QList<std::pair<QString, int>> &inSeconds)
    {
        const QTime now = QTime::currentTime();
        QList<Bell> out;
        for (const auto &[name, s] : inSeconds)
            out.append({name, now.msecsSinceStartOfDay() / 1000 + s});
        return out;
    }

    // The Bell.OnStatus notifications a client receives.
    struct Listener {
        RpcClient client;
        QList<QJsonObject> statuses;
        explicit Listener(const QString &socket)
        {
            QObject::connect(&client, &RpcClient::notification, &client,
                             [this](const QString &method, const QJsonValue &params) {
                                 if (method == "Bell.OnStatus")
                                     statuses.append(params.toObject());
                             });
            client.connectToServer(socket);
        }
        std::optional<QJsonObject> waitFor(const QString &time, const QString &status, int ms)
        {
            std::optional<QJsonObject> found;
            QTest::qWaitFor([&] {
                for (const QJsonObject &o : std::as_const(statuses))
                    if (o["time"].toString() == time && o["status"].toString() == status)
                        found = o;
                return found.has_value();
            }, ms);
            return found;
        }
    };

    static QString timeText(qint64 s) { return QTime::fromMSecsSinceStartOfDay(int(s * 1000)).toString("HH:mm:ss"); }

private slots:
    void initTestCase() { QVERIFY(m_pulse.start(QStringLiteral("api"))); }

    // What a school wants of the service: the day's bells at their second
    // with nobody logged in, each told to the clients as it sounds and
    // ends, listed with its status, and written to the history.
    void ringsTheDayAndTellsItsClients()
    {
        const QList<Bell> bells = bellsAhead({{"早读", 7}, {"第一节", 10}});
        Engine engine;
        QVERIFY(engine.start(bells));
        Listener listener(engine.socket());
        QVERIFY(listener.client.waitForConnected(5000));

        for (const Bell &b : bells) {
            const auto playing = listener.waitFor(timeText(b.seconds), "播放", 15000);
            QVERIFY2(playing, qPrintable(b.name + " was not told playing"));
            QVERIFY((*playing)["delayMs"].isDouble());
            QVERIFY2((*playing)["delayMs"].toInteger() < kLateMs, qPrintable(QString::number((*playing)["delayMs"].toInteger())));
        }
        QVERIFY(listener.waitFor(timeText(bells.last().seconds), "完成", 10000));

        const RpcResult day = rpcCall(engine.socket(), "Day.GetBells", {}, 5000);
        QVERIFY(!day.isError());
        QCOMPARE(day.value()["mode"].toString(), "running");
        QCOMPARE(day.value()["date"].toString(), QDate::currentDate().toString(Qt::ISODate));
        const QJsonArray listed = day.value()["bells"].toArray();
        QCOMPARE(listed.size(), bells.size());
        for (int i = 0; i < bells.size(); ++i) {
            const QJsonObject b = listed[i].toObject();
            QCOMPARE(b["name"].toString(), bells[i].name);
            QCOMPARE(b["time"].toString(), timeText(bells[i].seconds));
            QCOMPARE(b["status"].toString(), "完成");
            QCOMPARE(b["music"].toString(), "bell.wav");
            QVERIFY(b["delayMs"].isDouble());
        }

        ::kill(pid_t(engine.process.processId()), SIGTERM);
        QVERIFY(engine.process.waitForFinished(15000));
        QCOMPARE(engine.process.exitCode(), 0);
        BellStore store;
        QVERIFY(store.open(engine.home.db()).isEmpty());
        for (const Bell &b : bells)
            QCOMPARE(RingHistory(store).outcomes(QDate::currentDate()).of(b.seconds, b.name), BellStatus::Done);
    }

    void aThousandIdleClientsAndATrickleHoldUpNothing()
    {
        const QList<Bell> bells = bellsAhead({{"午休", 12}});
        Engine engine;
        QVERIFY(engine.start(bells));
        Listener listener(engine.socket());
        QVERIFY(listener.client.waitForConnected(5000));

        // Connected and silent, as forgotten scripts or a page's tabs.
        std::vector<int> idle;
        const auto closeIdle = qScopeGuard([&idle] {
            for (int fd : idle)
                ::close(fd);
        });
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(engine.socket()).constData(), sizeof address.sun_path);
        for (int i = 0; i < 1000; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            QVERIFY(fd >= 0);
            idle.push_back(fd);
            QVERIFY2(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0,
                     qPrintable(QString::number(i)));
        }
        // One that sends a request a byte a second.
        QLocalSocket trickle;
        trickle.connectToServer(engine.socket());
        QVERIFY(trickle.waitForConnected(5000));
        const QByteArray line = R"({"jsonrpc":"2.0","id":7,"method":"Engine.GetStatus"})" "\n";
        int sent = 0;
        QTimer drip;
        connect(&drip, &QTimer::timeout, &trickle, [&] {
            if (sent < line.size())
                trickle.write(line.mid(sent++, 1));
        });
        drip.start(1000);

        const RpcResult status = rpcCall(engine.socket(), "Engine.GetStatus", {}, 5000);
        QVERIFY2(!status.isError(), qPrintable(status.error().message));
        QCOMPARE(status.value()["service"].toBool(), true);

        const auto playing = listener.waitFor(timeText(bells[0].seconds), "播放", 20000);
        QVERIFY2(playing, "the bell was not told playing");
        QVERIFY2((*playing)["delayMs"].toInteger() < kLateMs,
                 qPrintable(QString::number((*playing)["delayMs"].toInteger())));
        // Still answering, the idle ones still held (they get the
        // notifications, or nothing yet; never the end of the connection).
        QVERIFY(!rpcCall(engine.socket(), "Day.GetBells", {}, 5000).isError());
        for (int fd : {idle.front(), idle.back()}) {
            char probe;
            QVERIFY(::recv(fd, &probe, 1, MSG_DONTWAIT | MSG_PEEK) != 0);
        }
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<ApiTest>(argc, argv);
}
#include "tst_api.moc"
