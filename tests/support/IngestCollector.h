#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVector>
#include <chrono>
#include <memory>

// A plain TCP listener standing in for the relay's ingest port: keeps every connection's bytes
// in order, with the steady-clock time at which each read arrived. Runs on the thread of its
// event loop.
class IngestCollector
{
public:
    struct Arrival
    {
        qint64 offset; // of the read's first byte within the connection
        qint64 timeUs; // steady clock, microseconds (same clock as the capture back end)
    };
    struct Connection
    {
        QByteArray data;
        QVector<Arrival> arrivals;
        bool closed = false;
    };

    IngestCollector()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
    }

    // Port 0: whichever is free; the writers are then pointed at port().
    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return m_server.serverPort(); }
    bool isListening() const { return m_server.isListening(); }
    void close()
    {
        m_server.close();
        m_sockets.clear();
    }

    int count() const { return int(m_connections.size()); }
    const Connection &connection(int index) const { return *m_connections[index]; }
    qint64 totalBytes(int index) const { return m_connections[index]->data.size(); }
    // Forgets the connections received so far (their sockets are closed).
    void reset()
    {
        m_sockets.clear();
        m_connections.clear();
    }

    // Arrival time of the byte at `offset` of connection `index`.
    qint64 arrivalUs(int index, qint64 offset) const
    {
        qint64 time = -1;
        for (const Arrival &arrival : m_connections[index]->arrivals) {
            if (arrival.offset > offset)
                break;
            time = arrival.timeUs;
        }
        return time;
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto connection = std::make_shared<Connection>();
            m_connections.push_back(connection);
            m_sockets.push_back(std::unique_ptr<QTcpSocket>(socket));
            QObject::connect(socket, &QTcpSocket::readyRead, [socket, connection] {
                const qint64 now = std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count();
                connection->arrivals.push_back({connection->data.size(), now});
                connection->data += socket->readAll();
            });
            QObject::connect(socket, &QTcpSocket::disconnected,
                             [connection] { connection->closed = true; });
        }
    }

    QTcpServer m_server;
    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
    std::vector<std::shared_ptr<Connection>> m_connections;
};
