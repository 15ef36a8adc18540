// Writes a first timetable into a new bell store so that a new user sees a
// full grid at once. Leaves a store that already holds entries alone.
#include "bellstore.h"
#include "secondsofday.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_sample <dbDaLing.db>\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(QFileInfo(path).absolutePath());
    BellStore store;
    const QString err = store.open(path);
    if (!err.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(err));
        return 1;
    }
    if (!store.list(QStringLiteral("%")).isEmpty())
        return 0;
    const QString weekdays = QStringLiteral("一二三四五");
    struct Row { int h, m; const char16_t *name, *music, *days, *remark; };
    const Row rows[] = {
        {7, 50, u"预备铃", u"预备铃.ogg", nullptr, u"早读前十分钟"},
        {8, 0, u"第一节上课", u"上课铃.wav", nullptr, u""},
        {8, 45, u"第一节下课", u"下课铃.mp3", nullptr, u""},
        {8, 55, u"第二节上课", u"上课铃.wav", nullptr, u""},
        {9, 40, u"第二节下课", u"下课铃.mp3", nullptr, u"大课间"},
        {10, 10, u"第三节上课", u"上课铃.wav", nullptr, u""},
        {10, 55, u"第三节下课", u"下课铃.mp3", nullptr, u""},
        {11, 5, u"第四节上课", u"上课铃.wav", nullptr, u""},
        {11, 50, u"午休", u"下课铃.mp3", nullptr, u""},
        {14, 0, u"下午第一节上课", u"上课铃.wav", nullptr, u""},
        {14, 45, u"下午第一节下课", u"下课铃.mp3", nullptr, u""},
        {14, 55, u"下午第二节上课", u"上课铃.wav", nullptr, u""},
        {15, 40, u"放学", u"下课铃.mp3", nullptr, u""},
        {9, 0, u"周末广播", u"预备铃.ogg", u"日六", u"周末值班"},
    };
    for (const Row &r : rows) {
        BellEntry e;
        e.time = timetoint(r.h, r.m, 0);
        e.name = QString::fromUtf16(r.name);
        e.music = QString::fromUtf16(r.music);
        e.weekdays = r.days ? QString::fromUtf16(r.days) : weekdays;
        e.remark = QString::fromUtf16(r.remark);
        store.insert(e);
    }
    return 0;
}
