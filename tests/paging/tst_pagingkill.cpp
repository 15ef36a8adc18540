// dalingd killed (-9) in the middle of a live announcement: the sound
// server is left with nothing of it, no stream from the microphone, none to
// the zones and no module, so a microphone never stays live; the record it
// wrote says the announcement never ended normally after the next start.
#include "audiotestutil.h"
#include "bellstore.h"
#include "fakes.h"
#include "pagingservice.h"
#include "pagingsound.h"
#include "ringhistory.h"
#include "rpcclient.h"
#include "settings.h"
#include "zonestore.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class PagingKillTest : public QObject {
    Q_OBJECT
    PrivatePulse m_pulse;

private slots:
    void initTestCase()
    {
        QVERIFY(m_pulse.start("mic"));
        QVERIFY(loadNullSink("zoneA"));
    }

    void aKilledEngineLeavesNothingLive()
    {
        TempHome home;
        QTemporaryDir runtime;
        {
            BellStore store;
            QVERIFY(store.open(home.db()).isEmpty());
            ZoneStore(store).add({0, "教学楼A", "pulse/zoneA", 0});
            Settings s(store);
            s.setValue(PagingService::kInputSetting, "mic.monitor");
            s.setFlag(PagingService::kChimeSetting, false);
        }
        const QStringList modules = pactlShort("modules");
        QCOMPARE(pactlShort("source-outputs"), QStringList{});
        QProcess engine;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("NOTIFY_SOCKET");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        engine.setProcessEnvironment(env);
        engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        engine.start(home.place(QStringLiteral(DALINGD_BIN)), {});
        const QString socket = runtime.filePath("daling.sock");
        QVERIFY(engine.waitForStarted(5000));
        QVERIFY(QTest::qWaitFor([&] {
            const RpcResult r = rpcCall(socket, "Engine.GetStatus", {}, 1000);
            return !r.isError() && !r.value()["starting"].toBool();
        }, 30000));
        const RpcResult r = rpcCall(socket, "Paging.Start", QJsonObject{{"zones", QJsonArray{"教学楼A"}}, {"by", "测试"}}, 8000);
        QVERIFY2(!r.isError(), qPrintable(r.error().message));
        QCOMPARE(pactlShort("source-outputs").size(), 1); // the microphone is live
        QCOMPARE(pactlShort("sink-inputs").size(), 1);    // … heard in the zone

        ::kill(pid_t(engine.processId()), SIGKILL);
        QVERIFY(engine.waitForFinished(5000));
        QVERIFY(QTest::qWaitFor([] { return pactlShort("source-outputs").isEmpty(); }, 5000));
        QCOMPARE(pactlShort("sink-inputs"), QStringList{});
        QCOMPARE(pactlShort("modules"), modules);

        // The next start closes the record the killed run left open.
        BellStore store;
        QVERIFY(store.open(home.db()).isEmpty());
        RingHistory history(store);
        QCOMPARE(history.closeUnended(), 1);
        const QList<RingRecord> recs = history.day(QDate::currentDate());
        QCOMPARE(recs.size(), 1);
        QCOMPARE(recs[0].name, PagingService::kName);
        QCOMPARE(recs[0].result, BellStatus::Interrupted);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runWithRealSound<PagingKillTest>(argc, argv);
}
#include "tst_pagingkill.moc"
