#pragma once

#include <QByteArray>
#include <QString>

class QSettings;

// The identifier of this studio's room on a cloud server: 32 characters naming the machine, then
// 36 naming the room, stable across runs.
namespace RoomIdentifier {

// The machine's stable identifier text: /etc/machine-id, else /var/lib/dbus/machine-id, else
// empty.
QByteArray machineGuid();

// The MD5 digest of `guid` as 32 lower-case hexadecimal characters.
QString hostIdentifier(const QByteArray &guid);

// "ROOM_SUBID" of the settings; a new random UUID (8-4-4-4-12, no braces), stored there, when it
// is absent or empty.
QString roomSubId(QSettings &settings);

// hostIdentifier(machineGuid()) + roomSubId(settings).
QString roomId(QSettings &settings);

} // namespace RoomIdentifier
