// The window as a client of its engine: attached to an engine that runs on
// its own (the service's case) it shows that engine's list and its close
// question says the bells go on; the engine's refusals come to the window's
// box; the operator's edits are read by the engine; 无人登录时也打铃 offers
// the user's service through recorded answers of systemctl.
#include "closeguard.h"
#include "engineapi.h"
#include "mainwindowfixture.h"
#include "ringengine.h"
#include "schedulemodel.h"
#include "servicemenu.h"
#include "testplayback.h"
#include "zonestore.h"

#include "storekeeper.h"

#include <QAction>
#include <QFile>
#include <QTableView>
#include <QTest>

namespace {
// systemctl, loginctl and id as a test answers them.
struct Runner : CommandRunner {
    QHash<QString, Result> answers; // by program
    QStringList calls;
    Result run(const QString &program, const QStringList &arguments) override
    {
        calls << program + u' ' + arguments.join(u' ');
        if (program == u"systemctl" && (arguments.contains("enable") || arguments.contains("disable"))) {
            enabled = arguments.contains("enable");
            return {true, 0, {}, {}};
        }
        if (program == u"systemctl" && answers.contains(program) && answers[program].exitCode == 0) {
            Result r = answers[program];
            r.out += enabled ? "UnitFileState=enabled\n" : "UnitFileState=disabled\n";
            return r;
        }
        return answers.value(program, Result{false, -1, {}, {}});
    }
    bool enabled = false;
};
} // namespace

class MainWindowClientTest : public QObject {
    Q_OBJECT
    using Fixture = MainWindowFixture;

private slots:
    void attachedToARunningEngineItShowsItsListAndTheBellsGoOn()
    {
        Fixture f;
        f.home.touchMusic("a.mp3");
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            store.insert({0, 8 * 3600 + 10, "第一节", "a.mp3", "一二三四五六日", "5", ""});
        }
        // The service: an engine of its own, on the socket the window finds.
        MainContext engineCtx = f.context();
        const QString socket = f.home.path() + "service.sock";
        auto service = std::make_unique<InProcessEngine>(engineCtx, socket);
        service->core()->engine().TimerShiJianTimer(); // running mode
        MainContext ctx = f.context();
        ctx.makeHost = [socket](const MainContext &) -> std::unique_ptr<EngineHost> {
            return std::make_unique<RunningEngine>(socket, true);
        };
        f.form = std::make_unique<TFormMain>(ctx);
        QVERIFY(f.settle());
        TFormMain &w = *f.form;
        auto *grid = f.find<QTableView>("StringGridshow");
        QCOMPARE(grid->model()->index(0, ScheduleModel::ColName).data().toString(), QStringLiteral("第一节"));
        QVERIFY(w.board().running());

