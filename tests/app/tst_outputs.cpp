// The sound output choice: the dialog's list and choices (OutputChoice), the
// preview tone, and the main window making and re-pointing its players.
#include "fakes.h"
#include "testcontext.h"
#include "mpvplayer.h"
#include "outputdialog.h"
#include "soundoutputs.h"
#include "ringengine.h"
#include "snapstatus.h"
#include "tformmain.h"
#include "zonedialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QSpinBox>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

class OutputsTest : public QObject {
    Q_OBJECT

    struct Store {
        TempHome home;
        BellStore store;
        std::unique_ptr<Settings> settings;
        Store()
        {
            if (!store.open(home.db()).isEmpty())
                qFatal("store did not open");
            settings = std::make_unique<Settings>(store);
        }
    };
    static QList<AudioOutputDevice> offered()
    {
        return {{"auto", "Autoselect device"},
                {"pulse/usb_card", "USB Audio"},
                {"pulse/halls", "Simultaneous output to hall_a, hall_b"}};
    }
    static QStringList texts(const OutputChoice &c)
    {
        QStringList t;
        for (int i = 0; i < c.count(); ++i)
            t << c.text(i);
        return t;
    }

private slots:
    void listAndChoices_data()
    {
        QTest::addColumn<QString>("keptBells");
        QTest::addColumn<bool>("listFails");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("bellsAt");
        const QString dflt = OutputChoice::kDefaultText;
        QTest::newRow("nothing kept") << QString() << false
            << QStringList{dflt, "USB Audio（pulse/usb_card）", "Simultaneous output to hall_a, hall_b（pulse/halls）"} << 0;
        QTest::newRow("kept and offered") << "pulse/halls" << false
            << QStringList{dflt, "USB Audio（pulse/usb_card）", "Simultaneous output to hall_a, hall_b（pulse/halls）"} << 2;
        // An unplugged card stays chosen and says so.
        QTest::newRow("kept, unplugged") << "pulse/old_card" << false
            << QStringList{dflt, "USB Audio（pulse/usb_card）", "Simultaneous output to hall_a, hall_b（pulse/halls）",
                           "pulse/old_card（当前不存在）"} << 3;
        QTest::newRow("server silent") << "pulse/halls" << true
            << QStringList{dflt, "pulse/halls（当前不存在）"} << 1;
    }
    void listAndChoices()
    {
        QFETCH(QString, keptBells);
        QFETCH(bool, listFails);
        QFETCH(QStringList, texts);
        QFETCH(int, bellsAt);
        Store s;
        if (!keptBells.isEmpty())
            SoundOutputs(*s.settings).setDevice(SoundOutputs::Bells, keptBells);
        FakeClock clock;
        FakePlayer lister(&clock);
        lister.offered = offered();
        lister.listFails = listFails;
        OutputChoice c(*s.settings);
        QCOMPARE(c.load(lister).isEmpty(), !listFails);
        QCOMPARE(OutputsTest::texts(c), texts);
        QCOMPARE(c.chosen(SoundOutputs::Bells), bellsAt);
        QCOMPARE(c.chosen(SoundOutputs::Broadcast), 0);
        QCOMPARE(c.device(SoundOutputs::Bells), keptBells);
    }

    void choicesAreKeptUnderTheirNames()
    {
        Store s;
        FakeClock clock;
        FakePlayer lister(&clock);
        lister.offered = offered();
        OutputChoice c(*s.settings);
        c.load(lister);
        c.choose(SoundOutputs::Bells, 2);
        c.choose(SoundOutputs::Broadcast, 99); // out of range: ignored
        c.save();
        QCOMPARE(s.settings->value("铃声输出"), QStringLiteral("pulse/halls"));
        QCOMPARE(s.settings->value("广播输出", "unset"), QString()); // the default: empty
        // The operator knows it by the description picked, also once unplugged.
        const QString halls = QStringLiteral("Simultaneous output to hall_a, hall_b");
        QCOMPARE(SoundOutputs(*s.settings).label("pulse/halls"), halls);
        QCOMPARE(SoundOutputs(*s.settings).label("pulse/other"), QStringLiteral("pulse/other"));
        lister.listFails = true;
        OutputChoice later(*s.settings);
        later.load(lister);
        QCOMPARE(later.text(later.chosen(SoundOutputs::Bells)), halls + QStringLiteral("（当前不存在）"));
    }

