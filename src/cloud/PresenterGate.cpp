#include "cloud/PresenterGate.h"

#include "cloud/PresenterKeys.h"
#include "relay/CommandMessages.h"
#include "relay/PresenterClaim.h"

#include <QTimer>
#include <QWebSocket>

#include <utility>

PresenterGate::PresenterGate(const PresenterKeys *allowed, Claimed claimed, Refused refused,
                             QObject *parent)
    : QObject(parent), m_allowed(allowed), m_claimed(std::move(claimed)),
      m_refused(std::move(refused))
{}

void PresenterGate::challenge(QWebSocket *socket, const QString &room)
{
    auto *context = new QObject(this);
    const Waiting waiting{room, PresenterClaim::newChallenge(), context};
    m_waiting.insert(socket, waiting);
    connect(socket, &QWebSocket::textMessageReceived, context,
            [this, socket](const QString &message) { onClaim(socket, message); });
    connect(socket, &QWebSocket::binaryMessageReceived, context,
            [this, socket] { refuse(socket, "a presenter must claim its room first"); });
    connect(socket, &QWebSocket::disconnected, context, [this, socket] {
        release(socket);
        socket->deleteLater();
    });
    auto *deadline = new QTimer(context);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, context,
            [this, socket] { refuse(socket, "no claim for the room"); });
    deadline->start(kClaimTimeoutMs);
    socket->sendTextMessage(PresenterClaim::challengeMessage(waiting.challenge));
}

void PresenterGate::onClaim(QWebSocket *socket, const QString &message)
{
    if (!m_waiting.contains(socket))
        return;
    if (message.size() > kMaxClaimChars) {
        refuse(socket, "a presenter must claim its room first");
        return;
    }
    const PresenterClaim::Claim claim = PresenterClaim::claimOf(CommandMessages::parse(message));
    const Waiting waiting = m_waiting.value(socket);
    if (claim.publicKey.isEmpty()) {
        refuse(socket, "a presenter must claim its room first");
    } else if (!PresenterClaim::verify(claim, waiting.room, waiting.challenge)) {
        refuse(socket, "this room belongs to another presenter");
    } else if (!m_allowed->allows(claim.publicKey)) {
        refuse(socket, "this relay does not know the presenter's key");
    } else {
        release(socket);
        m_claimed(socket, waiting.room, claim.publicKey);
    }
}

void PresenterGate::refuse(QWebSocket *socket, const QString &reason)
{
    if (!m_waiting.contains(socket))
        return;
    release(socket);
    m_refused(socket, reason);
}

PresenterGate::Waiting PresenterGate::release(QWebSocket *socket)
{
    const Waiting waiting = m_waiting.take(socket);
    if (!waiting.context)
        return waiting;
    // Later in this turn the socket may still emit what it read with the claim: those signals
    // must find no receiver, so the connections go at once (the context itself may be the
    // receiver of the slot running now).
    disconnect(socket, nullptr, waiting.context, nullptr);
    for (QTimer *deadline : waiting.context->findChildren<QTimer *>())
        deadline->stop();
    waiting.context->deleteLater();
    return waiting;
}
