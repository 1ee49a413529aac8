#include "session/RoomIdentifier.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSettings>
#include <QUuid>

namespace RoomIdentifier {

QByteArray machineGuid()
{
    for (const char *path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray guid = file.readAll().trimmed();
            if (!guid.isEmpty())
                return guid;
        }
    }
    return QByteArray();
}

QString hostIdentifier(const QByteArray &guid)
{
    return QString::fromLatin1(QCryptographicHash::hash(guid, QCryptographicHash::Md5).toHex());
}

QString roomSubId(QSettings &settings)
{
    QString subId = settings.value("ROOM_SUBID").toString();
    if (subId.isEmpty()) {
        subId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        settings.setValue("ROOM_SUBID", subId);
    }
    return subId;
}

QString roomId(QSettings &settings)
{
    return hostIdentifier(machineGuid()) + roomSubId(settings);
}

} // namespace RoomIdentifier