    // What a school can use: the sound server's outputs and each real card
    // once, never ALSA's plugins or the other backends' devices.
    void onlyUsableOutputsAreListed()
    {
        const QList<AudioOutputDevice> offered = {
            {"auto", "Autoselect device"},
            {"pulse/alsa_output.pci-0000_00_1f.3.analog-stereo", "内置音频 模拟立体声"},
            {"alsa/jack", "JACK Audio Connection Kit"},
            {"alsa/lavrate", "Rate Converter Plugin Using Libav/FFmpeg Library"},
            {"alsa/pulse", "PulseAudio Sound Server"},
            {"alsa/default", "Default ALSA Output (currently PulseAudio Sound Server)"},
            {"alsa/front:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog/Front output"},
            {"alsa/plughw:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog/Hardware with conversions"},
            {"alsa/sysdefault:CARD=PCH", "HDA Intel PCH, ALC892 Analog/Default Audio Device"},
            {"alsa/dmix:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog/Direct sample mixing device"},
            {"alsa/hdmi:CARD=NVidia,DEV=0", "HDA NVidia, HDMI 0/HDMI Audio Output"},
            {"alsa/plughw:CARD=Device,DEV=0", "USB Audio Device/Hardware with conversions"},
            {"jack", "Default (jack)"},
            {"sdl", "Default (sdl)"},
        };
        QStringList names;
        for (const AudioOutputDevice &d : OutputChoice::usable(offered))
            names << d.name;
        QCOMPARE(names, (QStringList{"pulse/alsa_output.pci-0000_00_1f.3.analog-stereo", "alsa/hdmi:CARD=NVidia,DEV=0",
                                     "alsa/sysdefault:CARD=PCH", "alsa/plughw:CARD=Device,DEV=0"}));
    }

    // The tone is a real file libmpv plays, about 0.6 s long, on the output asked for.
    void previewPlaysItsOwnTone()
    {
        MpvPlayer check(MpvPlayer::Output::Null);
        FakeClock clock;
        FakePlayer *made = nullptr;
        OutputPreview preview([&](const QString &) {
            auto p = std::make_unique<FakePlayer>(&clock);
            made = p.get();
            return p;
        });
        preview.play("pulse/halls");
        QVERIFY(made && made->isPlaying());
        QCOMPARE(made->device, QStringLiteral("pulse/halls"));
        check.setFileName(preview.toneFile());
        check.open();
        QVERIFY2(qAbs(check.length() - 600) <= 30, qPrintable(QString::number(check.length())));
    }

    // Zones are added, renamed and deleted in their dialog; the output list
    // is 声音输出's without the system default; 试听 plays on the zone's output.
    void zoneDialogAddsRenamesListensAndDeletes()
    {
        Store s;
        FakeClock clock;
        FakeMessages messages;
        std::vector<FakePlayer *> made;
        ZoneStore zones(s.store);
        OutputChoice outputs(*s.settings);
        ZoneDialog dlg(zones, outputs, [&](const QString &) {
            auto p = std::make_unique<FakePlayer>(&clock);
            p->offered = offered();
            made.push_back(p.get());
            return p;
        }, messages);
        QCOMPARE(dlg.output->count(), 2);
        dlg.name->setText("操场");
        dlg.addZone();
        dlg.output->setCurrentIndex(1);
        dlg.lead->setValue(400);
        dlg.name->setText("操场 ");
        dlg.saveZone(); // the same zone, its output and 提前 changed
        dlg.addZone(); // a second 操场 is refused
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY(messages.shown[0].text.contains("已经使用"));
        QCOMPARE(zones.list(), (QList<Zone>{{zones.list()[0].id, "操场", "pulse/halls", 400}}));
        dlg.listen();
        QCOMPARE(made.back()->device, QStringLiteral("pulse/halls"));
        messages.answers.push_back(Messages::Answer::No);
        dlg.deleteZone();
        QCOMPARE(zones.list().size(), 1);
        messages.answers.push_back(Messages::Answer::Yes);
        dlg.deleteZone();
        QVERIFY(zones.list().isEmpty());
        QVERIFY(dlg.changed());
    }

