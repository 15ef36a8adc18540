#pragma once
// daling --check-sheet FILE [--music-dir DIR | --no-music-check]
//
// Reads FILE exactly as 导入EXCEL would and changes nothing: one line per
// bell it would store (时间, 名称, 音乐, 周期, 时长, 备注, tab-separated),
// then the summary of the import's question; or the refusal. Exit codes:
// 0 the import would go ahead, 1 it would be refused, 2 a usage error.
// Needs no display and no sound.
#include <QStringList>

class QTextStream;

namespace SheetCheck {
// Whether the command line asks for the check.
bool wanted(int argc, char **argv);
// The whole command, with its own QCoreApplication; returns the exit code.
int main(int argc, char **argv);
// The arguments after the program's name; defaultMusicFolder ends in '/'.
int run(const QStringList &args, const QString &defaultMusicFolder, QTextStream &out, QTextStream &err);
}
