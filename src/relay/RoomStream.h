#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// What feeds a relay room from wherever its presenter is: the stream, the commands for its
// command viewers and the figures of its audience. A cloud node with only viewers of a room is
// fed this way from the presenter's node (RoomLink); the presenter's node reads the copy of the
// last group of pictures for the others through it.
class RoomStream
{
public:
    virtual ~RoomStream() = default;

    // Whole packets of the stream, in order.
    virtual void takeStream(const QByteArray &packets) = 0;
    // The copy of the last group of pictures is on its way: joiners wait for startFrom().
    virtual void awaitHeadStart() = 0;
    // The stream goes on from `head` (another node's copy of the last group of pictures, and what
    // came since), which those who joined meanwhile get first.
    virtual void startFrom(const QByteArray &head) = 0;
    // The stream went on somewhere else or lost a piece: joiners wait for the next full picture.
    virtual void restartJoinCache() = 0;
    // The copy of the last group of pictures, once what it holds has gone out.
    virtual QByteArray joinCopy() = 0;

    // A command for the command viewers, and a game's end: the winner at `winnerIndex` among this
    // room's tickets (none when -1).
    virtual void passCommand(const QJsonObject &message, const QString &text) = 0;
    virtual void sendFinish(const QJsonObject &finish, int winnerIndex) = 0;

    virtual int videoViewers() const = 0;
    virtual int commandViewers() const = 0;
    virtual qint64 sentBytes() const = 0;
};
