#pragma once
// Runs the independent spreadsheet writers and readers of sheets.py with
// Debian's python3 (the one that has xlrd, xlwt and openpyxl).
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

inline bool runSheetsPy(const QStringList &args, QByteArray *out = nullptr, QString *why = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{qEnvironmentVariable("DALING_SHEETS_PY")} + args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (why)
            *why = QString::fromUtf8(p.readAllStandardError()).right(400);
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

// Makes a sample file of the kind ("xls", "xlsx", "ods", "csv-utf8" …), or
// skips the test when python3 or its module is missing.
#define MAKE_SHEET(kind, path)                                                        \
    do {                                                                              \
        QString why_;                                                                 \
        if (!runSheetsPy({QStringLiteral("make"), kind, path}, nullptr, &why_))      \
            QSKIP(qPrintable(QStringLiteral("python3 writer unavailable: ") + why_)); \
    } while (0)
