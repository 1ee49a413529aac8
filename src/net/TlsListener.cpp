#include "net/TlsListener.h"

#include "net/TlsCredentials.h"
#include "net/TlsSocket.h"

#include <QDebug>
#include <unistd.h>

void TlsListener::incomingConnection(qintptr descriptor)
{
    if (!m_credentials) {
        QTcpServer::incomingConnection(descriptor);
        return;
    }
    auto *socket = new TlsSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        qWarning() << "TLS: cannot take an accepted connection:" << socket->errorString();
        ::close(int(descriptor));
        delete socket;
        return;
    }
    // Read per connection: a renewed certificate serves the next client, the connected ones
    // keep the session they have.
    socket->setSslConfiguration(m_credentials->configuration());
    addPendingConnection(socket);
    socket->startServerEncryption();
}
