#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>

class QTcpSocket;

// Caps the connections one remote address holds open on a listener. One careless or hostile
// machine opening connections by the thousand would otherwise take every file descriptor and
// lock out the whole audience. GUI thread, like the listener.
class ConnectionsPerAddress : public QObject
{
    Q_OBJECT
public:
    // A browser opens two WebSockets and a handful of page requests at once, so a dozen viewers
    // behind one NAT address (a meeting room, a small class) stay below this; a single machine
    // stays far below the descriptor limit however many connections it tries.
    static constexpr int kDefaultCap = 32;

    // `name` goes into the log.
    explicit ConnectionsPerAddress(const QString &name, int cap = kDefaultCap);

    // Counts `socket` against its peer address until it disconnects or is destroyed. When the
    // address holds the cap already, the socket is aborted and deleted and false returned.
    bool admit(QTcpSocket *socket);

    int openFrom(const QHostAddress &address) const { return m_open.value(address); }

private:
    void release(QObject *socket);

    QString m_name;
    int m_cap;
    QHash<QHostAddress, int> m_open;
    QHash<QObject *, QHostAddress> m_counted;
    QHash<QHostAddress, int> m_refusedUnlogged;
};
