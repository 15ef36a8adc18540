// The fire alarm's contacts: the debounce on its own, then discrete inputs
// of a Modbus TCP module of the test's own set and cleared by the test.
#include "fakebackend.h"
#include "fakes.h"
#include "fireinputs.h"
#include "modbusserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(FireInput)

class FireInputsTest : public QObject {
    Q_OBJECT
private slots:
    void debounce_data()
    {
        // Readings as "ms:state" (1 closed); the changes each yields.
        QTest::addColumn<QStringList>("readings");
        QTest::addColumn<QString>("changes");
        QTest::newRow("held 200 ms") << QStringList{"0:1", "100:1", "199:1", "200:1"} << "---1";
        QTest::newRow("a bounce") << QStringList{"0:1", "150:0", "250:1", "400:1", "450:1"} << "----1";
        QTest::newRow("open stays open") << QStringList{"0:0", "500:0"} << "--";
        QTest::newRow("closes then opens") << QStringList{"0:1", "200:1", "300:0", "499:0", "500:0"} << "-1--0";
        QTest::newRow("a gap in readings") << QStringList{"0:1", "1000:1"} << "-1";
        QTest::newRow("a short opening") << QStringList{"0:1", "200:1", "300:0", "350:1", "600:0", "700:1"}
                                         << "-1----";
    }
    void debounce()
    {
        QFETCH(QStringList, readings);
        QFETCH(QString, changes);
        ContactDebounce d;
        QString got;
        for (const QString &r : readings) {
            const auto change = d.feed(r.section(':', 1) == "1", r.section(':', 0, 0).toLongLong());
            got += change ? (*change ? u'1' : u'0') : u'-';
        }
        QCOMPARE(got, changes);
    }

    void contactStartsAndEndsTheEmergency()
    {
        qRegisterMetaType<FireInput>();
        ModbusServer server;
        QVERIFY(server.ok());
        SystemClock clock;
        RelayDevices devices;
        FireInputs inputs(devices, clock);
        const QString address = QStringLiteral("127.0.0.1:%1").arg(server.port());
        const FireInput ends{1, "消防主机", "modbus-tcp", address, 5, "疏散.mp3", {2, 3}, true};
        const FireInput stays{2, "二号楼", "modbus-tcp", address, 6, "", {}, false};
        inputs.setInputs({ends, stays});
        QSignalSpy raised(&inputs, &FireInputs::alarmRaised);
        QSignalSpy cleared(&inputs, &FireInputs::alarmCleared);
        inputs.start();
        QTest::qWait(300);
        QCOMPARE(raised.size(), 0); // open contacts start nothing

        QElapsedTimer since;
        server.setInput(5, true);
        since.start();
        QTRY_COMPARE_WITH_TIMEOUT(raised.size(), 1, 10000);
        QVERIFY2(since.elapsed() >= ContactDebounce::kDebounceMs, "not debounced");
        QCOMPARE(raised.first().first().value<FireInput>(), ends);
        QVERIFY(inputs.closed(1));

        server.setInput(6, true);
        QTRY_COMPARE_WITH_TIMEOUT(raised.size(), 2, 10000);
        server.setInput(6, false);
        server.setInput(5, false);
        QTRY_COMPARE_WITH_TIMEOUT(cleared.size(), 1, 10000);
        QCOMPARE(cleared.first().first().value<FireInput>(), ends);
        QTRY_VERIFY(!inputs.closed(2));
        QTest::qWait(200);
        QCOMPARE(cleared.size(), 1); // 断开结束 not set: the operator ends it
        QCOMPARE(raised.size(), 2);
    }

    void deadModuleIsNamedAndRaisesNothing()
    {
        DeadServer dead;
        SystemClock clock;
        RelayDevices devices;
        FireInputs inputs(devices, clock);
        inputs.setInputs({{1, "消防主机", "modbus-tcp", QStringLiteral("127.0.0.1:%1").arg(dead.port()), 0, "", {}, true}});
        QSignalSpy named(&inputs, &FireInputs::unanswered);
        QSignalSpy raised(&inputs, &FireInputs::alarmRaised);
        inputs.start();
        QTRY_COMPARE_WITH_TIMEOUT(named.size(), 1, 10000);
        QCOMPARE(named.first().at(1).toString(), QString("消防输入「消防主机」没有响应"));
        QTest::qWait(2000);
        QCOMPARE(named.size(), 1);
        QCOMPARE(raised.size(), 0);
    }

    // A module that refuses at once is asked less and less often while it
    // fails, and at every poll again once it answers.
    void refusingModuleIsAskedLessOften()
    {
        FakeClock clock;
        FakeBackendState st;
        st.readFails = true;
        RelayDevices devices([&st](const RelayAddress &) { return std::make_unique<FakeBackend>(st); });
        FireInputs inputs(devices, clock);
        inputs.setInputs({{1, "消防主机", "modbus-tcp", "127.0.0.1:1502", 0, "", {}, true}});
        QSignalSpy named(&inputs, &FireInputs::unanswered);
        QSignalSpy answered(&inputs, &FireInputs::answered);
        for (int i = 0; i < 100; ++i) { // 2 s of polls
            const int before = st.readCount();
            inputs.poll();
            QTest::qWait(st.readCount() > before ? 1 : 3); // the answer's signal
            clock.advanceMs(FireInputs::kPollMs);
        }
        QCOMPARE(named.size(), 1);
        QVERIFY2(st.readCount() <= 10, qPrintable(QString::number(st.readCount())));
        QVERIFY(st.readCount() >= 4); // still asked: 100, 200, 400, 800 ms apart

        st.mutex.lock();
        st.readFails = false;
        st.mutex.unlock();
        clock.advanceMs(FireInputs::kMaxRetryMs);
        inputs.poll();
        QTRY_COMPARE(answered.size(), 1);
        for (int i = 0; i < 5; ++i) {
            const int before = st.readCount();
            clock.advanceMs(FireInputs::kPollMs);
            inputs.poll();
            QTRY_VERIFY(st.readCount() > before);
        }
    }

    void inputsThatCannotBeReadAreLeftOut()
    {
        SystemClock clock;
        RelayDevices devices;
        FireInputs inputs(devices, clock);
        // A command pair and an address that does not parse: neither is polled.
        inputs.setInputs({{1, "命令", "command", "a\nb", 0, "", {}, true},
                          {2, "坏", "modbus-tcp", "nowhere", 0, "", {}, true}});
        QSignalSpy named(&inputs, &FireInputs::unanswered);
        inputs.poll();
        QTest::qWait(200);
        QCOMPARE(named.size(), 0);
    }
};

QTEST_GUILESS_MAIN(FireInputsTest)
#include "tst_fireinputs.moc"
