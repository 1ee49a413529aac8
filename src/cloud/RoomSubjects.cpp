#include "cloud/RoomSubjects.h"

namespace {

const QByteArray kPrefix = QByteArrayLiteral("lumacast.room.");

bool plain(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

QByteArray subject(const QString &room, const char *kind)
{
    return kPrefix + RoomSubjects::token(room) + '.' + kind;
}

} // namespace

namespace RoomSubjects {

QByteArray token(const QString &room)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray encoded;
    for (const char c : room.toUtf8()) {
        if (plain(c)) {
            encoded += c;
        } else {
            encoded += '_';
            encoded += hex[(uchar(c) >> 4) & 0xf];
            encoded += hex[uchar(c) & 0xf];
        }
    }
    return encoded.isEmpty() ? QByteArrayLiteral("_") : encoded;
}

QByteArray video(const QString &room)
{
    return subject(room, "video");
}

QByteArray commands(const QString &room)
{
    return subject(room, "commands");
}

QByteArray audience(const QString &room)
{
    return subject(room, "audience");
}

} // namespace RoomSubjects
