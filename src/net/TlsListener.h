#pragma once

#include <QTcpServer>
#include <QTcpSocket>

class TlsCredentials;

// A TCP listener that, once given credentials, makes each accepted connection a TlsSocket and
// starts its server handshake at once: its readyRead() then brings decrypted bytes, so whoever
// reads it needs to know nothing of TLS. Without credentials, a plain QTcpServer.
class TlsListener : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

    // Not owned; must outlive the listener. Null: plain TCP again.
    void setCredentials(TlsCredentials *credentials) { m_credentials = credentials; }
    bool servesTls() const { return m_credentials != nullptr; }

protected:
    void incomingConnection(qintptr descriptor) override;
    // The socket for an accepted descriptor (its handshake started), not yet queued; null, the
    // descriptor closed, when it cannot be taken.
    QTcpSocket *socketFor(qintptr descriptor);

private:
    TlsCredentials *m_credentials = nullptr;
};
