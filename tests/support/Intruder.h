#pragma once

#include "relay/CommandMessages.h"
#include "relay/PresenterClaim.h"
#include "relay/PresenterIdentity.h"

#include <QJsonObject>
#include <QObject>
#include <QUrl>
#include <QWebSocket>

// Someone else's presenter: claims the room with a key of its own (or sends no claim at all)
// and, at once, stream packets of its own and a forged vote.
struct Intruder
{
    static constexpr char kFill = 0x63;

    QWebSocket socket;
    bool admitted = false;
    QString closeReason;
    bool closed = false;

    // Whole packets no studio of the tests sends.
    static QByteArray packets()
    {
        QByteArray packet(188, kFill);
        packet[0] = 0x47;
        return packet.repeated(20);
    }
    static bool within(const QByteArray &bytes) { return bytes.contains(packets().left(188)); }

    Intruder(const QString &server, const QString &room, bool claim = true)
    {
        const PresenterIdentity key = PresenterIdentity::generate();
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [=](const QString &text) {
            const QJsonObject message = CommandMessages::parse(text);
            const QByteArray challenge = PresenterClaim::challengeOf(message);
            if (!challenge.isEmpty() && claim)
                socket.sendTextMessage(PresenterClaim::claimMessage(key, room, challenge));
            if (CommandMessages::commandOf(message) == "presenter_admitted")
                admitted = true;
            socket.sendBinaryMessage(packets());
            socket.sendTextMessage(CommandMessages::voteStart("forged", {"a", "b", "", "", ""}));
        });
        QObject::connect(&socket, &QWebSocket::connected, [this, claim] {
            if (!claim)
                socket.sendBinaryMessage(packets());
        });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] {
            closed = true;
            closeReason = socket.closeReason();
        });
        socket.open(QUrl(QString("ws://%1/websocket/left/%2").arg(server, room)));
    }
};
