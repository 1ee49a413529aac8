#include "cloud/CloudRelay.h"

#include "cloud/CloudCluster.h"
#include "cloud/CloudRoom.h"
#include "cloud/PresenterGate.h"
#include "cloud/RoomSubjects.h"
#include "net/AddressKey.h"
#include "net/TlsCredentials.h"
#include "relay/PresenterClaim.h"
#include "relay/ViewerAcceptor.h"
#include "relay/WSServer.h"
#include "web/HttpRequest.h"
#include "web/HttpResponse.h"
#include "web/QuestionPayload.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

const QString kPresenterPrefix = QStringLiteral("/websocket/left/");
const QString kViewerPrefix = QStringLiteral("/websocket/right/");
// "Try again later": the studio reconnects instead of ending its session.
constexpr auto kCloseTryAgain = QWebSocketProtocol::CloseCode(1013);

// The question route answers some requests only once another node has: it closes its
// connections itself.
void respond(QTcpSocket *socket, const QString &status, const QString &body)
{
    HttpResponse::sendResponse(socket, status, body);
    socket->close();
}

} // namespace

CloudRelay::CloudRelay(const Limits &limits, const QString &webDir, QObject *parent)
    : QObject(parent), m_limits(limits),
      m_handshaker(new QWebSocketServer("lumacast-cloud", QWebSocketServer::NonSecureMode, this)),
      m_acceptor(new ViewerAcceptor(m_handshaker, this)),
      m_routes({{"/feedback.php", "addFeedback",
                 [this](QTcpSocket *socket, const HttpRequest &request) {
                     addFeedback(socket, request);
                 },
                 true}},
               webDir),
      m_http(&m_routes, QStringLiteral("relay HTTP")),
      m_gate(new PresenterGate(
          &m_presenterKeys,
          [this](QWebSocket *socket, const QString &room, const QByteArray &key) {
              onClaimed(socket, room, key);
          },
          [this](QWebSocket *socket, const QString &reason) { refuse(socket, reason); }, this))
{
    m_acceptor->setPlainRequestHandler([this](QTcpSocket *socket) { m_http.serve(socket); });
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

bool CloudRelay::serveTls(const QString &certificatePath, const QString &keyPath, QString *error)
{
    auto credentials = std::make_unique<TlsCredentials>(certificatePath, keyPath);
    if (!credentials->load(error))
        return false;
    m_tls = std::move(credentials);
    m_acceptor->serveTls(m_tls.get());
    return true;
}

void CloudRelay::trustBalancers(const TrustedBalancers &balancers)
{
    m_acceptor->trustBalancers(balancers);
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
    return PresenterClaim::isRoom(room);
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
    if (!m_origins.allows(socket->origin(), socket->requestUrl())) {
        refuse(socket, "pages of this origin may not use the relay");
        return;
    }

    if (presenter)
        admitPresenter(socket, transport, room);
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

void CloudRelay::admitPresenter(QWebSocket *socket, QTcpSocket *transport, const QString &room)
{
    if (!m_claimBuckets.take(socket->peerAddress())) {
        refuseForNow(socket, "too many presenter claims from this address");
        return;
    }
    // The relay sends a presenter little (a challenge, reports, questions), but Qt answers every
    // ping: a socket that pings and never reads, before its claim or after, would otherwise grow
    // that backlog without end. Checked after the socket's own handler has queued its answers.
    if (transport)
        connect(transport, &QTcpSocket::readyRead, socket, [this, socket, transport] {
            if (transport->bytesToWrite() <= kMaxPresenterBacklogBytes)
                return;
            logRefusal(socket, "dropped",
                       QString("a presenter that does not read (%1 bytes unsent)")
                           .arg(transport->bytesToWrite()));
            socket->abort();
        });
    socket->setMaxAllowedIncomingMessageSize(kMaxPresenterMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxPresenterMessageBytes);
    m_gate->challenge(socket, room);
}

QString CloudRelay::roomLimitReached(const QString &room, const QByteArray &key,
                                     const QHostAddress &address) const
{
    if (m_rooms.contains(room))
        return QString();
    if (m_rooms.size() >= m_limits.maxRooms)
        return "the relay has no room left";
    const QHostAddress from = AddressKey::of(address);
    int byKey = 0;
    int byAddress = 0;
    for (const CloudRoom *open : m_rooms) {
        byKey += open->ownerKey() == key;
        byAddress += open->hasPresenter() && AddressKey::of(open->presenterAddress()) == from;
    }
    if (byKey >= m_limits.maxRoomsPerPresenter)
        return "this presenter has too many rooms open";
    if (byAddress >= m_limits.maxRoomsPerAddress)
        return "too many rooms open from this address";
    return QString();
}

void CloudRelay::onClaimed(QWebSocket *socket, const QString &room, const QByteArray &key)
{
    const QString limit = roomLimitReached(room, key, socket->peerAddress());
    if (!limit.isEmpty()) {
        refuse(socket, limit);
        return;
    }
    const CloudRoom *here = m_rooms.value(room);
    if (!m_cluster || (here && here->hasPresenter())) {
        seatPresenter(socket, room, key);
        return;
    }
    // The room may be live on another node: without the cluster nobody can say it is not.
    if (!m_cluster->nats().isConnected()) {
        refuseForNow(socket, "the relay cannot reach its cluster");
        return;
    }
    QPointer<QWebSocket> presenter(socket);
    // Until a room takes it, a presenter that leaves is this relay's to free.
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    const auto waiting = [this, presenter] {
        if (!presenter || presenter->state() != QAbstractSocket::ConnectedState)
            return false;
        disconnect(presenter, &QWebSocket::disconnected, presenter, &QObject::deleteLater);
        return true;
    };
    const QJsonObject claim{{"kind", "claim"}, {"key", QString::fromLatin1(key.toBase64())}};
    m_cluster->ask(
        RoomSubjects::audience(room), QJsonDocument(claim).toJson(QJsonDocument::Compact),
        CloudCluster::kAnswerTimeoutMs,
        [this, presenter, room, key, waiting](const QByteArray *answer) {
            if (!waiting())
                return false;
            // "released": the node that held the room has let its connection go; nobody
            // answering: no node holds it.
            if (answer && *answer == "refused")
                refuse(presenter, "this room belongs to another presenter");
            else
                seatPresenter(presenter, room, key);
            return false;
        },
        [this, presenter, waiting] {
            if (waiting())
                refuseForNow(presenter, "the relay could not settle the room with its cluster");
        });
}

void CloudRelay::seatPresenter(QWebSocket *socket, const QString &room, const QByteArray &key)
{
    CloudRoom *target = openRoom(room);
    if (!target) {
        refuse(socket, "the relay has no room left");
        return;
    }
    if (!target->setPresenter(socket, key)) {
        refuse(socket, "this room belongs to another presenter");
        return;
    }
    socket->sendTextMessage(PresenterClaim::admittedMessage());
}

void CloudRelay::admitViewer(QWebSocket *socket, QTcpSocket *transport, const QString &room,
                             const QString &channel)
{
    socket->setMaxAllowedIncomingMessageSize(WSServer::kMaxIncomingMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(WSServer::kMaxIncomingMessageBytes);
    const auto join = [this, transport, channel](QWebSocket *viewer, CloudRoom *target) {
        if (target->fullFor(viewer->peerAddress())) {
            refuse(viewer, "too many viewers from this address in this room");
            return;
        }
        const bool admitted = channel == "readvideo" ? target->addVideoViewer(viewer, transport)
                                                     : target->addCommandViewer(viewer, transport);
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
    m_cluster->askLive(room, [this, viewer, room, join](CloudCluster::Liveness liveness) {
        if (!viewer || viewer->state() != QAbstractSocket::ConnectedState)
            return;
        if (liveness != CloudCluster::Liveness::Live) {
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

void CloudRelay::refuse(QWebSocket *socket, const QString &reason)
{
    logRefusal(socket, "refused", reason);
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated, reason);
}

void CloudRelay::refuseForNow(QWebSocket *socket, const QString &reason)
{
    logRefusal(socket, "turned away for now", reason);
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(kCloseTryAgain, reason);
}

void CloudRelay::logRefusal(QWebSocket *socket, const char *what, const QString &reason)
{
    // A table of every address that ever was refused would grow without end: it starts over.
    if (m_refusalLogs.size() > 4096)
        m_refusalLogs.clear();
    LogBudget &budget = m_refusalLogs[AddressKey::of(socket->peerAddress())];
    if (!budget.admit() || !m_refusalLog.admit())
        return;
    const int leftOut = budget.takeLeftOut();
    qInfo().noquote() << what << LogBudget::quoted(socket->requestUrl().path()) << "from"
                      << socket->peerAddress().toString() << ":" << reason
                      << (leftOut ? QString("(%1 more from there left out)").arg(leftOut)
                                  : QString());
}

void CloudRelay::addFeedback(QTcpSocket *socket, const HttpRequest &request)
{
    const QString room = request.queryItem(QStringLiteral("room"));
    const QByteArray payload =
        QByteArray::fromPercentEncoding(request.queryItem(QStringLiteral("raw")).toUtf8());
    // Checked before the name is looked up or made into a subject: a name of any length or
    // bytes would otherwise reach NATS.
    if (!isRoomId(room)) {
        respond(socket, "400", "Bad request");
        return;
    }
    if (!m_questionBuckets.take(socket->peerAddress())) {
        respond(socket, "429", "Too many questions");
        return;
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
                       CloudRoom::kQuestionAnswerMs + CloudCluster::kAnswerTimeoutMs,
                       [client](const QByteArray *reply) {
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
    QPointer<QTcpSocket> client(socket);
    target->askQuestion(payload, [client](bool stored) {
        if (!client)
            return;
        if (stored)
            respond(client, "200", "OK");
        else
            respond(client, "503", "The studio has not stored the question");
    });
}

void CloudRelay::report()
{
    // A room whose silent presenter is dropped may be freed on the way.
    const QList<CloudRoom *> rooms = m_rooms.values();
    for (CloudRoom *room : rooms)
        room->report();
}