    // A zone on a Snapcast stream nobody listens to is shown in the failed
    // colour; the server's address is kept from the dialog.
    void zoneDialogShowsWhoListens()
    {
        QTcpServer server; // a snapserver whose stream "halls" has no client
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, &server, [&server] {
            QTcpSocket *c = server.nextPendingConnection();
            connect(c, &QTcpSocket::readyRead, c, [c] {
                c->readAll();
                c->write(R"({"id":7,"jsonrpc":"2.0","result":{"server":{"groups":[],"streams":[{"id":"halls"}]}}})" "\n");
            });
        });
        Store s;
        FakeClock clock;
        FakeMessages messages;
        ZoneStore zones(s.store);
        zones.add({0, "操场", "pulse/halls", 400});
        zones.add({0, "本机", "pulse/usb_card", 0});
        OutputChoice outputs(*s.settings);
        SnapStatus snap;
        snap.setServer("127.0.0.1", server.serverPort());
        QSignalSpy answered(&snap, &SnapStatus::updated);
        ZoneDialog dlg(zones, outputs, [&](const QString &) {
            auto p = std::make_unique<FakePlayer>(&clock);
            p->offered = {{"pulse/usb_card", "USB Audio"}, {"pulse/halls", "Unix FIFO sink /tmp/halls.fifo"}};
            return p;
        }, messages, nullptr, &snap, s.settings.get());
        QVERIFY(answered.wait(3000));
        const QListWidgetItem *field = dlg.list->findItems("操场", Qt::MatchExactly).value(0);
        QVERIFY(field && field->background() != QBrush());
        QCOMPARE(dlg.list->findItems("本机", Qt::MatchExactly).value(0)->background(), QBrush());
        dlg.list->setCurrentItem(const_cast<QListWidgetItem *>(field));
        QVERIFY2(dlg.listeners->text().contains(SnapStatus::kNobodyListens), qPrintable(dlg.listeners->text()));

