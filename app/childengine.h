#pragma once
// dalingd started as the window's child, for a desktop without the
// service: the bells ring in dalingd while the window is a client of it,
// and they stop with the window however the window ends. A clean end asks
// the child to quit (SIGTERM: it records the bell it cuts and writes its
// history); a window killed outright takes the child with it through
// PR_SET_PDEATHSIG, so no engine is left ringing without a window.
#include "enginehost.h"

#include <QProcess>

class ChildEngine : public EngineHost {
public:
    static inline const QString kNotStarted = QStringLiteral("铃声引擎（%1）没有启动：%2");
    static inline const QString kEnded =
        QStringLiteral("铃声引擎（dalingd）意外结束了（%1），现在铃声不会响。请关闭并重新打开本程序；原因见日志。");
    // How long a clean end waits for the child to write its history.
    static constexpr int kQuitWaitMs = 10000;

    ChildEngine(QString program, QString socketPath, QStringList arguments = {});
    ~ChildEngine() override;

    // Starts it; empty when started, else the text the operator is told.
    QString start();
    // The child's process id (0 when it does not run).
    qint64 pid() const { return m_process.processId(); }
    QProcess &process() { return m_process; }

    QString socketPath() const override { return m_socket; }
    bool endsWithWindow() const override { return true; }
    void setOnEnded(std::function<void(const QString &)> told) override { m_onEnded = std::move(told); }

    // dalingd beside the window's executable.
    static QString besideExecutable();

private:
    QString m_program;
    QString m_socket;
    QStringList m_arguments;
    QProcess m_process;
    std::function<void(const QString &)> m_onEnded;
};
