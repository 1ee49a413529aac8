#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class PresenterIdentity;

// How a studio proves to a cloud relay that a room is its own. A room id names its owner: it is a
// random tag and a digest of the tag with the owner's public key, so nobody who reads the link can
// claim the room with a key of their own, on any node, before or after the studio has been there.
// On the presenter socket the relay sends a fresh random challenge; the studio answers with its
// public key and its signature over the room and the challenge; the relay checks both before a
// single message of the socket reaches the room. Plain functions, any thread.
namespace PresenterClaim {

// Random bytes of a challenge; enough that none repeats.
constexpr int kChallengeBytes = 32;
// Hexadecimal characters of a room's tag and of its digest.
constexpr int kTagChars = 16;
constexpr int kDigestChars = 32;

// A new random tag, for a new room (a new link) of the same key.
QString newTag();
// "<tag>-<digest>"; the tag is used as given.
QString roomFor(const QByteArray &publicKey, const QString &tag);
// True when `room` has the form of roomFor() and was made from `publicKey`.
bool belongsTo(const QString &room, const QByteArray &publicKey);
bool isRoom(const QString &room);

QByteArray newChallenge();
// The bytes the studio signs: bound to this room and this challenge, so no signature serves
// twice.
QByteArray signedText(const QString &room, const QByteArray &challenge);

// relay -> studio: {"command":"presenter_challenge","challenge":<base64>}
QString challengeMessage(const QByteArray &challenge);
// studio -> relay: {"command":"presenter_claim","key":<base64>,"signature":<base64>}
QString claimMessage(const PresenterIdentity &identity, const QString &room,
                     const QByteArray &challenge);
// relay -> studio, once the room is the socket's: {"command":"presenter_admitted"}
QString admittedMessage();

// The challenge of a "presenter_challenge" message; empty when it is none.
QByteArray challengeOf(const QJsonObject &message);

struct Claim
{
    QByteArray publicKey;
    QByteArray signature;
};
// Empty members when `message` is no claim.
Claim claimOf(const QJsonObject &message);
// The claim's key owns `room` and signed this challenge for it.
bool verify(const Claim &claim, const QString &room, const QByteArray &challenge);

} // namespace PresenterClaim