        dlg.snapHost->setText("");
        dlg.applySnapServer();
        QCOMPARE(messages.shown.size(), 1);
        dlg.snapHost->setText("192.0.2.7");
        dlg.snapPort->setValue(1800);
        dlg.applySnapServer();
        QCOMPARE(s.settings->value(SnapStatus::kHostSetting), QStringLiteral("192.0.2.7"));
        QCOMPARE(snap.port(), quint16(1800));
    }

    // A school without a Snapcast zone is never asked about its server: the
    // part stays hidden until a zone plays on a pipe sink.
    void zoneDialogAsksSnapcastOnlyForAPipeSinkZone()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int asked = 0;
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            ++asked;
            QTcpSocket *c = server.nextPendingConnection();
            connect(c, &QTcpSocket::readyRead, c, [c] {
                c->readAll();
                c->write(R"({"id":7,"jsonrpc":"2.0","result":{"server":{"groups":[],"streams":[{"id":"bldg"}]}}})" "\n");
            });
        });
        Store s;
        FakeClock clock;
        FakeMessages messages;
        ZoneStore zones(s.store);
        zones.add({0, "本机", "pulse/usb_card", 0});
        zones.add({0, "大厅", "pulse/halls", 0});
        OutputChoice outputs(*s.settings);
        SnapStatus snap;
        snap.setServer("127.0.0.1", server.serverPort());
        QSignalSpy answered(&snap, &SnapStatus::updated);
        ZoneDialog dlg(zones, outputs, [&](const QString &) {
            auto p = std::make_unique<FakePlayer>(&clock);
            p->offered = offered() << AudioOutputDevice{"pulse/bldg", "Unix FIFO sink /tmp/bldg.fifo"};
            return p;
        }, messages, nullptr, &snap, s.settings.get());
        QVERIFY(!snap.fetching());
        QTest::qWait(ZoneDialog::kAskEveryMs + 300);
        QCOMPARE(asked, 0);
        QVERIFY(!dlg.snapPart->isVisibleTo(&dlg) && !dlg.listeners->isVisibleTo(&dlg));

        dlg.name->setText("教学楼");
        dlg.output->setCurrentIndex(dlg.output->findData("pulse/bldg"));
        dlg.addZone();
        QVERIFY(dlg.snapPart->isVisibleTo(&dlg));
        QVERIFY(answered.wait(3000));
        QCOMPARE(asked, 1);
        QVERIFY2(dlg.snapState->text().contains("bldg"), qPrintable(dlg.snapState->text()));
        // Its zone deleted, the section hides and the asking stops.
        messages.answers.push_back(Messages::Answer::Yes);
        dlg.deleteZone();
        QCOMPARE(zones.list().size(), 2);
        QVERIFY(!dlg.snapPart->isVisibleTo(&dlg));
        QTest::qWait(ZoneDialog::kAskEveryMs + 300);
        QCOMPARE(asked, 1);
    }

    // Made for the kept outputs; re-pointed when the dialog is accepted.
    void windowPlayersFollowTheChoice()
    {
        TempHome home;
        {
            BellStore store;
            QVERIFY(store.open(home.db()).isEmpty());
            Settings settings(store);
            SoundOutputs(settings).setDevice(SoundOutputs::Bells, "pulse/usb_card", "USB Audio");
        }
        FakeClock clock{QDateTime(QDate(2026, 12, 9), QTime(8, 0, 0))};
        FakeMessages messages;
        FakeFileDialogs dialogs;
        QStringList madeFor;
        std::vector<FakePlayer *> players;
        MainContext c = testContext(home, clock, messages, dialogs);
        c.makePlayer = [&](const QString &device) {
            madeFor << device;
            auto p = std::make_unique<FakePlayer>(&clock);
            p->device = device;
            p->offered = offered();
            players.push_back(p.get());
            return p;
        };
        TFormMain form(c);
        // The two bell players, the editor's, the broadcast's.
        QCOMPARE(madeFor, (QStringList{"pulse/usb_card", "pulse/usb_card", "pulse/usb_card", ""}));
        // A bell's fallback message names the output as the operator picked it.
        QCOMPARE(form.engine().outputLabel("pulse/usb_card"), QStringLiteral("USB Audio"));
        const std::vector<FakePlayer *> windowPlayers = players;

        QTimer::singleShot(0, [&] {
            auto *d = form.findChild<OutputDialog *>("OutputDialog");
            QVERIFY(d);
            d->refresh();
            QCOMPARE(d->combo(SoundOutputs::Bells)->currentText(), QStringLiteral("USB Audio（pulse/usb_card）"));
            d->combo(SoundOutputs::Broadcast)->setCurrentIndex(2);
            emit d->combo(SoundOutputs::Broadcast)->activated(2);
            d->accept();
        });
        QAction *item = nullptr;
        for (QAction *a : form.menuBar()->actions().first()->menu()->actions())
            if (a->text() == OutputDialog::kMenuText)
                item = a;
        QVERIFY(item);
        item->trigger();
        QCOMPARE(windowPlayers[3]->device, QStringLiteral("pulse/halls"));
        QCOMPARE(windowPlayers[0]->device, QStringLiteral("pulse/usb_card"));
        QVERIFY(messages.shown.isEmpty());
    }
};

QTEST_MAIN(OutputsTest)
#include "tst_outputs.moc"
