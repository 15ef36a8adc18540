// The sound output choice: the dialog's list and choices (OutputChoice), the
// preview tone, and the main window making and re-pointing its players.
#include "fakes.h"
#include "mpvplayer.h"
#include "outputdialog.h"
#include "soundoutputs.h"
#include "tformmain.h"

#include <QComboBox>
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

    // Made for the kept outputs; re-pointed when the dialog is accepted.
    void windowPlayersFollowTheChoice()
    {
        TempHome home;
        {
            BellStore store;
            QVERIFY(store.open(home.db()).isEmpty());
            Settings settings(store);
            SoundOutputs(settings).setDevice(SoundOutputs::Bells, "pulse/usb_card");
        }
        FakeClock clock{QDateTime(QDate(2026, 12, 9), QTime(8, 0, 0))};
        FakeMessages messages;
        FakeFileDialogs dialogs;
        QStringList madeFor;
        std::vector<FakePlayer *> players;
        MainContext c;
        c.paths = AppPaths(home.path());
        c.clock = &clock;
        c.messages = &messages;
        c.dialogs = &dialogs;
        c.makePlayer = [&](const QString &device) {
            madeFor << device;
            auto p = std::make_unique<FakePlayer>(&clock);
            p->device = device;
            p->offered = offered();
            players.push_back(p.get());
            return p;
        };
        c.autostartFolder = home.path() + "autostart";
        TFormMain form(c);
        // The two bell players, the editor's, the broadcast's.
        QCOMPARE(madeFor, (QStringList{"pulse/usb_card", "pulse/usb_card", "pulse/usb_card", ""}));
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
