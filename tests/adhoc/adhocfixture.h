#pragma once
// One ad-hoc window over a real store in a temporary home, with real tone
// files, the scripted boxes and dialogs, and a player that follows a fake
// clock so that tests decide when a file ends.
#include "fakes.h"
#include "formlinshiguangbo.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// Tones are generated once per run and copied into each test's own home.
inline QString cachedTone(const QString &name, double seconds)
{
    static QTemporaryDir cache;
    const QString path = cache.path() + u'/' + name;
    if (!QFile::exists(path))
        return makeTone(path, seconds);
    return path;
}

// What every ad-hoc test stands on: the home, the store and the fakes.
struct AdhocFakes {
    TempHome home;
    BellStore store;
    FakeClock clock;
    FakePlayer player{&clock};
    FakeMessages msgs;
    FakeFileDialogs dialogs;
};

struct AdhocFixture : AdhocFakes {
    std::unique_ptr<TFormLinShiGuangBo> form;

    AdhocFixture()
    {
        if (store.open(home.db()).isEmpty())
            form = std::make_unique<TFormLinShiGuangBo>(store, player, msgs, dialogs);
    }
    bool ok() const { return form != nullptr; }

    // Real short tones in folder (created under the home), named as given.
    QStringList tones(const QStringList &names, const QString &folder = QStringLiteral("音乐"))
    {
        QDir(home.path()).mkpath(folder);
        QStringList paths;
        for (const QString &n : names) {
            const QString src = cachedTone(QStringLiteral("tone.wav"), 0.2);
            const QString dst = home.path() + folder + u'/' + n;
            QFile::copy(src, dst);
            paths << dst;
        }
        return paths;
    }
    void add(const QStringList &paths)
    {
        dialogs.openManyAnswers.push_back(paths);
        form->ButtonOpenClick();
    }
    QStringList lines() const
    {
        QStringList l;
        for (int i = 0; i < form->ListBox1->count(); ++i)
            l << form->ListBox1->item(i)->text();
        return l;
    }
    // The stored rows as "序号 音乐", read underneath without renumbering.
    QStringList stored() const
    {
        QSqlQuery q(QSqlDatabase::database(store.connectionName()));
        q.exec(QStringLiteral("select 序号, 音乐 from linshi order by 序号, id"));
        QStringList l;
        while (q.next())
            l << q.value(0).toString() + u' ' + q.value(1).toString();
        return l;
    }
    // The centre of line row in the list's viewport.
    QPoint lineCentre(int row) const
    {
        return form->ListBox1->visualItemRect(form->ListBox1->item(row)).center();
    }
    QPoint belowLastLine() const
    {
        const QRect r = form->ListBox1->visualItemRect(form->ListBox1->item(form->ListBox1->count() - 1));
        return QPoint(r.center().x(), r.bottom() + 20);
    }
    void select(int row) { form->ListBox1->setCurrentRow(row); }
    QString playCaption() const { return form->ButtonPlay->text(); }
    QString pauseCaption() const { return form->ButtonPaused->text(); }
    // Time passes: the player follows the clock, the bar's tick runs, the
    // player tells a file's end, and a move-on that is due runs.
    void tick(qint64 ms = 1000)
    {
        clock.advanceMs(ms);
        form->TimerPostionTimer();
        player.advance();
        if (form->adhocPlayer().movingOn())
            form->adhocPlayer().moveOn();
    }
};
