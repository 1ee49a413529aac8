#include "session/RoomIdentifier.h"

#include "relay/PresenterClaim.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>

namespace RoomIdentifier {

namespace {

const char *const kKeySetting = "PRESENTER_KEY";
const char *const kTagSetting = "ROOM_TAG";

bool isTag(const QString &tag)
{
    static const QRegularExpression pattern(
        QString("^[0-9a-f]{%1}$").arg(PresenterClaim::kTagChars));
    return pattern.match(tag).hasMatch();
}

} // namespace

PresenterIdentity presenterIdentity(QSettings &settings)
{
    PresenterIdentity identity = PresenterIdentity::fromSecret(
        QByteArray::fromBase64(settings.value(kKeySetting).toString().toLatin1()));
    if (identity.isValid())
        return identity;
    identity = PresenterIdentity::generate();
    settings.setValue(kKeySetting, QString::fromLatin1(identity.secret().toBase64()));
    settings.sync();
    QFile::setPermissions(settings.fileName(), QFile::ReadOwner | QFile::WriteOwner);
    return identity;
}

QString roomTag(QSettings &settings)
{
    const QString tag = settings.value(kTagSetting).toString();
    if (isTag(tag))
        return tag;
    const QString fresh = PresenterClaim::newTag();
    settings.setValue(kTagSetting, fresh);
    return fresh;
}

QString roomId(QSettings &settings)
{
    return PresenterClaim::roomFor(presenterIdentity(settings).publicKey(), roomTag(settings));
}

QString newRoom(QSettings &settings)
{
    settings.setValue(kTagSetting, PresenterClaim::newTag());
    return roomId(settings);
}

} // namespace RoomIdentifier
