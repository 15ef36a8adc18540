// The remote control at a real dalingd (no display) in a data folder of its
// own, its web on 127.0.0.1: prints the page's first load (the page, its
// script and style) on loopback, the engine's CPU over 10 s idle without
// pages and with N pages connected (WebSockets, logged in), and for bells
// 3 s apart the time from the first page's Bell.OnStatus "播放" to the
// last page's. Sound goes wherever PulseAudio sends it (a bell that cannot
// sound is told as 失败 all the same).
// Usage: bench_web <dalingd> [pages] [bells]
#include "bellstore.h"
#include "remotesettings.h"
#include "settings.h"
#include "webaccounts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(')').last().trimmed().split(' ');
    // utime and stime: fields 14 and 15, 12 and 13 after the name.
    return (parts.value(11).toDouble() + parts.value(12).toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

double idleCpuPercent(qint64 pid, int seconds)
{
    const double before = cpuSeconds(pid);
    QTest::qWait(seconds * 1000);
    return (cpuSeconds(pid) - before) * 100.0 / seconds;
}

QByteArray get(QNetworkAccessManager &net, const QUrl &url, const QByteArray &cookie = {})
{
    QNetworkRequest r(url);
    if (!cookie.isEmpty())
        r.setRawHeader("Cookie", cookie);
    QNetworkReply *reply = net.get(r);
    QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_web <dalingd> [pages] [bells]\n");
        return 2;
    }
    const int pages = argc > 2 ? std::atoi(argv[2]) : 100;
    const int bells = argc > 3 ? std::atoi(argv[3]) : 5;
    QTemporaryDir home;
    QDir(home.path()).mkpath("data");
    QDir(home.path()).mkpath("音乐");
    const QString exe = home.filePath("dalingd");
    QFile::copy(QString::fromLocal8Bit(argv[1]), exe);
    QFile(exe).setPermissions(QFile::permissions(QString::fromLocal8Bit(argv[1])));
    QProcess ff;
    ff.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=880:duration=1",
                        "-ar", "48000", home.filePath("音乐/bell.wav")});
    ff.waitForFinished(60000);
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    // Bells after the pages have connected and the idle figures are taken.
    const int first = QTime::currentTime().msecsSinceStartOfDay() / 1000 + 45;
    {
        BellStore store;
        if (const QString e = store.open(home.filePath("data/dbDaLing.db")); !e.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(e));
            return 1;
        }
        for (int i = 0; i < bells; ++i)
            store.insert({0, first + i * 3, QStringLiteral("铃%1").arg(i), "bell.wav", "日一二三四五六", "1", "", {}});
        Settings settings(store);
        RemoteSettings web;
        web.port = port;
        web.address = "127.0.0.1";
        web.save(settings);
        WebAccounts(store).set("bench", WebRole::Viewer, "bench password");
    }
    QProcess engine;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("QT_QPA_PLATFORM", "");
    QTemporaryDir runtime;
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    engine.setProcessEnvironment(env);
    engine.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    engine.setStandardErrorFile(home.filePath("engine.log"));
    engine.start(exe, {});
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    QNetworkAccessManager net;
    QTest::qWaitFor([&] { return !get(net, QUrl(base + "/")).isEmpty(); }, 20000);

    // The page's first load: fresh connections each time.
    QList<double> loads;
    for (int i = 0; i < 20; ++i) {
        QNetworkAccessManager fresh;
        QElapsedTimer t;
        t.start();
        for (const char *path : {"/", "/app.js", "/style.css"})
            get(fresh, QUrl(base + path));
        loads << t.nsecsElapsed() / 1e6;
    }
    std::sort(loads.begin(), loads.end());
    std::printf("first load (page, script, style), 20 times: median %.2f ms, worst %.2f ms\n",
                loads[loads.size() / 2], loads.last());

    std::printf("engine idle CPU, no page: %.2f %% of a core over 10 s\n", idleCpuPercent(engine.processId(), 10));

    QNetworkRequest login(QUrl(base + "/api/login"));
    login.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply *reply = net.post(login, R"({"name":"bench","password":"bench password"})");
    QTest::qWaitFor([reply] { return reply->isFinished(); }, 20000);
    const QByteArray setCookie = reply->rawHeader("Set-Cookie");
    const QByteArray cookie = setCookie.left(setCookie.indexOf(';'));
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    QHash<QString, QList<qint64>> seen; // bell id → when each page heard 播放 or its end
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < pages; ++i) {
        auto ws = std::make_unique<QWebSocket>(base);
        QNetworkRequest r(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(port)));
        r.setRawHeader("Cookie", cookie);
        QObject::connect(ws.get(), &QWebSocket::textMessageReceived, [&](const QString &text) {
            const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
            if (m.value("method").toString() != "Bell.OnStatus")
                return;
            const QJsonObject p = m.value("params").toObject();
            const QString status = p.value("status").toString();
            if (status == "播放" || status == "失败")
                seen[QString::number(p.value("id").toInteger()) + status] << clock.nsecsElapsed();
        });
        ws->open(r);
        sockets.push_back(std::move(ws));
    }
    QTest::qWaitFor([&] {
        return std::all_of(sockets.begin(), sockets.end(),
                           [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; });
    }, 30000);
    std::printf("engine idle CPU, %d pages connected: %.2f %% of a core over 10 s\n", pages,
                idleCpuPercent(engine.processId(), 10));

    const int last = first + (bells - 1) * 3;
    QTest::qWaitFor([&] { return QTime::currentTime().msecsSinceStartOfDay() / 1000 > last + 3; }, 120000);
    for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
        QList<qint64> t = it.value();
        std::sort(t.begin(), t.end());
        std::printf("bell %s: heard by %lld pages, first to last page %.2f ms\n", qPrintable(it.key()),
                    static_cast<long long>(t.size()), (t.last() - t.first()) / 1e6);
    }
    engine.terminate();
    engine.waitForFinished(15000);
    return 0;
}
