#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

#include "cloud/OriginPolicy.h"
#include "cloud/PresenterKeys.h"
#include "net/LogBudget.h"
#include "net/TokenBucket.h"
#include "net/TrustedBalancers.h"
#include "web/HttpRoutes.h"
#include "web/HttpServer.h"

class CloudCluster;
class CloudRoom;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;
class TlsCredentials;
class PresenterGate;
class ViewerAcceptor;

// The cloud relay service: one port for everything. Presenters stream to
// "/websocket/left/<room>"; viewers load the pages at "/?room=<room>", watch
// "/websocket/right/<room>/readvideo", follow "/websocket/right/<room>/cmdchannel" and post
// questions to "/feedback.php?room=<room>&raw=...". A presenter proves the room is its own
// (PresenterGate) before anything of it reaches the room. Rooms exist while their presenter is
// connected, and a few seconds after. With NATS, any number of relays share the rooms: a
// presenter on one node reaches viewers on all of them, and the nodes settle who presents before
// a byte of it is relayed. Main thread only.
class CloudRelay : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReportIntervalMs = 3000;
    // Stream chunks and commands from a presenter; a chunk is one ingest read of the studio.
    static constexpr quint64 kMaxPresenterMessageBytes = 4 * 1024 * 1024;
    // Unsent bytes to a presenter socket, from its handshake on, past which it is dropped.
    static constexpr qint64 kMaxPresenterBacklogBytes = 1024 * 1024;
    // Questions one address (an IPv6 /64) may post: a person types slower than this.
    static constexpr double kQuestionsPerSecond = 0.5;
    static constexpr double kQuestionBurst = 5;
    // Presenter claims one address may make: a studio reconnects once per cut, a guesser
    // would try key after key.
    static constexpr double kClaimsPerSecond = 2;
    static constexpr double kClaimBurst = 10;

    struct Limits
    {
        int maxRooms = 100;
        int maxViewersPerRoom = 1000;
        // One key, or one address (an IPv6 /64), cannot take every room of the relay.
        int maxRoomsPerPresenter = 5;
        int maxRoomsPerAddress = 10;
    };

    CloudRelay(const Limits &limits, const QString &webDir, QObject *parent = nullptr);
    ~CloudRelay() override;

    // Joins the NATS cluster at `servers` (comma-separated "nats://host:port"); before
    // listen(). False, with `error`, when the addresses are unusable; an unreachable cluster is
    // retried in the background.
    bool joinCluster(const QString &servers, QString *error);
    // Only these keys may open rooms (--presenters); before listen().
    void restrictPresenters(const PresenterKeys &keys) { m_presenterKeys = keys; }
    // Which pages may open WebSockets (see OriginPolicy); before listen().
    void setOriginPolicy(const OriginPolicy &policy) { m_origins = policy; }

    // Serves https and wss instead of http and ws, from these PEM files; a renewal of the files
    // serves the next connection (TlsCredentials). Before listen(); false, with `error`, when
    // the files do not make a usable pair.
    bool serveTls(const QString &certificatePath, const QString &keyPath, QString *error);
    // Connections from these balancers start with a PROXY protocol v2 header naming the client
    // (--balancer), whose address every limit and log line then uses; before listen().
    void trustBalancers(const TrustedBalancers &balancers);

    bool listen(const QHostAddress &address, quint16 port);
    quint16 serverPort() const;
    QString errorString() const;

    // The form of a room id (PresenterClaim::isRoom()): checked on every route before the name
    // goes anywhere, NATS subjects included.
    static bool isRoomId(const QString &room);

private:
    void onConnect();
    void admit(QWebSocket *socket);
    void admitPresenter(QWebSocket *socket, QTcpSocket *transport, const QString &room);
    // The socket has proved `key` owns the room; with a cluster, the other nodes are asked
    // first.
    void onClaimed(QWebSocket *socket, const QString &room, const QByteArray &key);
    void seatPresenter(QWebSocket *socket, const QString &room, const QByteArray &key);
    // Why a relay's limits keep this key or address from opening one more room; empty if none.
    QString roomLimitReached(const QString &room, const QByteArray &key,
                             const QHostAddress &address) const;
    void admitViewer(QWebSocket *socket, QTcpSocket *transport, const QString &room,
                     const QString &channel);
    CloudRoom *openRoom(const QString &room);
    // Sent away for good (the studio stops), or for now: the studio tries again.
    void refuse(QWebSocket *socket, const QString &reason);
    void refuseForNow(QWebSocket *socket, const QString &reason);
    // One line per refusal, within a budget per address (an IPv6 /64) and one for the relay.
    void logRefusal(QWebSocket *socket, const char *what, const QString &reason);
    void addFeedback(QTcpSocket *socket, const HttpRequest &request);
    void report();

    Limits m_limits;
    QWebSocketServer *m_handshaker;
    ViewerAcceptor *m_acceptor;
    HttpRoutes m_routes;
    HttpServer m_http;
    PresenterKeys m_presenterKeys;
    OriginPolicy m_origins;
    QHash<QHostAddress, LogBudget> m_refusalLogs;
    LogBudget m_refusalLog{100};
    AddressBuckets m_questionBuckets{kQuestionsPerSecond, kQuestionBurst};
    AddressBuckets m_claimBuckets{kClaimsPerSecond, kClaimBurst};
    PresenterGate *m_gate;
    QHash<QString, CloudRoom *> m_rooms;
    QTimer m_reportTimer;
    std::unique_ptr<CloudCluster> m_cluster; // null: this relay runs alone
    std::unique_ptr<TlsCredentials> m_tls;   // null: plain http and ws
};
