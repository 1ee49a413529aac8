#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

#include "net/LogBudget.h"
#include "net/TokenBucket.h"
#include "relay/JoinCache.h"
#include "relay/QuizCatchUp.h"
#include "relay/TsPacketAligner.h"
#include "relay/VideoFanOut.h"

class CloudCluster;
class QJsonObject;
class QTcpSocket;
class QWebSocket;
class RoomLink;

// One presenter's room on the cloud relay: the presenter's stream fanned out to the room's video
// viewers (a joining viewer starts at the last full picture), the presenter's commands to the
// room's command viewers, their votes tallied per address, the winner of the random game drawn
// among them, and the figures reported back. The room owns none of the sockets' lifetimes beyond
// closing them. With a cluster, the room also reaches the viewers of other nodes, or is
// reached from the presenter's node (RoomLink). GUI-less main thread only.
class CloudRoom : public QObject
{
    Q_OBJECT
public:
    // A presenter that answers no ping for this long is gone, so that its studio, reconnecting
    // from a new address, is not refused for a connection that died silently.
    static constexpr int kPresenterSilenceMs = 10 * 1000;
    // A room outlives its presenter this long, whatever viewers remain: the studio's own
    // reconnection (100 ms) finds its viewers still there, a studio gone for good leaves no room
    // that idle viewers could hold for ever.
    static constexpr int kPresenterGraceMs = 5 * 1000;
    // A presenter's commands are votes, game ticks and quiz messages: small and few. Longer or
    // faster ones are dropped, so a presenter cannot make the room's viewers carry megabytes.
    static constexpr int kMaxPresenterTextChars = 16 * 1024;
    static constexpr double kPresenterTextsPerSecond = 20;
    static constexpr double kPresenterTextBurst = 50;
    // Quiz answers one address may pass on to the presenter (an IPv6 /64 is one address).
    static constexpr double kQuizAnswersPerSecond = 2;
    static constexpr double kQuizAnswerBurst = 5;
    // Upvotes one address may pass on: a person taps faster than it types, not much faster.
    static constexpr double kUpvotesPerSecond = 4;
    static constexpr double kUpvoteBurst = 20;
    // The studio's list of questions, however often it comes, reaches the viewers at most this
    // often, always the latest one; a longer list than the studio ever sends is dropped.
    static constexpr int kQuestionListIntervalMs = 200;
    static constexpr int kMaxQuestionListChars = 512 * 1024;
    // What may wait unsent to a viewer outside the stream (command messages, answers to its
    // own pings): past it the viewer, which does not read, is dropped.
    static constexpr qint64 kMaxViewerTextBacklogBytes = 1024 * 1024;
    // Viewer connections (video and commands together) one address (an IPv6 /64) may hold in
    // a room: eight browsers behind one NAT, and no crowd from one machine filling the room.
    static constexpr int kMaxViewersPerAddress = 16;
    static constexpr int kQuestionAnswerMs = 4000;
    // Questions waiting for the studio's answer; more are refused at once.
    static constexpr int kMaxQuestionsWaiting = 256;

    // `cluster` null: this relay runs alone.
    CloudRoom(const QString &id, int maxViewers, CloudCluster *cluster, QObject *parent = nullptr);
    ~CloudRoom() override;

    const QString &id() const { return m_id; }
    bool hasPresenter() const { return !m_presenter.isNull(); }
    int videoViewers() const { return int(m_videoViewers.size()); }
    int commandViewers() const { return int(m_commandViewers.size()); }
    qint64 sentBytes() const { return m_sentBytes; }

    // The key whose claim the room's presenter proved; empty while none came.
    const QByteArray &ownerKey() const { return m_ownerKey; }
    // Null while no presenter is connected.
    QHostAddress presenterAddress() const;

    // Each false when the room has no place for the socket; the caller refuses it. A presenter
    // of the owner's key replaces the current one at once (a dead connection never locks its
    // own studio out); one of another key is refused.
    bool setPresenter(QWebSocket *presenter, const QByteArray &key);
    bool addVideoViewer(QWebSocket *viewer, QTcpSocket *transport);
    // Whether `address` holds kMaxViewersPerAddress viewers of the room already.
    bool fullFor(const QHostAddress &address) const;
    bool addCommandViewer(QWebSocket *viewer, QTcpSocket *transport);

    // Another node's presenter of `key` takes the room over: the presenter here, if it has that
    // key, is let go. False when it has another key.
    bool releasePresenter(const QByteArray &key);

