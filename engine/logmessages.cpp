#include "logmessages.h"

#include "logging.h"

void LogMessages::tell(Kind kind, const QString &text)
{
    if (kind == Kind::Error || kind == Kind::Warning)
        qCWarning(lcService).noquote() << text;
    else
        qCInfo(lcService).noquote() << text;
    emit told(kind, text);
}

void LogMessages::plain(const QString &text) { tell(Kind::Information, text); }
void LogMessages::typedOk(Kind kind, const QString &text) { tell(kind, text); }

Messages::Answer LogMessages::yesNo(Kind kind, const QString &text)
{
    tell(kind, text + QStringLiteral("（无人回答，按“是”处理）"));
    return Answer::Yes;
}

Messages::Answer LogMessages::noYes(Kind kind, const QString &text)
{
    tell(kind, text + QStringLiteral("（无人回答，按“否”处理）"));
    return Answer::No;
}

void LogMessages::generalError(const QString &text) { tell(Kind::Error, errorText(text)); }

Messages::Answer LogMessages::okCancel(const QString &caption, const QString &text)
{
    tell(Kind::Confirm, caption + QStringLiteral("：") + text);
    return Answer::Ok;
}
