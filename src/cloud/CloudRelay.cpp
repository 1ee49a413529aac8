#include "cloud/CloudRelay.h"

#include "cloud/CloudCluster.h"
#include "cloud/CloudRoom.h"
#include "cloud/RoomSubjects.h"
#include "relay/ViewerAcceptor.h"
#include "relay/WSServer.h"
#include "web/HttpResponse.h"
#include "web/QuestionPayload.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

const QString kPresenterPrefix = QStringLiteral("/websocket/left/");
const QString kViewerPrefix = QStringLiteral("/websocket/right/");

// The question route answers some requests only once another node has: it closes its
// connections itself.
void respond(QTcpSocket *socket, const QString &status, const QString &body)
{
    HttpResponse::sendResponse(socket, status, body);
    socket->close();
}

} // namespace

CloudRelay::CloudRelay(const Limits &limits, const QString &webDir, QObject *parent)
    : QObject(parent), m_limits(limits), m_webDir(webDir),
      m_handshaker(new QWebSocketServer("lumacast-cloud", QWebSocketServer::NonSecureMode, this)),
      m_acceptor(new ViewerAcceptor(m_handshaker, this)),
      m_requests(
          {{"/feedback.php", "addFeedback",
            [this](QTcpSocket *socket, const QString &path) { addFeedback(socket, path); }, true}})
{
    m_acceptor->setPlainRequestHandler([this](QTcpSocket *socket) {
        m_requests.accept(socket, this);
        m_requests.readRequest(socket, m_webDir);
    });
    connect(m_handshaker, &QWebSocketServer::newConnection, this, &CloudRelay::onConnect);
    m_reportTimer.setInterval(kReportIntervalMs);
    connect(&m_reportTimer, &QTimer::timeout, this, &CloudRelay::report);
    m_reportTimer.start();
}

CloudRelay::~CloudRelay()
{
    // Sockets still open go with their rooms' parent (this); their last signals must not reach
    // rooms already gone.
    for (CloudRoom *room : qAsConst(m_rooms))
        room->disconnect(this);
    // Rooms leave the cluster while it is still there.
    qDeleteAll(m_rooms);
    m_rooms.clear();
}

bool CloudRelay::joinCluster(const QString &servers, QString *error)
{
    m_cluster = std::make_unique<CloudCluster>();
    if (m_cluster->start(servers, error))
        return true;
    m_cluster.reset();
    return false;
}

bool CloudRelay::listen(const QHostAddress &address, quint16 port)
{
    return m_acceptor->listen(address, port);
}

quint16 CloudRelay::serverPort() const
{
    return m_acceptor->serverPort();
}

QString CloudRelay::errorString() const
{
    return m_acceptor->errorString();
}

bool CloudRelay::isRoomId(const QString &room)
{
    static const QRegularExpression pattern("^[A-Za-z0-9-]{1,128}$");
    return pattern.match(room).hasMatch();
}

void CloudRelay::onConnect()
{
    while (QWebSocket *socket = m_handshaker->nextPendingConnection()) {
        socket->setParent(this);
        admit(socket);
    }
}

void CloudRelay::admit(QWebSocket *socket)
{
    QTcpSocket *transport = m_acceptor->takeTransport(socket);
    const QString path = socket->requestUrl().path();
    const bool presenter = path.startsWith(kPresenterPrefix);
    QString room;
    QString channel;
    if (presenter) {
        room = path.mid(kPresenterPrefix.size());
    } else if (path.startsWith(kViewerPrefix)) {
        const QStringList parts = path.mid(kViewerPrefix.size()).split('/');
        if (parts.size() == 2) {
            room = parts.at(0);
            channel = parts.at(1);
        }
    }
    if (!isRoomId(room) || (!presenter && channel != "readvideo" && channel != "cmdchannel")) {
        refuse(socket, "unknown path");
        return;
    }

    if (presenter)
        admitPresenter(socket, room);
    else
        admitViewer(socket, transport, room, channel);
}

CloudRoom *CloudRelay::openRoom(const QString &room)
{
    if (CloudRoom *open = m_rooms.value(room))
        return open;
    if (m_rooms.size() >= m_limits.maxRooms)
        return nullptr;
    auto *target = new CloudRoom(room, m_limits.maxViewersPerRoom, m_cluster.get(), this);
    m_rooms.insert(room, target);
    connect(target, &CloudRoom::emptied, this, [this, target] {
        qInfo() << "room" << target->id() << "freed";
        m_rooms.remove(target->id());
        target->deleteLater();
    });
    return target;
}

