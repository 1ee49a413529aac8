#pragma once

#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVector>

#include "audience/VoteState.h"
#include "net/ConnectionOrder.h"
#include "net/HeapTrimmer.h"
#include "net/TokenBucket.h"
#include "relay/HeadStart.h"
#include "relay/QuizCatchUp.h"
#include "relay/RoomStream.h"
#include "relay/VideoFanOut.h"

#include <climits>
#include <map>

class QTcpSocket;
class QWebSocket;

// One relay room, behind whatever front door brings its stream and its viewers: the studio's
// local relay (ingest plus room) and each room of the cloud relay (presenter socket plus room).
// The stream is fanned out to the video viewers; a joiner starts at the last full picture of each
// source, framed once for all joiners. The presenter's commands reach the command viewers, and a
// quiz's state and the latest question list reach those who join later. Votes are counted here,
// one per address; the draw gives one ticket per address; what else viewers send goes on at a
// bounded rate per address. Every viewer is read and written through ViewerChannel, so what waits
// unsent for it is bounded, and a video viewer that stops taking the stream is dropped on a timer
// even when no video comes. Owns none of the sockets beyond closing them. GUI or main thread.
class RelayRoom : public QObject, public RoomStream
{
    Q_OBJECT
public:
    // A viewer whose queue of unsent chunks passes this is closed (besides the lag bound of
    // VideoFanOut). 2 MiB is over three seconds at the highest preset (5 Mbit/s); it bounds
    // the queues when the stream comes in bursts faster than live.
    static constexpr qint64 kMaxViewerBacklogBytes = 2 * 1024 * 1024;
    // Viewer connections (video and commands together) one address (an IPv6 /64) may hold in
    // a room: eight browsers behind one NAT, and no crowd from one machine filling the room.
    static constexpr int kMaxViewersPerAddress = 16;
    // Quiz answers one address may pass on to the presenter (an IPv6 /64 is one address).
    static constexpr double kQuizAnswersPerSecond = 2;
    static constexpr double kQuizAnswerBurst = 5;
    // Upvotes one address may pass on: a person taps faster than it types, not much faster.
    static constexpr double kUpvotesPerSecond = 4;
    static constexpr double kUpvoteBurst = 20;
    // How often the video viewers are looked at for one that stopped taking the stream.
    static constexpr int kStallCheckMs = 1000;

    explicit RelayRoom(int maxViewers = INT_MAX, QObject *parent = nullptr);
    ~RelayRoom() override;

    // Each false when the room has no place for the socket; the caller refuses it. `transport`
    // is the TCP connection under `viewer`, taken over from here on.
    bool addVideoViewer(QWebSocket *viewer, QTcpSocket *transport);
    bool addCommandViewer(QWebSocket *viewer, QTcpSocket *transport);
    // Whether `address` holds kMaxViewersPerAddress viewers of the room already.
    bool fullFor(const QHostAddress &address) const;
    bool isEmpty() const { return m_videoViewers.isEmpty() && m_commandViewers.isEmpty(); }
    // Every viewer goes; emptied() follows once the last has.
    void closeAll();

    int videoViewers() const override { return m_videoViewers.size(); }
    int commandViewers() const override { return m_commandViewers.size(); }
    qint64 sentBytes() const override { return m_sentBytes; }
    // The count goes on from `bytes` (zero when a session starts).
    void setSentBytes(qint64 bytes) { m_sentBytes = bytes; }

    // The stream of `source` (each source has its own join cache): collected in this turn of
    // the event loop and sent as one, or at once with flushStream().
    void takeStream(const QByteArray &packets) override { takeStream(packets, 0); }
    void takeStream(const QByteArray &packets, quintptr source);
    void flushStream();
    // The source ended: joiners no longer start with its cache.
    void endSource(quintptr source);
    void awaitHeadStart() override { m_holdingHeadStarts = true; }
    void startFrom(const QByteArray &head) override;
    void restartJoinCache() override;
    QByteArray joinCopy() override;

    // A command for every command viewer; a quiz's and the question list's are kept for joiners.
    void sendCommand(const QString &text);
    void passCommand(const QJsonObject &message, const QString &text) override;
    // A new vote: the tally starts from zero, counting as recipients this room's command viewers
    // and `elsewhere` more.
    void startVote(const QString &message, int elsewhere = 0);
    void countVote(const QHostAddress &viewer, int option);
    VoteState::Tally voteResults() const;
    // The draw: the first command viewer of each address holds its one ticket.
    int tickets() const { return int(ticketHolders().size()); }
    void sendFinish(const QJsonObject &finish, int winnerIndex) override;
    // A draw among this room's tickets alone.
    void draw(const QJsonObject &finish);
    // Forgets the quiz kept for joiners.
    void clearQuiz() { m_quizCatchUp.clear(); }

signals:
    // A command viewer's vote, to be counted where the presenter is (countVote() here, or another
    // node's room).
    void voteCast(const QHostAddress &viewer, int option);
    // A command viewer's message other than a vote, within its address's rate.
    void viewerMessage(const QHostAddress &viewer, const QJsonObject &message);
    // Stream about to go out to this room's viewers (and to be passed on first, to those of other
    // nodes, who have the longer way).
    void streamFlushed(const QByteArray &packets);
    void audienceChanged();
    // The last viewer has gone.
    void emptied();

private:
    void onViewerText(QWebSocket *viewer, const QString &message);
    void sendHeadStarts(QWebSocket *viewer);
    bool sendText(QWebSocket *viewer, const QString &message);
    void sendToCommandViewers(const QString &message);
    void dropStalled();
    void dropVideoViewer(QWebSocket *viewer);
    void onDisconnected(QWebSocket *viewer);
    QList<QWebSocket *> ticketHolders() const;

    int m_maxViewers;
    ConnectionOrder<QWebSocket> m_videoViewers;
    ConnectionOrder<QWebSocket> m_commandViewers;
    VideoFanOut m_fanOut;
    QTimer m_stallCheck;
    HeapTrimmer m_heapTrimmer;
    // Per source of the stream (the cloud's rooms have one, 0).
    std::map<quintptr, HeadStart> m_headStarts;
    QByteArray m_unsent;
    quintptr m_unsentSource = 0;
    bool m_holdingHeadStarts = false;
    QList<QPointer<QWebSocket>> m_awaitingHeadStart;
    qint64 m_sentBytes = 0;
    qint32 m_voteRecipients = 0;
    QHash<QHostAddress, qint32> m_votes;
    AddressBuckets m_quizAnswerBuckets{kQuizAnswersPerSecond, kQuizAnswerBurst};
    AddressBuckets m_upvoteBuckets{kUpvotesPerSecond, kUpvoteBurst};
    QuizCatchUp m_quizCatchUp;
    QString m_questionList; // the latest, for command viewers who join later
};
