#include "net/ConnectionsPerAddress.h"

#include <QDebug>
#include <QTcpSocket>

ConnectionsPerAddress::ConnectionsPerAddress(const QString &name, int cap)
    : m_name(name), m_cap(cap)
{}

bool ConnectionsPerAddress::admit(QTcpSocket *socket)
{
    const QHostAddress address = socket->peerAddress();
    int &open = m_open[address];
    if (open >= m_cap) {
        // One line per refused burst, not one per connection: the refusals are the attack.
        if (m_refusedUnlogged[address]++ == 0)
            qWarning().noquote() << m_name << "refuses connections from" << address.toString()
                                 << "beyond" << m_cap << "open ones";
        // Closed once the listener's accept loop has returned: a descriptor freed inside it would
        // at once go to the next pending connection or another listener, and a flood of
        // refusals would never let the listener see that descriptors have run out.
        QMetaObject::invokeMethod(socket, &QTcpSocket::abort, Qt::QueuedConnection);
        socket->deleteLater();
        return false;
    }
    ++open;
    m_counted.insert(socket, address);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { release(socket); });
    connect(socket, &QObject::destroyed, this, &ConnectionsPerAddress::release);
    return true;
}

void ConnectionsPerAddress::release(QObject *socket)
{
    const auto found = m_counted.find(socket);
    if (found == m_counted.end())
        return;
    const QHostAddress address = found.value();
    m_counted.erase(found);
    if (--m_open[address] > 0)
        return;
    m_open.remove(address);
    if (const int refused = m_refusedUnlogged.take(address); refused > 1)
        qWarning().noquote() << m_name << "refused" << refused << "connections from"
                             << address.toString();
}
