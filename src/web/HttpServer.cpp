#include "web/HttpServer.h"

#include "net/AcceptBackoff.h"
#include "net/ConnectionsPerAddress.h"
#include "net/ListenQueue.h"
#include "web/HttpRequest.h"
#include "web/HttpRequestHandler.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

HttpServer::HttpServer(HttpRequestHandler *handler, const QString &name, int idleTimeoutMs,
                       QObject *parent)
    : QObject(parent), m_handler(handler), m_name(name), m_idleTimeoutMs(idleTimeoutMs),
      m_perAddress(std::make_unique<ConnectionsPerAddress>(name))
{}

HttpServer::~HttpServer()
{
    // Connections still open go with the listener; their last signals must not reach a server
    // half torn down.
    if (m_listener)
        for (QTcpSocket *socket : m_listener->findChildren<QTcpSocket *>())
            disconnect(socket, nullptr, this, nullptr);
}

bool HttpServer::listen(const QHostAddress &address, quint16 port)
{
    if (!m_listener) {
        m_listener = std::make_unique<QTcpServer>(this);
        connect(m_listener.get(), &QTcpServer::newConnection, this, &HttpServer::onNewConnection);
        m_acceptBackoff = std::make_unique<AcceptBackoff>(m_listener.get(), m_name);
    }
    if (!m_listener->listen(address, port))
        return false;
    ListenQueue::widen(*m_listener, m_name);
    return true;
}

void HttpServer::close()
{
    if (m_listener)
        m_listener->close();
}

bool HttpServer::isListening() const
{
    return m_listener && m_listener->isListening();
}

quint16 HttpServer::serverPort() const
{
    return isListening() ? m_listener->serverPort() : 0;
}

QHostAddress HttpServer::serverAddress() const
{
    return isListening() ? m_listener->serverAddress() : QHostAddress();
}

QString HttpServer::errorString() const
{
    return m_listener ? m_listener->errorString() : QString();
}

void HttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        emit connectionAccepted();
        serve(socket);
    }
}

void HttpServer::serve(QTcpSocket *socket)
{
    if (!socket || !m_perAddress->admit(socket))
        return;
    // Unexamined lines are never buffered beyond this; a full buffer without a line ends in
    // the length check of readRequest, a full buffer of lines in the idle timeout.
    socket->setReadBufferSize(2 * kMaxRequestLineBytes);
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(m_idleTimeoutMs);
    connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
    idle->start();
    // A reply still being delivered counts as progress.
    connect(socket, &QTcpSocket::bytesWritten, idle, [idle] { idle->start(); });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    readRequest(socket);
}

void HttpServer::readRequest(QTcpSocket *socket)
{
    // Every complete line is examined at once, so nothing waits in the buffer for data that
    // may never come.
    while (socket->isOpen() && socket->canReadLine()) {
        const QByteArray line = socket->readLine(kMaxRequestLineBytes + 1);
        if (!line.endsWith('\n')) {
            socket->abort();
            return;
        }
        if (examineLine(socket, line))
            return;
    }
    if (socket->isOpen() && socket->bytesAvailable() > kMaxRequestLineBytes)
        socket->abort();
}

bool HttpServer::examineLine(QTcpSocket *socket, const QByteArray &line)
{
    static const QRegularExpression separators("[ \r\n][ \r\n]*");
    const QStringList parts = QString::fromUtf8(line).split(separators);
    // Anything else is not a request this server answers; the connection stays open for the
    // next line, within the deadline that runs since it opened.
    if (parts.size() < 2 || parts.at(0) != "GET")
        return false;
    // One request per connection: later lines are not examined.
    disconnect(socket, &QIODevice::readyRead, this, nullptr);
    if (m_handler->handleRequest(socket, HttpRequest::fromTarget(parts.at(1))))
        return true;
    socket->flush();
    socket->close();
    return true;
}
