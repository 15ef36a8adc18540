#pragma once
// Closing the bell system: every close request and the session manager's
// request to end the session ask the operator first; an agreed close fades
// the main window out and ends the program. Bells keep ringing behind the
// question and during the fade, since nothing here blocks the event loop.
#include <QObject>
#include <QPointer>

class Messages;
class QCloseEvent;
class QPropertyAnimation;
class QSessionManager;
class QWidget;

class CloseGuard : public QObject {
    Q_OBJECT
public:
    static QString caption() { return QStringLiteral("系统提示 "); }
    static QString question()
    {
        return QStringLiteral("Quorlin学校铃声广播系统\r\r\r你确定要停止铃声广播系统？ ");
    }
    // Where the engine runs as a service, closing the window stops nothing.
    static QString serviceQuestion()
    {
        return QStringLiteral("Quorlin学校铃声广播系统\r\r\r关闭窗口后，铃声仍按时响起。\r你确定要关闭窗口吗？ ");
    }
    void setBellsGoOn(bool on) { m_bellsGoOn = on; }
    // The question asked now.
    QString currentQuestion() const { return m_bellsGoOn ? serviceQuestion() : question(); }

    // Listens to the application's session-manager requests as well.
    CloseGuard(QWidget *window, Messages &messages, QObject *parent = nullptr);

    // The fade's length; 1000 ms unless a test wants it shorter.
    void setFadeMs(int ms) { m_fadeMs = ms; }
    // An OK to the session's end holds this long: a log-off that another
    // program cancels leaves the program running, and its next close must
    // ask again. Ample for a session manager that goes on to end us.
    static constexpr int kSessionAgreementMs = 30000;
    void setSessionAgreementMs(int ms) { m_agreementMs = ms; }
    bool sessionAgreed() const { return m_sessionAgreed; }

    // Call from the main window's closeEvent. Refuses the close while asking
    // and fading; accepts it once the fade is over.
    void FormCloseQuery(QCloseEvent *event);
    // The session is ending: ask the same question. True = the session may end.
    bool sessionEndQuery();

    bool fading() const { return m_fading; }

signals:
    // The fade has ended and the window is closed.
    void closed();

private:
    void FormClose();
    void fadeFinished();
#ifndef QT_NO_SESSIONMANAGER
    void commitData(QSessionManager &manager);
#endif

    QPointer<QWidget> m_window;
    Messages &m_messages;
    int m_fadeMs = 1000;
    bool m_bellsGoOn = false;
    int m_agreementMs = kSessionAgreementMs;
    quint64 m_agreement = 0; // counts agreements, so an old timer forgets none
    bool m_asking = false;
    bool m_fading = false;
    bool m_finished = false;
    bool m_sessionAgreed = false;
};
