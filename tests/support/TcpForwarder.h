#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// Stands between clients and one or more servers on loopback: the faults a remote server's
// network shows, at will, and with several servers a load balancer that takes each new
// connection to the next of them, and past one that refuses it, as a TCP balancer does.
class TcpForwarder : public QObject
{
public:
    explicit TcpForwarder(quint16 target) : TcpForwarder(QList<quint16>{target}) {}
    explicit TcpForwarder(const QList<quint16> &targets) : m_targets(targets)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &TcpForwarder::onNewConnection);
    }
    bool open(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return m_server.isListening() ? m_server.serverPort() : m_port; }
    // Closes the listener (new connections are refused) and aborts what is open.
    void cut()
    {
        m_port = m_server.serverPort();
        m_server.close();
        for (const QPointer<QTcpSocket> &socket : qAsConst(m_sockets))
            if (socket)
                socket->abort();
    }

    // Stops relaying on what is open, without closing anything: a connection that died
    // silently, as when the studio's network changes under it. New connections work.
    void freeze()
    {
        for (const QPointer<QTcpSocket> &socket : qAsConst(m_sockets))
            if (socket)
                socket->disconnect();
        m_sockets.clear();
    }

    // Writes `bytes` to every client on what is open, as if its server had sent them.
    void sendToClients(const QByteArray &bytes)
    {
        for (const QPointer<QTcpSocket> &client : qAsConst(m_clients))
            if (client)
                client->write(bytes);
    }

private:
    void onNewConnection()
    {
        while (QTcpSocket *client = m_server.nextPendingConnection()) {
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            m_sockets << client;
            m_clients << client;
            forward(client, m_targets.size());
        }
    }

    // Connects `client` to the next target; one that refuses passes it on, `triesLeft` times.
    void forward(QTcpSocket *client, int triesLeft)
    {
        if (triesLeft == 0) {
            client->abort();
            return;
        }
        const quint16 target = m_targets.at(m_next++ % m_targets.size());
        auto *upstream = new QTcpSocket(client);
        upstream->connectToHost(QHostAddress::LocalHost, target);
        // What the client sends before the upstream is connected waits in its buffer.
        const auto send = [client, upstream] {
            if (upstream->state() == QAbstractSocket::ConnectedState)
                upstream->write(client->readAll());
        };
        connect(client, &QTcpSocket::readyRead, upstream, send);
        connect(upstream, &QTcpSocket::connected, client, send);
        connect(upstream, &QTcpSocket::readyRead, client,
                [client, upstream] { client->write(upstream->readAll()); });
        connect(upstream, &QTcpSocket::errorOccurred, client, [this, client, upstream, triesLeft] {
            if (upstream->property("connected").toBool()) {
                client->abort();
                return;
            }
            upstream->disconnect();
            upstream->deleteLater();
            forward(client, triesLeft - 1);
        });
        connect(upstream, &QTcpSocket::connected, upstream,
                [upstream] { upstream->setProperty("connected", true); });
        connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::abort);
        m_sockets << upstream;
    }

    QTcpServer m_server;
    QList<quint16> m_targets;
    int m_next = 0;
    quint16 m_port = 0;
    QList<QPointer<QTcpSocket>> m_sockets;
    QList<QPointer<QTcpSocket>> m_clients;
};
