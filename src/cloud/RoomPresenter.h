#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>

#include <functional>

// What travels from a room's audience to its presenter, wherever the audience watches: votes,
// quiz answers and upvotes, questions, and another node's claim on the room. A node with only
// viewers of the room passes them to the presenter's node (RoomLink), which hands them in here.
class RoomPresenter
{
public:
    virtual ~RoomPresenter() = default;

    virtual bool hasPresenter() const = 0;
    virtual void countVote(const QHostAddress &viewer, int option) = 0;
    // A quiz answer or an upvote.
    virtual void passViewerMessage(const QHostAddress &viewer, const QJsonObject &message) = 0;
    // A viewer's question, the JSON text of { "name", "msg" }: `done` runs once, true when the
    // studio has stored it.
    virtual void askQuestion(const QByteArray &questionJson,
                             std::function<void(bool stored)> done) = 0;
    // Another node's presenter of `key` takes the room over: the presenter here, if it has that
    // key, is let go. False when it has another key.
    virtual bool releasePresenter(const QByteArray &key) = 0;
};
