#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

#include "cloud/CloudCluster.h"
#include "net/LogBudget.h"

class RoomPresenter;
class RoomStream;

// A room's side on NATS, when the relay runs as one node of many. The node that holds the
// room's presenter publishes the stream and the commands and hears the other nodes' viewers
// (answers, questions, how many watch); a node with only viewers of the room subscribes while it
// has them, fans out what arrives and sends its viewers' answers back. Such a node asks the
// presenter's node for its copy of the last group of pictures when it starts, and keeps its own
// from then on; what it missed on the way (a NATS server that died, a reconnection) it asks
// again from the presenter's node, so its viewers see no gap. It meets the room through two
// interfaces: the stream and commands go in through RoomStream, votes, answers and questions go
// out to the presenter through RoomPresenter. Owned by its room; owner's thread only.
class RoomLink : public QObject
{
    Q_OBJECT
public:
    // Bounded by the cluster's largest message (1 MiB by default).
    static constexpr int kMaxPieceBytes = 512 * 1024;
    // A node unheard for this long no longer counts: it died or lost NATS.
    static constexpr int kNodeSilenceMs = 10 * 1000;
    // Viewers come and go in crowds: one report for each burst.
    static constexpr int kReportDelayMs = 200;
    // What waits for the presenter's node's answer while it travels (a few seconds of stream).
    static constexpr int kMaxWaitingBytes = 8 * 1024 * 1024;
    // What the presenter's node keeps of its latest stream messages, for the nodes that missed
    // some: a NATS server that dies, or a node that reconnects, loses what was on its way.
    static constexpr qint64 kMaxResendBytes = 4 * 1024 * 1024;

    struct Audience
    {
        int videoViewers = 0;
        int commandViewers = 0;
        qint64 sentBytes = 0;
    };
    struct Node
    {
        QByteArray id;
        Audience audience;
    };

    RoomLink(CloudCluster *cluster, const QString &room, RoomStream *stream,
             RoomPresenter *presenter, QObject *parent);
    ~RoomLink() override;

    // After the room's presenter or viewers changed.
    void update();
    // Whether some node holds the room's presenter (see CloudCluster::askLive()).
    void askLive(std::function<void(CloudCluster::Liveness)> answer);

    // The presenter's node.
    void publishStream(const QByteArray &packets);
    void publishCommand(const QString &message);
    // The other nodes that reported viewers lately.
    QList<Node> remoteNodes();

    // A node with viewers only.
    void forwardVote(const QHostAddress &viewer, int option);
    // A quiz answer or an upvote, for the presenter.
    void forwardViewerMessage(const QHostAddress &viewer, const QJsonObject &message);
    void audienceChanged();
    void reportAudience();

private:
    enum class Role { None, Presenter, Viewers };
    enum class Waiting { Nothing, JoinCopy, Resend };

    void subscribe(Role role);
    void unsubscribeAll();
    void onAudience(const QByteArray &reply, const QByteArray &data);
    void sendJoinCopy(const QByteArray &reply);
    void resend(const QByteArray &reply, const QJsonObject &request);
    void onVideo(const QByteArray &data);
    // In stream order; false when a gap was found and a resend asked (the message waits).
    bool deliver(const QByteArray &data, bool mayAskAgain);
    void onCommand(const QByteArray &data);
    void askJoinCopy();
    bool onJoinPiece(const QByteArray *piece);
    void finishJoining();
    void askResend(quint64 epoch, quint64 from, quint64 to);
    void deliverWaiting();
    void publishAudience(const QJsonObject &message);
    void sendReport(const Audience &audience);

    CloudCluster *m_cluster;
    QString m_roomId;
    RoomStream *m_stream;
    RoomPresenter *m_presenter;
    Role m_role = Role::None;
    QList<quint64> m_subscriptions;

    // The presenter's node: this presenter's stream, and the viewers elsewhere.
    quint64 m_epoch = 0;
    quint64 m_sequence = 0;
    struct Remote
    {
        Audience audience;
        QElapsedTimer heard;
    };
    QHash<QByteArray, Remote> m_remotes;
    struct Sent
    {
        quint64 sequence;
        QByteArray message;
    };
    std::deque<Sent> m_resendable;
    qint64 m_resendableBytes = 0;

    // A node with viewers only: where the stream is, what waits while joining.
    quint64 m_seenEpoch = 0;
    quint64 m_seenSequence = 0;
    Waiting m_waitingFor = Waiting::Nothing;
    quint64 m_question = 0;
    QList<QByteArray> m_joinPieces;
    int m_joinPieceCount = -1;
    quint64 m_joinEpoch = 0;
    quint64 m_joinSequence = 0;
    QList<QByteArray> m_waiting; // video messages, header and all
    qint64 m_waitingBytes = 0;
    QTimer m_reportTimer;
    LogBudget m_lossLog;
};
