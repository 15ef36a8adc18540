#include "rpcconnection.h"
#include "rpclog.h"
#include "rpcreply.h"

RpcReply::State::~State()
{
    if (answered || !expectsAnswer)
        return;
    qCWarning(lcRpc).noquote() << "method" << method << "ended without answering; answered"
                               << RpcCode::InternalError;
    const RpcError error = RpcError::internalError(QStringLiteral("命令没有给出回答"));
    if (connection)
        connection->answerRequest(id, error);
    else if (sink && (!present || present()))
        sink(rpcResponseLine(id, error));
}

void RpcReply::send(const RpcResult &result) const
{
    if (m_state->answered) {
        qCWarning(lcRpc).noquote() << "method" << m_state->method
                                   << "answered twice; the second answer is ignored";
        return;
    }
    m_state->answered = true;
    if (!m_state->expectsAnswer)
        return;
    if (m_state->connection)
        m_state->connection->answerRequest(m_state->id, result);
    else if (m_state->sink && !clientGone())
        m_state->sink(rpcResponseLine(m_state->id, result));
}

bool RpcReply::answered() const
{
    return m_state->answered;
}

bool RpcReply::clientGone() const
{
    if (m_state->sink)
        return m_state->present && !m_state->present();
    return !m_state->connection || !m_state->connection->isOpen();
}
