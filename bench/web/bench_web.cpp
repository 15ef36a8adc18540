// The remote control at a real dalingd (no display) in a data folder of its
// own, its web on 127.0.0.1: prints the page's first load (the page, its
// script and style) on loopback, the engine's CPU over 10 s idle without
// pages and with N pages connected (WebSockets, logged in), and for bells
// 3 s apart the time from the bell's first sound (recorded at the null
// sink's monitor) to the last page's Bell.OnStatus "播放", beside the same
// for a client of the engine's local socket in the same run (the engine's
// figure without pages). Waits for every bell to end and fails unless each
// ended 完成. Needs a PulseAudio server whose default sink is a null sink:
// bench/web/run.sh starts one.
// Usage: bench_web <dalingd> [pages] [bells]
#include "bellstore.h"
#include "benchtime.h"
#include "onsetrecorder.h"
#include "remotesettings.h"
#include "rpcclient.h"
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
#include <csignal>
#include <cstdio>
#include <map>
#include <unistd.h>

namespace {

constexpr int kGap = 3;

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

QByteArray get(QNetworkAccessManager &net, const QUrl &url)
{
    QNetworkReply *reply = net.get(QNetworkRequest(url));
    (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

// When each listener was told a bell's status, by the bell's "HH:mm:ss".
struct Told {
    std::map<QString, int64_t> client;              // the local socket's client: 播放
    std::map<QString, std::vector<int64_t>> pages;  // every page: 播放
    std::map<QString, QString> ended;               // the client: 完成 or 失败
};

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
    if (!ff.waitForFinished(60000) || ff.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    // Bells after the pages have connected and the idle figures are taken.
    const int first = QTime::currentTime().msecsSinceStartOfDay() / 1000 + 45;
    std::map<QString, int64_t> dueNs;
    {
        BellStore store;
        if (const QString e = store.open(home.filePath("data/dbDaLing.db")); !e.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(e));
            return 1;
        }
        const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
        for (int i = 0; i < bells; ++i) {
            const int s = first + i * kGap;
            store.insert({0, s, QStringLiteral("铃%1").arg(i), "bell.wav", "日一二三四五六", "1", "", {}});
            dueNs[QTime::fromMSecsSinceStartOfDay(s * 1000).toString("HH:mm:ss")] =
                midnight.addSecs(s).toMSecsSinceEpoch() * 1'000'000;
        }
        Settings settings(store);
        RemoteSettings web;
        web.port = port;
        web.address = "127.0.0.1";
        web.save(settings);
        WebAccounts(store).set("bench", WebRole::Viewer, "bench password");
    }
    OnsetRecorder::Options o;
    if (const char *src = std::getenv("BENCH_SOURCE"))
        o.device = src;
    OnsetRecorder rec(o);
    std::string error;
    if (!rec.start(&error)) {
        std::fprintf(stderr, "recorder: %s\n", error.c_str());
        return 1;
    }

    // The engine's runtime folder is its own; the sound server is named by
    // PULSE_SERVER (bench/web/run.sh exports it).
    QProcess engine;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "");
    QTemporaryDir runtime;
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    engine.setProcessEnvironment(env);
    engine.setStandardErrorFile(home.filePath("engine.log"));
    engine.start(exe, {});
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    QNetworkAccessManager net;
    if (!QTest::qWaitFor([&] { return !get(net, QUrl(base + "/")).isEmpty(); }, 20000)) {
        std::fprintf(stderr, "the web did not answer\n");
        return 1;
    }

    // The page's first load: fresh connections each time.
    std::vector<double> loads;
    for (int i = 0; i < 20; ++i) {
        QNetworkAccessManager fresh;
        QElapsedTimer t;
        t.start();
        for (const char *path : {"/", "/app.js", "/style.css"})
            get(fresh, QUrl(base + path));
        loads.push_back(t.nsecsElapsed() / 1e6);
    }
    const bench::Stats load = bench::stats(loads);
    std::printf("first load (page, script, style), 20 times: median %.2f ms, worst %.2f ms\n", load.median, load.worst);

    Told told;
    RpcClient client;
    QObject::connect(&client, &RpcClient::notification, &client, [&](const QString &m, const QJsonValue &p) {
        const int64_t at = OnsetRecorder::wallNs();
        if (m != "Bell.OnStatus")
            return;
        const QString status = p["status"].toString();
        if (status == QStringLiteral("播放"))
            told.client.emplace(p["time"].toString(), at);
        else if (status == QStringLiteral("完成") || status == QStringLiteral("失败"))
            told.ended[p["time"].toString()] = status;
    });
    client.connectToServer(runtime.filePath("daling.sock"));
    if (!client.waitForConnected(5000)) {
        std::fprintf(stderr, "the local socket did not answer\n");
        return 1;
    }

    std::printf("engine idle CPU, no page: %.2f %% of a core over 10 s\n", idleCpuPercent(engine.processId(), 10));

    // One login; its cookie serves every page.
    QNetworkRequest login(QUrl(base + "/api/login"));
    login.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply *reply = net.post(login, R"({"name":"bench","password":"bench password"})");
    (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 20000);
    const QByteArray setCookie = reply->rawHeader("Set-Cookie");
    const QByteArray cookie = setCookie.left(setCookie.indexOf(';'));
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    for (int i = 0; i < pages; ++i) {
        auto ws = std::make_unique<QWebSocket>(base);
        QNetworkRequest r(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/ws").arg(port)));
        r.setRawHeader("Cookie", cookie);
        QObject::connect(ws.get(), &QWebSocket::textMessageReceived, [&told](const QString &text) {
            const int64_t at = OnsetRecorder::wallNs();
            const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
            const QJsonObject p = m.value("params").toObject();
            if (m.value("method").toString() == "Bell.OnStatus" && p.value("status").toString() == QStringLiteral("播放"))
                told.pages[p.value("time").toString()].push_back(at);
        });
        ws->open(r);
        sockets.push_back(std::move(ws));
    }
    const bool allConnected = QTest::qWaitFor([&] {
        return std::all_of(sockets.begin(), sockets.end(),
                           [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; });
    }, 30000);
    if (!allConnected || QTime::currentTime().msecsSinceStartOfDay() / 1000 + 10 >= first) {
        std::fprintf(stderr, "the pages did not connect in time\n");
        return 1;
    }
    std::printf("engine idle CPU, %d pages connected: %.2f %% of a core over 10 s\n", pages,
                idleCpuPercent(engine.processId(), 10));

    // Every bell told to everyone and ended (a bell lasts 1 s).
    const int last = first + (bells - 1) * kGap;
    const int waitMs = (last - QTime::currentTime().msecsSinceStartOfDay() / 1000 + 15) * 1000;
    (void)QTest::qWaitFor([&] {
        if (int(told.ended.size()) < bells || int(told.client.size()) < bells)
            return false;
        return std::all_of(told.pages.begin(), told.pages.end(), [pages](const auto &e) { return int(e.second.size()) >= pages; })
            && int(told.pages.size()) >= bells;
    }, waitMs);
    (void)rec.waitOnset(dueNs.rbegin()->second - 300'000'000, 2000);

    std::vector<double> atClient, atLastPage, onsets;
    bool allDone = true;
    std::printf("bell      onset-after-second  client-after-sound  last-page-after-sound  pages told  ended\n");
    for (const auto &[time, due] : dueNs) {
        const QString ended = told.ended.count(time) ? told.ended.at(time) : QStringLiteral("—");
        allDone = allDone && ended == QStringLiteral("完成");
        const auto onset = bench::onsetIn(rec, due - 300'000'000, due + 2 * bench::kSecondNs);
        const auto c = told.client.find(time);
        const auto p = told.pages.find(time);
        if (!onset || c == told.client.end() || p == told.pages.end()) {
            std::printf("%s  %s  %s\n", qPrintable(time), onset ? "heard" : "not heard", qPrintable(ended));
            continue;
        }
        const int64_t lastPage = *std::max_element(p->second.begin(), p->second.end());
        onsets.push_back((*onset - due) / 1e6);
        atClient.push_back((c->second - *onset) / 1e6);
        atLastPage.push_back((lastPage - *onset) / 1e6);
        std::printf("%s  %8.1f ms         %8.1f ms          %8.1f ms             %4zu       %s\n", qPrintable(time),
                    onsets.back(), atClient.back(), atLastPage.back(), p->second.size(), qPrintable(ended));
    }
    ::kill(pid_t(engine.processId()), SIGTERM);
    engine.waitForFinished(15000);
    const bench::Stats cs = bench::stats(atClient), ps = bench::stats(atLastPage), on = bench::stats(onsets);
    std::printf("status at the last of %d pages after the sound: median %.1f ms, worst %.1f ms (%zu bells)\n", pages,
                ps.median, ps.worst, ps.n);
    std::printf("status at the local socket's client after the sound: median %.1f ms, worst %.1f ms\n", cs.median,
                cs.worst);
    std::printf("onset after the second: median %.1f ms, worst %.1f ms\n", on.median, on.worst);
    if (!allDone)
        std::fprintf(stderr, "not every bell ended 完成 (engine log: kept in a removed folder)\n");
    return allDone && ps.n == size_t(bells) ? 0 : 1;
}
