#include "net/TlsSocket.h"

TlsSocket::TlsSocket(QObject *parent) : QSslSocket(parent)
{
    // Whoever waits for the backlog to drain hears of it when encrypted bytes leave, too (with
    // no new plain bytes counted: they were counted when they were encrypted).
    connect(this, &QSslSocket::encryptedBytesWritten, this, [this] { emit bytesWritten(0); });
}

qint64 TlsSocket::bytesToWrite() const
{
    return QSslSocket::bytesToWrite() + encryptedBytesToWrite();
}
