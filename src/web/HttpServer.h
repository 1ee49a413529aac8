#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <memory>

class AcceptBackoff;
class ConnectionsPerAddress;
class HttpRequestHandler;
class QTcpServer;
class QTcpSocket;

// The HTTP/1.0 server of the studio and the relay, knowing nothing of the application: one GET
// request line per connection, handed to the request handler, answered and then closed. It
// listens itself, or serves connections another listener accepted. A connection whose request
// has not arrived within the idle time, or whose reply stops moving as long, is aborted; a
// closed connection is released; one beyond the per-address cap is refused at once. Lives on
// the thread it was made on, with its listener and connections.
class HttpServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxRequestLineBytes = 8 * 1024;
    // A request must have arrived this long after the connection opened, however the bytes
    // trickle in; a reply that stops moving for as long is given up too.
    static constexpr int kIdleTimeoutMs = 30 * 1000;

    // `handler` is not owned and must outlive the server; `name` goes into the log.
    HttpServer(HttpRequestHandler *handler, const QString &name, int idleTimeoutMs = kIdleTimeoutMs,
               QObject *parent = nullptr);
    ~HttpServer() override;

    // Listens with the system's full connection queue; port 0 lets the system pick.
    bool listen(const QHostAddress &address, quint16 port);
    // Stops accepting; connections already accepted are answered as usual.
    void close();
    bool isListening() const;
    // 0 and a null address while it does not listen.
    quint16 serverPort() const;
    QHostAddress serverAddress() const;
    QString errorString() const;

    // Takes a connection accepted elsewhere, with whatever it has buffered still unread.
    void serve(QTcpSocket *socket);

signals:
    // A connection of the server's own listener was accepted and is about to be read.
    void connectionAccepted();

private:
    void onNewConnection();
    void readRequest(QTcpSocket *socket);
    // True when the line was a request, answered now or later.
    bool examineLine(QTcpSocket *socket, const QByteArray &line);

    HttpRequestHandler *m_handler;
    QString m_name;
    int m_idleTimeoutMs;
    std::unique_ptr<ConnectionsPerAddress> m_perAddress;
    std::unique_ptr<QTcpServer> m_listener;
    std::unique_ptr<AcceptBackoff> m_acceptBackoff; // after the listener it watches
};
