// The channel's answer time to one client while others crowd it: 1,000
// idle connections and one client sending its request a byte a second; then
// the same while the engine sends every client 64 KB notifications every
// 20 ms, which none of the 1,001 reads. Then how long one notification takes
// to reach 100 clients that read.
// The server runs on a thread of its own, as the engine's event loop would.
// usage: bench_rpc [calls per row, default 300]
#include "rpcclient.h"
#include "rpcpeer.h"
#include "rpcserver.h"
#include "rpctestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

double nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void print(const char *name, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
    std::printf("  %-58s median %.3f ms  p99 %.3f ms  worst %.3f ms  (%zu)\n", name, at(0.5), at(0.99),
                ms.back(), ms.size());
}

std::vector<double> pings(RpcClient &client, int calls)
{
    std::vector<double> ms;
    for (int i = 0; i < calls; ++i) {
        const double t = nowMs();
        const RpcResult r = client.callSync("Engine.Ping", {}, 5000);
        if (r.isError()) {
            std::fprintf(stderr, "ping failed: %s\n", qPrintable(r.error().message));
            continue;
        }
        ms.push_back(nowMs() - t);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    rpcRaiseFileLimit();
    SocketFolder folder;
    ServerThread server(folder.path(), [](RpcServer &s) {
        RpcServer::Bounds bounds;
        bounds.maxPerUser = 2000;
        s.setBounds(bounds);
        s.registerMethod("Engine.Ping", [](const QJsonValue &) { return QJsonValue("pong"); });
    });
    if (!server.listening())
        return 1;
    RpcClient client;
    client.connectToServer(folder.path());
    if (!client.waitForConnected(2000))
        return 1;

    std::printf("Engine.Ping round trip, server on its own thread:\n");
    print("alone", pings(client, calls));

    std::vector<std::unique_ptr<RawClient>> idle(1000);
    for (auto &c : idle) {
        c = std::make_unique<RawClient>();
        if (!c->connectTo(folder.path()))
            return 1;
    }
    // One byte a second, from a thread of its own (the calls below block).
    RawClient slow;
    if (!slow.connectTo(folder.path()))
        return 1;
    std::atomic<bool> stop = false;
    std::thread trickle([&] {
        const QByteArray line = rpcRequestLine(1, "Engine.Ping", {});
        for (qsizetype i = 0; !stop; i = (i + 1) % line.size()) {
            ::send(slow.fd(), line.constData() + i, 1, MSG_NOSIGNAL);
            for (int t = 0; t < 10 && !stop; ++t)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    print("1,000 idle, 1 sending a byte a second", pings(client, calls));

    QTimer *flood = nullptr;
    server.run([&flood](RpcServer &s) {
        flood = new QTimer(&s);
        const QJsonArray payload{QString(64 * 1024, QLatin1Char('n'))};
        QObject::connect(flood, &QTimer::timeout, &s, [&s, payload] { s.notify("Test.OnBig", payload); });
        flood->start(20);
    });
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the bounds are reached
    print("the same, 64 KB to all every 20 ms, nobody reading", pings(client, calls));
    qint64 dropped = 0, unsent = 0;
    server.run([&](RpcServer &s) {
        delete flood;
        dropped = s.droppedNotifications();
        unsent = s.unsentBytes();
    });
    std::printf("  (then: %lld notifications dropped, %.1f MB waiting for the clients)\n",
                static_cast<long long>(dropped), double(unsent) / 1048576.0);
    stop = true;
    trickle.join();
    idle.clear();
    slow.close();

    // One notification to 100 clients: from notify() to the last client.
    std::vector<std::unique_ptr<RpcClient>> listeners(100);
    std::vector<double> lastArrival;
    double worstNow = 0;
    int heard = 0;
    for (auto &l : listeners) {
        l = std::make_unique<RpcClient>();
        QObject::connect(l.get(), &RpcClient::notification, [&](const QString &method, const QJsonValue &p) {
            if (method != "Bell.OnRing")
                return;
            worstNow = std::max(worstNow, nowMs() - p.toObject().value("sent").toDouble());
            if (++heard % 100 == 0) {
                lastArrival.push_back(worstNow);
                worstNow = 0;
            }
        });
        l->connectToServer(folder.path());
        l->waitForConnected(2000);
    }
    server.run([](RpcServer &s) {
        auto *timer = new QTimer(&s);
        QObject::connect(timer, &QTimer::timeout, &s, [&s] {
            s.notify("Bell.OnRing", QJsonObject{{"sent", nowMs()}, {"名称", QStringLiteral("上课铃")}});
        });
        timer->start(50);
    });
    QEventLoop loop;
    QTimer::singleShot(std::max(2000, calls * 20), &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("Bell.OnRing from notify() to the last of 100 clients (one thread for all):\n");
    if (!lastArrival.empty())
        print("each notification's last arrival", lastArrival);
    return 0;
}
