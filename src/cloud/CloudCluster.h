#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

#include "cloud/NatsLink.h"

class QTimer;

// This relay's place among the nodes that share rooms over NATS: its identity, its inbox for
// answers, and the questions it asks the others (is a room live, what does a joining viewer
// need, was a question handed to the studio). One per relay; owner's thread only.
class CloudCluster : public QObject
{
    Q_OBJECT
public:
    // How long the other nodes have to answer a question before nobody has.
    static constexpr int kAnswerTimeoutMs = 500;

    explicit CloudCluster(QObject *parent = nullptr);

    // See NatsLink::start().
    bool start(const QString &servers, QString *error);
    const QByteArray &nodeId() const { return m_nodeId; }
    NatsLink &nats() { return m_nats; }

    // Gets every answer, on this object's thread, and returns true while it wants more; gets
    // nullptr once when no (further) answer came within `timeoutMs` or nothing could be asked.
    // `timedOut`, when given, runs instead of the nullptr call when someone listens but no
    // answer came in time (as against nobody listening at all).
    using AnswerHandler = std::function<bool(const QByteArray *answer)>;
    void ask(const QByteArray &subject, const QByteArray &question, int timeoutMs,
             AnswerHandler handler, std::function<void()> timedOut = {});

    // Whether another node holds the room's presenter. Unknown when this node was off the
    // cluster at the question or lost it before the answer: a room's viewers are not sent away
    // for a moment in which nothing could be heard.
    enum class Liveness { Live, Gone, Unknown };
    // `answer` runs once, on this thread.
    void askLive(const QString &room, std::function<void(Liveness)> answer);

private:
    void onAnswer(const NatsLink::Message &message);
    void giveUp(quint64 question, bool timedOut);

    NatsLink m_nats;
    QByteArray m_nodeId;
    QByteArray m_inbox;
    quint64 m_lastQuestion = 0;
    quint64 m_connectionLosses = 0;
    struct Pending
    {
        AnswerHandler handler;
        std::function<void()> timedOut;
        QTimer *timer;
    };
    QHash<quint64, Pending> m_pending;
};
