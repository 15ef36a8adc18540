#include "childengine.h"

#include "logging.h"

#include <QCoreApplication>
#include <QDir>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

ChildEngine::ChildEngine(QString program, QString socketPath, QStringList arguments)
    : m_program(std::move(program)), m_socket(std::move(socketPath)), m_arguments(std::move(arguments))
{
}

ChildEngine::~ChildEngine()
{
    // Its end is ours now, nothing to tell.
    QObject::disconnect(&m_process, nullptr, nullptr, nullptr);
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kQuitWaitMs)) {
        qCWarning(lcApp) << "the engine did not end in time; killed";
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

QString ChildEngine::besideExecutable()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("dalingd"));
}

QString ChildEngine::start()
{
    // Its log goes where the window's goes (the session's journal).
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    const pid_t parent = ::getpid();
    m_process.setChildProcessModifier([parent] {
        // Only async-signal-safe calls here: between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The window died before the line above: nobody would end us.
        if (::getppid() != parent)
            ::raise(SIGTERM);
    });
    m_process.start(m_program, m_arguments);
    if (!m_process.waitForStarted(5000)) {
        const QString why = m_process.errorString();
        qCWarning(lcApp).noquote() << "the engine" << m_program << "did not start:" << why;
        return kNotStarted.arg(m_program, why);
    }
    qCInfo(lcApp) << "the engine runs as our child, pid" << m_process.processId();
    QObject::connect(&m_process, &QProcess::finished, [this](int code, QProcess::ExitStatus status) {
        const QString how = status == QProcess::CrashExit ? QStringLiteral("崩溃") : QStringLiteral("退出代码 %1").arg(code);
        qCWarning(lcApp).noquote() << "the engine ended before the window:" << how;
        if (m_onEnded)
            m_onEnded(kEnded.arg(how));
    });
    return {};
}
