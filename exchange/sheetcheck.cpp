#include "sheetcheck.h"

#include "apppaths.h"
#include "bellsheet.h"
#include "secondsofday.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextStream>
#include <cstdio>
#include <cstring>

namespace {

const char kOption[] = "--check-sheet";

QString usage()
{
    return QStringLiteral("用法：daling --check-sheet 文件 [--music-dir 音乐文件夹 | --no-music-check]");
}

// One bell per line: texts keep their tabs and line breaks visible.
QString field(const QString &text)
{
    QString s = text;
    s.replace(u'\\', QStringLiteral("\\\\"));
    s.replace(u'\t', QStringLiteral("\\t"));
    s.replace(u'\n', QStringLiteral("\\n"));
    s.replace(u'\r', QStringLiteral("\\r"));
    return s;
}

// The messages separate their lines with carriage returns, as the boxes
// show them; a terminal wants line feeds.
QString forTerminal(QString message)
{
    return message.replace(u'\r', u'\n');
}

} // namespace

namespace SheetCheck {

bool wanted(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], kOption) == 0)
            return true;
    return false;
}

int run(const QStringList &args, const QString &defaultMusicFolder, QTextStream &out, QTextStream &err)
{
    QString file, musicFolder = defaultMusicFolder;
    bool checkMusic = true, asked = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String(kOption) && !asked && i + 1 < args.size()) {
            asked = true;
            file = args[++i];
        } else if (a == u"--music-dir" && i + 1 < args.size()) {
            musicFolder = args[++i];
            if (!musicFolder.endsWith(u'/'))
                musicFolder += u'/';
        } else if (a == u"--no-music-check") {
            checkMusic = false;
        } else {
            err << usage() << Qt::endl;
            return 2;
        }
    }
    if (!asked || file.isEmpty()) {
        err << usage() << Qt::endl;
        return 2;
    }

    std::function<bool(const QString &)> exists;
    if (checkMusic)
        exists = [&musicFolder](const QString &name) { return QFileInfo(musicFolder + name).isFile(); };
    BellSheetPlan plan;
    try {
        plan = BellSheetReader(musicFolder, exists).read(readSheetFile(file));
    } catch (const AppError &e) {
        plan.problem = e.text();
    }
    if (!plan.problem.isEmpty()) {
        out << forTerminal(plan.problem) << Qt::endl;
        return 1;
    }
    for (const BellEntry &e : plan.entries)
        out << inttotime(e.time) << u'\t' << field(e.name) << u'\t' << field(e.music) << u'\t'
            << e.weekdays << u'\t' << field(e.duration) << u'\t' << field(e.remark) << u'\n';
    out << plan.summary() << Qt::endl;
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The refusal is the command's own output; its info line in the log
    // would only repeat it on standard error. Warnings still show.
    QLoggingCategory::setFilterRules(QStringLiteral("daling.exchange.info=false"));
    QTextStream out(stdout), err(stderr);
    return run(QCoreApplication::arguments().mid(1), AppPaths::besideExecutable().musicFolder(), out, err);
}

} // namespace SheetCheck
