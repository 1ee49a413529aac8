#pragma once

#include <QString>
#include <QVector>
#include <functional>
#include <memory>

class ConnectionsPerAddress;

class QObject;
class QTcpSocket;

// Route handler: the socket of the request and its path, query included.
using HttpRouteHandler = std::function<void(QTcpSocket *socket, const QString &path)>;

struct HttpRoute
{
    QString prefix;      // compared case-sensitively with the start of the path
    QString handlerName; // logged with " EXCEPTION" when the handler throws
    HttpRouteHandler handle;
    // The handler answers later and closes the connection itself; a handler that throws still
    // has its connection closed at once.
    bool answersLater = false;
};

// Request reading and prefix routing of the studio's HTTP/1.0 servers: one GET request line per
// connection, answered and then closed; paths no route claims are static files of the web
// directory. Lives on the thread of the server that owns it.
class HttpRequestHandler
{
public:
    static constexpr int kMaxRequestLineBytes = 8 * 1024;
    // A request must have arrived this long after the connection opened, however the bytes
    // trickle in; a reply that stops moving for as long is given up too.
    static constexpr int kIdleTimeoutMs = 30 * 1000;

    explicit HttpRequestHandler(QVector<HttpRoute> routes, int idleTimeoutMs = kIdleTimeoutMs);
    ~HttpRequestHandler();

    // Prepares an accepted connection: its readyRead() goes to the server's readClient() slot
    // and its disconnected() to discardClient(); a connection whose request has not arrived
    // within the idle time, or whose reply stops moving as long, is aborted, and a closed
    // connection is released. A connection beyond the per-address cap is refused at once.
    void accept(QTcpSocket *socket, QObject *server) const;

    // Examines each complete line of the socket as a request line until one is answered.
    void readRequest(QTcpSocket *socket, const QString &webDir) const;

private:
    // True when the line was a request, answered now or later.
    bool examineLine(QTcpSocket *socket, const QByteArray &line, const QString &webDir) const;
    const HttpRoute *routeFor(const QString &path) const;

    QVector<HttpRoute> m_routes;
    int m_idleTimeoutMs;
    std::unique_ptr<ConnectionsPerAddress> m_perAddress;
};