    // A viewer's question, the JSON text of { "name", "msg" }, for the studio: `done` runs once,
    // true when the studio has stored it, false when it could not, no presenter is there, or
    // no answer came within kQuestionAnswerMs.
    void askQuestion(const QByteArray &questionJson, std::function<void(bool stored)> done);
    // The audience, bytes and tally to the presenter, and a ping to see it is still there.
    void report();

    // What arrives from the other nodes: whole packets of the stream, a command for the
    // command viewers, a game's end (the winner at `winnerIndex` among this node's command
    // viewers, none when -1), a viewer's vote, or its quiz answer or upvote for the presenter.
    void takeStream(const QByteArray &packets);
    void passCommand(const QJsonObject &message, const QString &text);
    void sendFinish(const QJsonObject &finish, int winnerIndex);
    void countVote(const QHostAddress &viewer, int option);
    void passViewerMessage(const QHostAddress &viewer, const QJsonObject &message);
    // The join cache, for another node's joining viewers, once what it holds has been sent.
    void flushStream();
    const QByteArray &joinCacheContents() const { return m_joinCache.contents(); }
    // Another node's presenter: the stream goes on from `head` (its copy of the last group of
    // pictures, and what came since), which the viewers who joined meanwhile get first.
    void startFrom(const QByteArray &head);
    // The stream went on somewhere else or lost a piece: joiners wait for the next full picture.
    void restartJoinCache();

signals:
    // No presenter and no viewer remain.
    void emptied();

private:
    void onPresenterStream(const QByteArray &message);
    void sendStream();
    void onPresenterCommand(const QString &message);
    void onViewerCommand(const QString &message);
    void onDisconnected(QWebSocket *socket);
    void relayCommand(const QString &message);
    void sendToCommandViewers(const QString &message);
    void drawWinner(const QJsonObject &finish);
    void passQuizAnswer(const QHostAddress &viewer, const QJsonObject &message);
    // What the presenter sees of a viewer: a key of its address, never the address.
    QString viewerKey(const QHostAddress &viewer) const;
    void takeQuestionList(const QString &message);
    void sendQuestionList();
    void dropVideoViewer(QWebSocket *viewer);
    void audienceChanged();
    void presenterGone();
    // The viewer is dropped as soon as what waits for it outside the stream passes the cap:
    // checked after each read (Qt answers pings on its own) and before each command sent.
    void capOutbound(QWebSocket *viewer, QTcpSocket *transport);
    bool overOutboundCap(QWebSocket *viewer);
    // The draw's tickets: the first command viewer of each address, in arrival order.
    QList<QWebSocket *> ticketHolders() const;
    // Every viewer goes; the room is then freed.
    void closeAll();

    QString m_id;
    QByteArray m_ownerKey;
    TokenBucket m_presenterTexts{kPresenterTextsPerSecond, kPresenterTextBurst};
    AddressBuckets m_quizAnswerBuckets{kQuizAnswersPerSecond, kQuizAnswerBurst};
    AddressBuckets m_upvoteBuckets{kUpvotesPerSecond, kUpvoteBurst};
    QHash<QWebSocket *, QPointer<QTcpSocket>> m_transports;
    LogBudget m_dropLog;
    qint64 m_lastQuestionId = 0;
    QHash<qint64, std::function<void(bool)>> m_questionsWaiting;
    QTimer m_graceTimer;
    int m_maxViewers;
    QPointer<QWebSocket> m_presenter;
    QElapsedTimer m_presenterHeard;
    QList<QWebSocket *> m_videoViewers;
    QList<QWebSocket *> m_commandViewers;
    VideoFanOut m_fanOut;
    TsPacketAligner m_aligner;
    JoinCache m_joinCache;
    QByteArray m_unsent; // whole packets that arrived in this turn of the event loop
    qint64 m_sentBytes = 0;
    qint32 m_voteRecipients = 0;
    QHash<QHostAddress, qint32> m_votes;
    // Quiz answers: the last one passed on per viewer address, so that a viewer repeating
    // itself costs the presenter's link nothing; and the secret that makes the keys the
    // presenter sees for viewers unlinkable to their addresses.
    QHash<QHostAddress, QString> m_quizAnswers;
    QByteArray m_viewerKeySecret;
    QuizCatchUp m_quizCatchUp;
    // The latest question list, for joiners too; unsent while the pace holds it back.
    QString m_questionList;
    bool m_questionListUnsent = false;
    QTimer m_questionListPace;
    // Joined while the copy of the last group of pictures travelled from another node.
    QList<QPointer<QWebSocket>> m_awaitingHeadStart;
    // Last: it goes first, while the room it reads is whole.
    std::unique_ptr<RoomLink> m_link;
};
