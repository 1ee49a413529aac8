#include "web/HttpRequestHandler.h"

#include "net/ConnectionsPerAddress.h"
#include "web/HttpResponse.h"

#include <QDebug>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

namespace {

const char *const kIdleTimerName = "lumacast_idle_timer";

} // namespace

HttpRequestHandler::HttpRequestHandler(QVector<HttpRoute> routes, int idleTimeoutMs)
    : m_routes(std::move(routes)), m_idleTimeoutMs(idleTimeoutMs),
      m_perAddress(std::make_unique<ConnectionsPerAddress>(QStringLiteral("HTTP server")))
{}

HttpRequestHandler::~HttpRequestHandler() = default;

void HttpRequestHandler::accept(QTcpSocket *socket, QObject *server) const
{
    if (!socket || !m_perAddress->admit(socket))
        return;
    // Unexamined lines are never buffered beyond this; a full buffer without a line ends in
    // the length check of readRequest, a full buffer of lines in the idle timeout.
    socket->setReadBufferSize(2 * kMaxRequestLineBytes);
    auto *idle = new QTimer(socket);
    idle->setObjectName(kIdleTimerName);
    idle->setSingleShot(true);
    idle->setInterval(m_idleTimeoutMs);
    QObject::connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
    idle->start();
    // A reply still being delivered counts as progress.
    QObject::connect(socket, &QTcpSocket::bytesWritten, idle, [idle] { idle->start(); });
    QObject::connect(socket, SIGNAL(readyRead()), server, SLOT(readClient()));
    QObject::connect(socket, SIGNAL(disconnected()), server, SLOT(discardClient()));
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void HttpRequestHandler::readRequest(QTcpSocket *socket, const QString &webDir) const
{
    if (!socket)
        return;
    // Every complete line is examined at once, so nothing waits in the buffer for data that
    // may never come.
    while (socket->isOpen() && socket->canReadLine()) {
        const QByteArray line = socket->readLine(kMaxRequestLineBytes + 1);
        if (!line.endsWith('\n')) {
            socket->abort();
            return;
        }
        if (examineLine(socket, line, webDir))
            return;
    }
    if (socket->isOpen() && socket->bytesAvailable() > kMaxRequestLineBytes)
        socket->abort();
}

bool HttpRequestHandler::examineLine(QTcpSocket *socket, const QByteArray &line,
                                     const QString &webDir) const
{
    static const QRegularExpression separators("[ \r\n][ \r\n]*");
    const QStringList parts = QString::fromUtf8(line).split(separators);
    // Anything else is not a request this server answers; the connection stays open for the
    // next line, within the deadline that runs since it opened.
    if (parts.size() < 2 || parts.at(0) != "GET")
        return false;
    const QString path = parts.at(1);
    if (const HttpRoute *route = routeFor(path)) {
        // One request per connection: later lines are not examined.
        QObject::disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
        try {
            route->handle(socket, path);
            if (route->answersLater)
                return true;
        } catch (...) {
            qDebug() << route->handlerName + " EXCEPTION";
        }
        socket->close();
        return true;
    }
    HttpResponse::sendFile(socket, webDir, path.split('?').at(0));
    socket->flush();
    socket->close();
    return true;
}

const HttpRoute *HttpRequestHandler::routeFor(const QString &path) const
{
    for (const HttpRoute &route : m_routes) {
        if (path.startsWith(route.prefix))
            return &route;
    }
    return nullptr;
}
