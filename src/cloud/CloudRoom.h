#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

#include "cloud/RoomPresenter.h"
#include "net/LogBudget.h"
#include "net/TokenBucket.h"
#include "relay/CommandMessages.h"
#include "relay/RelayRoom.h"
#include "relay/TsPacketAligner.h"

class CloudCluster;
class QJsonObject;
class QTcpSocket;
class QWebSocket;
class RoomLink;

// One presenter's room on the cloud relay: the presenter's socket in front of a relay room (the
// same room the studio's local relay has), which fans the stream out, counts the votes, draws the
// winner and bounds what every viewer costs. Here the presenter's commands are checked and paced
// before they reach the room, and what the audience sends goes back to the presenter. With a
// cluster, the room also reaches the viewers of other nodes, or is reached from the presenter's
// node (RoomLink). GUI-less main thread only.
class CloudRoom : public QObject, public RoomPresenter
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
    // A presenter's commands are votes, game ticks and quiz messages: small and few (the studio
    // builds none longer). Longer or faster ones are dropped, so a presenter cannot make the
    // room's viewers carry megabytes.
    static constexpr int kMaxPresenterTextChars = CommandMessages::kMaxCommandChars;
    static constexpr double kPresenterTextsPerSecond = 20;
    static constexpr double kPresenterTextBurst = 50;
    // The studio's list of questions, however often it comes, reaches the viewers at most this
    // often, always the latest one; a longer list than the studio ever sends is dropped.
    static constexpr int kQuestionListIntervalMs = 200;
    static constexpr int kMaxQuestionListChars = CommandMessages::kMaxQuestionListChars;
    static constexpr int kMaxViewersPerAddress = RelayRoom::kMaxViewersPerAddress;
    static constexpr int kQuestionAnswerMs = 4000;
    // Questions waiting for the studio's answer; more are refused at once.
    static constexpr int kMaxQuestionsWaiting = 256;

    // `cluster` null: this relay runs alone.
    CloudRoom(const QString &id, int maxViewers, CloudCluster *cluster, QObject *parent = nullptr);
    ~CloudRoom() override;

    const QString &id() const { return m_id; }
    bool hasPresenter() const override { return !m_presenter.isNull(); }

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
    bool fullFor(const QHostAddress &address) const { return m_room.fullFor(address); }
    bool addCommandViewer(QWebSocket *viewer, QTcpSocket *transport);

    bool releasePresenter(const QByteArray &key) override;
    // No presenter is there, or no answer came within kQuestionAnswerMs: `done(false)`.
    void askQuestion(const QByteArray &questionJson,
                     std::function<void(bool stored)> done) override;
    // The audience, bytes and tally to the presenter, and a ping to see it is still there.
    void report();

    // A vote of a viewer here or on another node: counted here while the presenter is.
    void countVote(const QHostAddress &viewer, int option) override;
    void passViewerMessage(const QHostAddress &viewer, const QJsonObject &message) override;

signals:
    // No presenter and no viewer remain.
    void emptied();

private:
    void onPresenterStream(const QByteArray &message);
    void onPresenterCommand(const QString &message);
    void dropPresenterText(const QString &message);
    void onPresenterGone(QWebSocket *presenter);
    void relayCommand(const QString &message);
    // Drops a presenter that does not read what it is sent.
    void sendToPresenter(const QString &message);
    void drawWinner(const QJsonObject &finish);
    void passQuizAnswer(const QHostAddress &viewer, const QJsonObject &message);
    // What the presenter sees of a viewer: a key of its address, never the address.
    QString viewerKey(const QHostAddress &viewer) const;
    void takeQuestionList(const QString &message);
    void sendQuestionList();
    void audienceChanged();
    void presenterGone();
    // Every viewer goes; the room is then freed.
    void closeAll();

    QString m_id;
    QByteArray m_ownerKey;
    TokenBucket m_presenterTexts{kPresenterTextsPerSecond, kPresenterTextBurst};
    LogBudget m_dropLog;
    qint64 m_lastQuestionId = 0;
    QHash<qint64, std::function<void(bool)>> m_questionsWaiting;
    QTimer m_graceTimer;
    QPointer<QWebSocket> m_presenter;
    QElapsedTimer m_presenterHeard;
    TsPacketAligner m_aligner;
    // Quiz answers: the last one passed on per viewer address, so that a viewer repeating
    // itself costs the presenter's link nothing; and the secret that makes the keys the
    // presenter sees for viewers unlinkable to their addresses.
    QHash<QHostAddress, QString> m_quizAnswers;
    QByteArray m_viewerKeySecret;
    // The latest question list while the pace holds it back.
    QString m_questionList;
    bool m_questionListUnsent = false;
    QTimer m_questionListPace;
    RelayRoom m_room;
    // Last: it goes first, while the room it reads is whole.
    std::unique_ptr<RoomLink> m_link;
};
