#pragma once
// What the import and export tests share: a temporary home with a store
// holding two old entries, the fake boxes and dialogs, and helpers.
#include "apppaths.h"
#include "bellstore.h"
#include "fakes.h"
#include "dayschedule.h"
#include "secondsofday.h"
#include "sheetimport.h"

#include <QtTest>
#include <memory>

inline QList<BellEntry> withoutIds(QList<BellEntry> l)
{
    for (auto &e : l)
        e.id = 0;
    return l;
}

inline BellEntry entry(qint64 t, const QString &name, const QString &music, const QString &days,
                const QString &duration = {}, const QString &remark = {})
{
    BellEntry e;
    e.time = t;
    e.name = name;
    e.music = music;
    e.weekdays = days;
    e.duration = duration;
    e.remark = remark;
    return e;
}

// The list as a Refresh in stopped mode leaves it.
inline void fillGrid(DaySchedule &d, const QList<BellEntry> &entries)
{
    d.reset(entries, {}, 0);
}


class ImportFixture {
protected:
    void setUp()
    {
        m_home = std::make_unique<TempHome>();
        m_paths = std::make_unique<AppPaths>(m_home->path());
        m_store = std::make_unique<BellStore>();
        QCOMPARE(m_store->open(m_home->db()), QString());
        m_messages = FakeMessages();
        m_dialogs = FakeFileDialogs();
        m_events = m_refreshes = 0;
        m_old = {entry(27000, "旧的", "old.mp3", "一"), entry(30000, "旧的二", "old.mp3", "二")};
        m_home->touchMusic("old.mp3");
        m_store->replaceAll(m_old);
    }
    void tearDown() { m_store.reset(); }

    SheetImport makeImport()
    {
        return SheetImport(*m_store, *m_paths, m_messages, m_dialogs, [this] { ++m_events; },
                           [this] { ++m_refreshes; });
    }
    static void writeCsv(const QString &path, const QByteArray &utf8)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(utf8);
    }
    static QString dataFile(const QString &name) { return qEnvironmentVariable("DALING_TEST_DATA") + "/" + name; }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<AppPaths> m_paths;
    std::unique_ptr<BellStore> m_store;
    FakeMessages m_messages;
    FakeFileDialogs m_dialogs;
    int m_events = 0;
    int m_refreshes = 0;
    QList<BellEntry> m_old;
};
