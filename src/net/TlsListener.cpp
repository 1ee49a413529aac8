#include "net/TlsListener.h"

#include "net/TlsCredentials.h"
#include "net/TlsSocket.h"

#include <QDebug>
#include <unistd.h>

void TlsListener::incomingConnection(qintptr descriptor)
{
    if (QTcpSocket *socket = socketFor(descriptor))
        addPendingConnection(socket);
}

QTcpSocket *TlsListener::socketFor(qintptr descriptor)
{
    TlsSocket *tls = m_credentials ? new TlsSocket(this) : nullptr;
    QTcpSocket *socket = tls ? tls : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        qWarning() << "cannot take an accepted connection:" << socket->errorString();
        ::close(int(descriptor));
        delete socket;
        return nullptr;
    }
    if (tls) {
        // Read per connection: a renewed certificate serves the next client, the connected ones
        // keep the session they have.
        tls->setSslConfiguration(m_credentials->configuration());
        tls->startServerEncryption();
    }
    return socket;
}
