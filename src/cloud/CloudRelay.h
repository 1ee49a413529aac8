#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

#include "web/HttpRequestHandler.h"

class CloudCluster;
class CloudRoom;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;
class ViewerAcceptor;

// The cloud relay service: one port for everything. Presenters stream to
// "/websocket/left/<room>"; viewers load the pages at "/?room=<room>", watch
// "/websocket/right/<room>/readvideo", follow "/websocket/right/<room>/cmdchannel" and post
// questions to "/feedback.php?room=<room>&raw=...". Rooms exist while their presenter or any
// viewer is connected. With NATS, any number of relays share the rooms: a presenter on one
// node reaches viewers on all of them. Main thread only.
class CloudRelay : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReportIntervalMs = 3000;
    // Stream chunks and commands from a presenter; a chunk is one ingest read of the studio.
    static constexpr quint64 kMaxPresenterMessageBytes = 4 * 1024 * 1024;

    struct Limits
    {
        int maxRooms = 100;
        int maxViewersPerRoom = 1000;
    };

    CloudRelay(const Limits &limits, const QString &webDir, QObject *parent = nullptr);
    ~CloudRelay() override;

    // Joins the NATS cluster at `servers` (comma-separated "nats://host:port"); before
    // listen(). False, with `error`, when the addresses are unusable; an unreachable cluster is
    // retried in the background.
    bool joinCluster(const QString &servers, QString *error);

    bool listen(const QHostAddress &address, quint16 port);
    quint16 serverPort() const;
    QString errorString() const;

    // Letters, digits and '-', 1 to 128 characters.
    static bool isRoomId(const QString &room);

public slots:
    void readClient();
    void discardClient();

private:
    void onConnect();
    void admit(QWebSocket *socket);
    void admitPresenter(QWebSocket *socket, const QString &room);
    void admitViewer(QWebSocket *socket, QTcpSocket *transport, const QString &room,
                     const QString &channel);
    CloudRoom *openRoom(const QString &room);
    // Asks the other nodes whether one of them holds the room's presenter.
    void askLive(const QString &room, std::function<void(bool live)> answer);
    void refuse(QWebSocket *socket, const QString &reason);
    void addFeedback(QTcpSocket *socket, const QString &path);
    void report();

    Limits m_limits;
    QString m_webDir;
    QWebSocketServer *m_handshaker;
    ViewerAcceptor *m_acceptor;
    HttpRequestHandler m_requests;
    QHash<QString, CloudRoom *> m_rooms;
    QTimer m_reportTimer;
    std::unique_ptr<CloudCluster> m_cluster; // null: this relay runs alone
};
