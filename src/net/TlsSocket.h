#pragma once

#include <QSslSocket>

// A server-side TLS connection whose bytesToWrite() and bytesWritten() mean what they mean on a
// plain socket, so every cap on what a client leaves unread holds under TLS as well. QSslSocket
// counts only what it has not encrypted yet: once encrypted, bytes wait in the transport below,
// unseen, and bytesWritten() fires when they are encrypted rather than when they leave.
class TlsSocket : public QSslSocket
{
    Q_OBJECT
public:
    explicit TlsSocket(QObject *parent = nullptr);

    // Not yet encrypted plus encrypted and not yet handed to the kernel.
    qint64 bytesToWrite() const override;
};
