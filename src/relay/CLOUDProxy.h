#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QSslError>
#include <QTcpServer>
#include <QTimer>
#include <QVector>
#include <QWebSocket>

#include "audience/AudienceLink.h"
#include "net/AcceptBackoff.h"
#include "relay/PresenterIdentity.h"
#include "relay/TsPacketAligner.h"
#include "relay/WSServer.h"

#include <memory>

class DBStorage;
class QTcpSocket;

// The relay of a cloud session: the encoder writers push transport-stream bytes to the ingest
// listener on 127.0.0.1 as they do for the local relay, and every whole packet goes to the cloud
// server as a binary WebSocket message. Vote and game commands go there as text; the server
// reports its audience, byte count and tally, and forwards its viewers' questions. A lost
// connection is reopened up to kMaxReconnectAttempts times. Each connection proves the room is
// the studio's (PresenterClaim) before anything else goes out on it. Lives on the GUI thread.
class CLOUDProxy : public AudienceLink
{
    Q_OBJECT
public:
    static constexpr int kMaxReconnectAttempts = 10;
    static constexpr int kReconnectDelayMs = 100;
    // The first connection gives up after this long instead of waiting without end.
    static constexpr int kConnectTimeoutMs = 10 * 1000;
    // What the uplink may hold unsent before stream chunks are dropped: about 15 s of the usual
    // 1 Mbit/s. A link that slow cannot carry the stream, and the studio's memory must not pay.
    static constexpr qint64 kMaxUplinkBacklogBytes = 2 * 1024 * 1024;
    // The server is pinged this often; a connection that brings nothing back (no pong, no
    // message) for kMaxSilenceMs is lost: a network that changed under the studio leaves the old
    // connection open without an error, for many minutes.
    static constexpr int kPingIntervalMs = 5 * 1000;
    static constexpr int kMaxSilenceMs = 15 * 1000;

    // `questionStore` is not owned and must outlive the proxy; questions from the server go there.
    // The encoder writers connect to `ingestPort` on 127.0.0.1; 0 lets the system pick one.
    explicit CLOUDProxy(DBStorage *questionStore, quint16 ingestPort = WSServer::kIngestPort,
                        QObject *parent = nullptr);
    ~CLOUDProxy() override;

    // "ws://" + `server` without "http://" + "/websocket/left/" + `roomId`; "wss://" for a
    // server given as "https://...".
    static QString cloudAddress(const QString &server, const QString &roomId);

    // Besides the system's authorities, trust the CA certificates of this PEM file (a relay on
    // a certificate of its own making); empty: the system's only. Read at the next connection.
    void setCaFile(const QString &path) { m_caFile = path; }
    // Why the server's certificate was not accepted, in the presenter's words ("expired on …",
    // "is for other.example, not relay.example", "signed by an authority this computer does not
    // trust"); empty when the last attempt had no certificate problem.
    QString certificateProblem() const { return m_certificateProblem; }

    // The key that owns the rooms this proxy presents in (PresenterClaim::roomFor()); a fresh
    // one until set.
    void setIdentity(const PresenterIdentity &identity) { m_identity = identity; }

    // Connects to the server for the room, proves the room is this studio's and opens the
    // ingest listener. Keeps processing events while it waits. False when the first attempt
    // fails, the server does not admit the claim, or it all takes kConnectTimeoutMs; the ingest
    // listener is then not opened.
    bool connectToCloud(const QString &server, const QString &roomId);
    void disconnectFromCloud();

    // The tally the server last reported: kTallySize entries, missing ones 0.
    QVector<qint32> voteResults() const override;
    // Received bytes from the writers, the server's total bytes and its viewer count.
    WSServer::Statistics statistics() const;
    // The ingest listener's port while it listens, else the port it was given.
    quint16 ingestPort() const;
    // The server has admitted the current connection as the room's presenter: stream and
    // commands go out only then.
    bool admitted() const { return m_admitted; }

    qint64 receivedBytes = 0;
    qint64 serverTotalBytes = 0;
    QTcpServer ingestServer;
    QString serverUrl;
    bool connected = false;
    bool errorSeen = false;
    qint32 reconnectAttempts = 0;
    QWebSocket socket;
    qint32 serverClients = 0;
    DBStorage *questionStore;
    QJsonValue serverVotes;

signals:
    void reconnectFailed();
    // The current connection has been admitted as the room's presenter.
    void presenterAdmitted();
    // Whole packets of one ingest connection (`source` tells the connections apart), as they go
    // to the server; a recording taps them here.
    void ingestPackets(quintptr source, const QByteArray &packets);

public slots:
    void onNewConnection();
    void processTextMessage(QString message);
    void onRandomGameTick(QString clr, int proc) override;
    void onRandomGameFinish(QString lose_txt, QString win_txt, QString win_code) override;
    void onVoteStart(QString title, QStringList opts) override;
    void onVoteStop() override;
    void sendCommand(QString message) override;

private:
    void onConnected();
    void onError(QAbstractSocket::SocketError error);
    void onSslErrors(const QList<QSslError> &errors);
    void applyTrust();
    void onDisconnected();
    void connectionLost();
    void reopen();
    void checkLiveness();
    void giveUpAttempt();
    void forward(const QByteArray &packets);
    void answerChallenge(const QByteArray &challenge);
    void onAdmitted();
    // Commands wait for nothing: before admission (while reconnecting) they are dropped, as
    // the stream is, since the server would refuse a socket that speaks before its claim. One
    // longer than the relay passes on is dropped here, with a log line.
    void sendText(const QString &message);

    PresenterIdentity m_identity = PresenterIdentity::generate();
    QString m_caFile;
    QString m_certificateProblem;
    QString m_roomId;
    bool m_admitted = false;
    quint16 m_ingestPort;
    AcceptBackoff m_ingestBackoff;
    // Set while a reopen is scheduled: the error and the disconnection of one loss count once.
    QTimer m_reconnectTimer;
    // A reconnection attempt gets the first connection's time limit.
    QTimer m_attemptDeadline;
    QTimer m_pingTimer;
    QElapsedTimer m_lastHeard;
    bool m_gaveUp = false;
    qint64 m_uplinkBacklog = 0;
    bool m_droppingLogged = false;
    QHash<QTcpSocket *, std::shared_ptr<TsPacketAligner>> m_ingests;
};
