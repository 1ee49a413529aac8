#pragma once

#include <QByteArray>
#include <QString>

// The NATS subjects of a room. Room names come from URLs and may hold anything a URL can, while
// a subject token must not hold '.', the wildcards '*' and '>', or white space: every byte
// other than an ASCII letter, digit or '-' is written as '_' and two hex digits, so distinct
// rooms always get distinct subjects and no room can reach another's.
namespace RoomSubjects {

QByteArray token(const QString &room);

// Presenter's node to the others: the stream, and the commands for the command viewers.
QByteArray video(const QString &room);
QByteArray commands(const QString &room);
// The other nodes to the presenter's node: viewers' answers, questions, audience reports and
// the questions whether the room is live and what a joining viewer needs.
QByteArray audience(const QString &room);

} // namespace RoomSubjects
