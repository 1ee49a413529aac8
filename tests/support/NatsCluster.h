#pragma once

#include "support/ChildProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <stdexcept>
#include <vector>

// Real nats-server processes clustered on loopback, started and ended by the test. Their ports
// are free ones the system named a moment before.
class NatsCluster
{
public:
    // Throws when the servers do not come up and find each other in time.
    explicit NatsCluster(int size)
    {
        for (int i = 0; i < size; ++i)
            m_servers.push_back({freePort(), freePort(), std::make_unique<ChildProcess>()});
        QStringList routes;
        for (const Server &server : m_servers)
            routes << QString("nats://127.0.0.1:%1").arg(server.routePort);
        for (int i = 0; i < size; ++i) {
            Server &server = m_servers[size_t(i)];
            ChildProcess::Options options;
            options.stderrPath = logPath(i);
            QString error;
            // Routes to the others only: nats-server 2.9 given its own address among its routes
            // can drop a route to another server as a duplicate.
            QStringList others = routes;
            others.removeAt(i);
            // Clients reach the servers they are given, and no other: a test that cuts a node's
            // way to its server cuts it off the cluster, and a client does not find the others.
            const QStringList arguments{"-a",
                                        "127.0.0.1",
                                        "-p",
                                        QString::number(server.port),
                                        "-n",
                                        QString("nats-%1").arg(i),
                                        "--cluster",
                                        routes.at(i),
                                        "--cluster_name",
                                        "lumacast",
                                        "--routes",
                                        others.join(','),
                                        "--no_advertise"};
            if (!server.process->start("nats-server", arguments, options, &error))
                throw std::runtime_error(error.toStdString());
        }
        // Each server has a route to every other one.
        QElapsedTimer waited;
        waited.start();
        for (int i = 0; i < size; ++i) {
            while (routesOf(i) < size - 1) {
                if (waited.elapsed() > 15000)
                    throw std::runtime_error("the NATS servers did not form a cluster");
                QTest::qWait(50);
            }
        }
    }

    // The addresses a node is given, starting with server `first`.
    QString urls(int first = 0) const
    {
        QStringList urls;
        for (size_t i = 0; i < m_servers.size(); ++i)
            urls << QString("nats://127.0.0.1:%1")
                        .arg(m_servers[(size_t(first) + i) % m_servers.size()].port);
        return urls.join(',');
    }
    quint16 port(int index) const { return m_servers[size_t(index)].port; }
    // Ends server `index` at once, as a crash would.
    void kill(int index) { m_servers[size_t(index)].process->stop(0); }

private:
    struct Server
    {
        quint16 port;
        quint16 routePort;
        std::unique_ptr<ChildProcess> process;
    };

    static quint16 freePort()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            throw std::runtime_error("no free port");
        return probe.serverPort();
    }
    QString logPath(int index) const { return m_logs.filePath(QString("nats-%1.log").arg(index)); }
    int routesOf(int index) const
    {
        QFile log(logPath(index));
        if (!log.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = log.readAll();
        return int(text.count("Route connection created") - text.count("Duplicate Route"));
    }

    QTemporaryDir m_logs;
    std::vector<Server> m_servers;
};
