#include "relay/PresenterClaim.h"

#include "relay/PresenterIdentity.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace PresenterClaim {

namespace {

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes;
}

QString digest(const QByteArray &publicKey, const QString &tag)
{
    const QByteArray input = "lumacast-room\n" + publicKey + tag.toLatin1();
    return QString::fromLatin1(
        QCryptographicHash::hash(input, QCryptographicHash::Sha256).toHex().left(kDigestChars));
}

QString text(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QByteArray base64Member(const QJsonObject &message, const char *name)
{
    return QByteArray::fromBase64(message.value(QLatin1String(name)).toString().toLatin1());
}

} // namespace

QString newTag()
{
    return QString::fromLatin1(randomBytes(kTagChars / 2).toHex());
}

QString roomFor(const QByteArray &publicKey, const QString &tag)
{
    return tag + '-' + digest(publicKey, tag);
}

bool isRoom(const QString &room)
{
    static const QRegularExpression pattern(
        QString("^[0-9a-f]{%1}-[0-9a-f]{%2}$").arg(kTagChars).arg(kDigestChars));
    return pattern.match(room).hasMatch();
}

bool belongsTo(const QString &room, const QByteArray &publicKey)
{
    return isRoom(room) && roomFor(publicKey, room.left(kTagChars)) == room;
}

QByteArray newChallenge()
{
    return randomBytes(kChallengeBytes);
}

QByteArray signedText(const QString &room, const QByteArray &challenge)
{
    return "lumacast-presenter-claim\n" + room.toUtf8() + '\n' + challenge;
}

QString challengeMessage(const QByteArray &challenge)
{
    return text({{"command", "presenter_challenge"},
                 {"challenge", QString::fromLatin1(challenge.toBase64())}});
}

QString claimMessage(const PresenterIdentity &identity, const QString &room,
                     const QByteArray &challenge)
{
    return text({{"command", "presenter_claim"},
                 {"key", QString::fromLatin1(identity.publicKey().toBase64())},
                 {"signature",
                  QString::fromLatin1(identity.sign(signedText(room, challenge)).toBase64())}});
}

QString admittedMessage()
{
    return text({{"command", "presenter_admitted"}});
}

QByteArray challengeOf(const QJsonObject &message)
{
    if (message.value("command").toString() != "presenter_challenge")
        return QByteArray();
    const QByteArray challenge = base64Member(message, "challenge");
    return challenge.size() == kChallengeBytes ? challenge : QByteArray();
}

Claim claimOf(const QJsonObject &message)
{
    if (message.value("command").toString() != "presenter_claim")
        return {};
    return {base64Member(message, "key"), base64Member(message, "signature")};
}

bool verify(const Claim &claim, const QString &room, const QByteArray &challenge)
{
    return challenge.size() == kChallengeBytes && belongsTo(room, claim.publicKey) &&
           PresenterIdentity::verify(claim.publicKey, signedText(room, challenge), claim.signature);
}

} // namespace PresenterClaim
