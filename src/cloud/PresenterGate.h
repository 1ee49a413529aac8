#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class PresenterKeys;
class QWebSocket;

// Where a presenter socket waits until it has proved that the room is its own: the gate sends a
// fresh challenge and takes exactly one message back, a claim signed by the room's key (and one
// the operator allows). Anything else (stream bytes, a command, silence for kClaimTimeoutMs) is
// refused, and nothing the socket sent before its claim was checked ever reaches a room. Main
// thread only.
class PresenterGate : public QObject
{
    Q_OBJECT
public:
    static constexpr int kClaimTimeoutMs = 5000;
    // A claim is two base64 fields of 32 and 64 bytes in a small JSON object.
    static constexpr int kMaxClaimChars = 1024;

    // `claimed` gets the socket, its room and the key that owns it, the socket's signals free
    // again; `refused` a socket to send away with its reason. `allowed` must outlive the gate.
    using Claimed = std::function<void(QWebSocket *, const QString &room, const QByteArray &key)>;
    using Refused = std::function<void(QWebSocket *, const QString &reason)>;
    PresenterGate(const PresenterKeys *allowed, Claimed claimed, Refused refused,
                  QObject *parent = nullptr);

    // Starts the exchange on a socket just past its handshake for `room`.
    void challenge(QWebSocket *socket, const QString &room);
    int waiting() const { return int(m_waiting.size()); }

private:
    struct Waiting
    {
        QString room;
        QByteArray challenge;
        QObject *context; // holds the socket's connections and deadline while it waits
    };
    void onClaim(QWebSocket *socket, const QString &message);
    void refuse(QWebSocket *socket, const QString &reason);
    // The socket leaves the gate: its connections and deadline go.
    Waiting release(QWebSocket *socket);

    const PresenterKeys *m_allowed;
    Claimed m_claimed;
    Refused m_refused;
    QHash<QWebSocket *, Waiting> m_waiting;
};