        // Closing asks whether to close the window, not whether to stop the bells.
        w.show();
        w.closeGuard().setFadeMs(10);
        w.close();
        QCOMPARE(f.messages.shown.last().text, CloseGuard::serviceQuestion());
        QVERIFY(CloseGuard::serviceQuestion().contains(QStringLiteral("关闭窗口后，铃声仍按时响起。")));
        // The window gone, its bell still rings at its second.
        f.form.reset();
        f.clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 0, 10, 2)));
        service->core()->engine().TimerShiJianTimer();
        QTRY_COMPARE(service->core()->board().day().status(0), BellStatus::Done);
    }

    void theWindowsOwnEngineStopsWithIt()
    {
        Fixture f;
        f.make();
        f.form->show();
        f.form->closeGuard().setFadeMs(10);
        f.form->close();
        QCOMPARE(f.messages.shown.last().text, CloseGuard::question());
    }

    // The engine refuses, the window's box says its text.
    void refusalsOfTheEngineAreShownInTheBox()
    {
        Fixture f;
        f.home.touchMusic("a.mp3");
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            store.insert({0, 9 * 3600, "第一节", "a.mp3", "一二三四五六日", "5", ""});
        }
        f.make();
        TFormMain &w = *f.form;
        w.show();
        f.tick(); // the first tick: running mode
        w.ButtonPlayClick();
        QVERIFY(f.settle());
        QVERIFY(!w.board().running());
        w.board().setSelectedRow(1);
        w.ButtonCheckClick(); // a test from the selected bell
        QTRY_VERIFY(w.board().testing());
        QVERIFY(w.testPlayback().TimerCheck.isActive());
        w.ButtonPlayClick(); // the tray's menu would not, a script might
        QTRY_COMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.messages.shown.last().text, EngineApi::kModeWhileTesting);
        QVERIFY(!w.app().core().board().running());
        w.ButtonCheckClick(); // 停止测试
        QTRY_VERIFY(!w.board().testing());
    }

    // An edit writes the store; the engine reads it and the copy follows.
    void theOperatorsEditsAreReadByTheEngine()
    {
        Fixture f;
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            store.insert({0, 9 * 3600, "第一节", "a.mp3", "一二三四五六日", "5", ""});
        }
        f.make();
        TFormMain &w = *f.form;
        w.show();
        f.tick(); // running mode: the list is read
        w.ButtonPlayClick(); // editing is for stopped mode
        QVERIFY(f.settle());
        QCOMPARE(w.app().core().board().day().size(), 1);
        w.N6Click(); // 清除打铃列表, agreed
        QTRY_COMPARE(w.app().core().board().day().size(), 0);
        QVERIFY(f.settle());
        QCOMPARE(w.board().day().size(), 0);
    }

    // The engine's keeper writes a deleted store back: the window's edits go
    // to the file that is there, not to the one that went.
    void editsFollowTheStoreTheEngineWroteBack()
    {
        Fixture f;
        f.make();
        TFormMain &w = *f.form;
        w.show();
        f.tick();
        QVERIFY(QFile::remove(f.home.db()));
        w.app().core().storeKeeper().check();
        QTRY_VERIFY(QFile::exists(f.home.db()));
        w.app().reloadEngine(); // the list read again: the window looks at its store
        QVERIFY(f.settle());
        w.store().insert({0, 10 * 3600, "新铃声", "a.mp3", "一", "", ""});
        BellStore fresh;
        QVERIFY(fresh.open(f.home.db()).isEmpty());
        QCOMPARE(fresh.list("%").size(), 1);
    }

    // The engine names a bell's zones; the copy keeps the store's ids for
    // them, so that the editor opens the bell with its zones ticked.
    void aBellsZonesKeepTheStoresIds()
    {
        Fixture f;
        qint64 field = 0;
        {
            BellStore store;
            QVERIFY(store.open(f.home.db()).isEmpty());
            ZoneStore zones(store);
            zones.add({0, "教学楼", "pulse/a", 0});
            field = zones.add({0, "操场", "pulse/b", 0});
            store.insert({0, 9 * 3600, "课间操", "a.mp3", "一二三四五六日", "5", "", {field}});
        }
        f.make();
        f.form->show();
        f.tick(); // running mode: the list is read
        QCOMPARE(f.form->board().day().size(), 1);
        QCOMPARE(f.form->board().day().entry(0).zones, QList<qint64>{field});
        auto *grid = f.find<QTableView>("StringGridshow");
        QCOMPARE(grid->model()->index(0, ScheduleModel::ColRemark).data().toString(), QStringLiteral("【操场】"));
    }

    void theServiceIsOfferedWhereTheUsersSystemdRuns()
    {
        Runner runner;
        runner.answers["systemctl"] = {true, 0, "LoadState=loaded\nActiveState=inactive\n", {}};
        runner.answers["loginctl"] = {true, 0, "Linger=no\n", {}};
        runner.answers["id"] = {true, 0, "teacher\n", {}};
        Fixture f;
        MainContext ctx = f.context();
        ctx.commands = &runner;
        f.form = std::make_unique<TFormMain>(ctx);
        QVERIFY(f.settle());
        ServiceMenu *menu = f.form->serviceMenu();
        QVERIFY(menu);
        auto *item = f.form->findChild<QAction *>("NService");
        QCOMPARE(item->text(), QStringLiteral("无人登录时也打铃"));
        menu->refresh(); // as the menu opens
        QVERIFY(item->isVisible());
        QVERIFY(!item->isChecked());

        item->trigger();
        QVERIFY(item->isChecked());
        QVERIFY(runner.calls.contains("systemctl --user enable --now daling.service"));
        // What root must still do, with its commands.
        const QString told = f.messages.shown.last().text;
        QVERIFY2(told.contains(QStringLiteral("loginctl enable-linger ")) && told.contains(QStringLiteral("audio")),
                 qPrintable(told));

        item->trigger();
        QVERIFY(!item->isChecked());
        QVERIFY(f.messages.shown.last().text.contains(ServiceMenu::kStopped));
    }

    void noServiceIsOfferedWithoutTheUsersSystemd()
    {
        Runner runner; // systemctl missing
        Fixture f;
        MainContext ctx = f.context();
        ctx.commands = &runner;
        f.form = std::make_unique<TFormMain>(ctx);
        f.form->serviceMenu()->refresh();
        QVERIFY(!f.form->findChild<QAction *>("NService")->isVisible());
    }
};

QTEST_MAIN(MainWindowClientTest)
#include "tst_mainwindow_client.moc"
