#include "cloud/CloudRelay.h"

#include "cloud/CloudRoom.h"
#include "relay/ViewerAcceptor.h"
#include "relay/WSServer.h"
#include "web/HttpResponse.h"
#include "web/QuestionPayload.h"

#include <QDebug>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

const QString kPresenterPrefix = QStringLiteral("/websocket/left/");
const QString kViewerPrefix = QStringLiteral("/websocket/right/");

} // namespace

CloudRelay::CloudRelay(const Limits &limits, const QString &webDir, QObject *parent)
    : QObject(parent), m_limits(limits), m_webDir(webDir),
      m_handshaker(new QWebSocketServer("lumacast-cloud", QWebSocketServer::NonSecureMode, this)),
      m_acceptor(new ViewerAcceptor(m_handshaker, this)),
      m_requests({{"/feedback.php", "addFeedback", [this](QTcpSocket *socket, const QString &path) {
                       addFeedback(socket, path);
                   }}})
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

    CloudRoom *target = m_rooms.value(room);
    if (presenter) {
        socket->setMaxAllowedIncomingMessageSize(kMaxPresenterMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(kMaxPresenterMessageBytes);
        if (!target && m_rooms.size() >= m_limits.maxRooms) {
            refuse(socket, "the relay has no room left");
            return;
        }
        if (!target) {
            target = new CloudRoom(room, m_limits.maxViewersPerRoom, this);
            m_rooms.insert(room, target);
            connect(target, &CloudRoom::emptied, this, [this, target] {
                qInfo() << "room" << target->id() << "freed";
                m_rooms.remove(target->id());
                target->deleteLater();
            });
        }
        if (!target->setPresenter(socket))
            refuse(socket, "this room already has a presenter");
        return;
    }

    socket->setMaxAllowedIncomingMessageSize(WSServer::kMaxIncomingMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(WSServer::kMaxIncomingMessageBytes);
    // Viewers wait for their presenter by retrying; they never open rooms.
    if (!target) {
        refuse(socket, "the room is not live");
        return;
    }
    const bool admitted = channel == "readvideo" ? target->addVideoViewer(socket, transport)
                                                 : target->addCommandViewer(socket);
    if (!admitted)
        refuse(socket, "the room is full");
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
    if (!isQuestionPayload(payload) || !target) {
        HttpResponse::sendResponse(socket, "400", "Bad request");
        return;
    }
    if (!target->forwardQuestion(payload)) {
        HttpResponse::sendResponse(socket, "503", "The studio is not live");
        return;
    }
    HttpResponse::sendResponse(socket, "200", "OK");
}

void CloudRelay::report()
{
    // A room whose silent presenter is dropped may be freed on the way.
    const QList<CloudRoom *> rooms = m_rooms.values();
    for (CloudRoom *room : rooms)
        room->report();
}