void CloudRelay::admitPresenter(QWebSocket *socket, const QString &room)
{
    socket->setMaxAllowedIncomingMessageSize(kMaxPresenterMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxPresenterMessageBytes);
    CloudRoom *target = openRoom(room);
    if (!target) {
        refuse(socket, "the relay has no room left");
        return;
    }
    if (!target->setPresenter(socket)) {
        refuse(socket, "this room already has a presenter");
        return;
    }
    if (!m_cluster)
        return;
    // Streaming starts at once; the rare presenter whom another node already holds is sent
    // away once that node has said so.
    QPointer<QWebSocket> presenter(socket);
    askLive(room, [this, presenter](bool live) {
        if (live && presenter && presenter->state() == QAbstractSocket::ConnectedState)
            refuse(presenter, "this room already has a presenter");
    });
}

void CloudRelay::admitViewer(QWebSocket *socket, QTcpSocket *transport, const QString &room,
                             const QString &channel)
{
    socket->setMaxAllowedIncomingMessageSize(WSServer::kMaxIncomingMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(WSServer::kMaxIncomingMessageBytes);
    const auto join = [this, transport, channel](QWebSocket *viewer, CloudRoom *target) {
        const bool admitted = channel == "readvideo" ? target->addVideoViewer(viewer, transport)
                                                     : target->addCommandViewer(viewer);
        if (!admitted)
            refuse(viewer, "the room is full");
    };
    // Viewers wait for their presenter by retrying; they open a room only where another node
    // holds its presenter.
    if (CloudRoom *target = m_rooms.value(room)) {
        join(socket, target);
        return;
    }
    if (!m_cluster) {
        refuse(socket, "the room is not live");
        return;
    }
    QPointer<QWebSocket> viewer(socket);
    // Until a room takes it, a viewer that leaves is this relay's to free.
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    askLive(room, [this, viewer, room, join](bool live) {
        if (!viewer || viewer->state() != QAbstractSocket::ConnectedState)
            return;
        if (!live) {
            refuse(viewer, "the room is not live");
            return;
        }
        CloudRoom *target = openRoom(room);
        if (!target) {
            refuse(viewer, "the relay has no room left");
            return;
        }
        disconnect(viewer, &QWebSocket::disconnected, viewer, &QObject::deleteLater);
        join(viewer, target);
    });
}

void CloudRelay::askLive(const QString &room, std::function<void(bool live)> answer)
{
    m_cluster->ask(RoomSubjects::audience(room), R"({"kind":"live"})",
                   CloudCluster::kAnswerTimeoutMs, [answer](const QByteArray *reply) {
                       answer(reply != nullptr);
                       return false;
                   });
}

void CloudRelay::refuse(QWebSocket *socket, const QString &reason)
{
    qInfo() << "refused" << socket->requestUrl().path() << "from"
            << socket->peerAddress().toString() << ":" << reason;
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated, reason);
}

void CloudRelay::readClient()
{
    m_requests.readRequest(qobject_cast<QTcpSocket *>(sender()), m_webDir);
}

void CloudRelay::discardClient() {}

void CloudRelay::addFeedback(QTcpSocket *socket, const QString &path)
{
    const int query = path.indexOf('?');
    QString room;
    QByteArray payload;
    // Each item by hand: the question stays percent-encoded until its own decoding.
    const QStringList items = query < 0 ? QStringList() : path.mid(query + 1).split('&');
    for (const QString &item : items) {
        if (item.startsWith("room="))
            room = item.mid(5);
        else if (item.startsWith("raw="))
            payload = QByteArray::fromPercentEncoding(item.mid(4).toUtf8());
    }
    CloudRoom *target = m_rooms.value(room);
    if (!isQuestionPayload(payload) || (!target && !m_cluster)) {
        respond(socket, "400", "Bad request");
        return;
    }
    if ((!target || !target->hasPresenter()) && m_cluster) {
        // "OK" only once the presenter's node has handed the question to its studio.
        const QJsonObject question{{"kind", "question"}, {"question", QString::fromUtf8(payload)}};
        QPointer<QTcpSocket> client(socket);
        m_cluster->ask(RoomSubjects::audience(room),
                       QJsonDocument(question).toJson(QJsonDocument::Compact),
                       CloudCluster::kAnswerTimeoutMs, [client](const QByteArray *reply) {
                           if (!client)
                               return false;
                           if (reply && *reply == "ok")
                               respond(client, "200", "OK");
                           else
                               respond(client, "503", "The studio is not live");
                           return false;
                       });
        return;
    }
    if (!target->forwardQuestion(payload)) {
        respond(socket, "503", "The studio is not live");
        return;
    }
    respond(socket, "200", "OK");
}

void CloudRelay::report()
{
    // A room whose silent presenter is dropped may be freed on the way.
    const QList<CloudRoom *> rooms = m_rooms.values();
    for (CloudRoom *room : rooms)
        room->report();
}
