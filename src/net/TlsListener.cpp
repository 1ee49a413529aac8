#include "net/TlsListener.h"

#include "net/AddressKey.h"
#include "net/TlsCredentials.h"
#include "net/TlsSocket.h"

#include <QDebug>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

TlsListener::~TlsListener()
{
    // Connections still its own go with the QObject below, after the table they would update.
    for (QObject *child : children())
        disconnect(child, nullptr, this, nullptr);
}

int TlsListener::handshakesFrom(const QHostAddress &address) const
{
    return m_handshaking.value(AddressKey::of(address));
}

void TlsListener::incomingConnection(qintptr descriptor)
{
    if (!m_credentials) {
        QTcpServer::incomingConnection(descriptor);
        return;
    }
    // Judged on the bare descriptor: a refusal costs no TLS state.
    sockaddr_storage peer{};
    socklen_t peerSize = sizeof peer;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0) {
        ::close(int(descriptor));
        return;
    }
    const QHostAddress from = AddressKey::of(QHostAddress(reinterpret_cast<sockaddr *>(&peer)));
    int &handshaking = m_handshaking[from];
    QString refusal;
    if (handshaking >= kMaxHandshakesPerAddress)
        refusal = QString("%1 handshakes under way from there").arg(handshaking);
    else if (!m_handshakeBuckets.take(from))
        refusal = QString("more than %1 handshakes a second from there").arg(kHandshakesPerSecond);
    if (!refusal.isEmpty()) {
        if (handshaking == 0)
            m_handshaking.remove(from);
        log(QString("refuses a connection from %1: %2").arg(from.toString(), refusal));
        ::close(int(descriptor));
        return;
    }
    auto *socket = new TlsSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        qWarning() << "TLS: cannot take an accepted connection:" << socket->errorString();
        ::close(int(descriptor));
        delete socket;
        return;
    }
    ++handshaking;
    // Ends once, whichever comes first: encrypted, closed, or out of time.
    auto ended = std::make_shared<bool>(false);
    const auto end = [this, from, ended] {
        if (!std::exchange(*ended, true))
            handshakeEnded(from);
    };
    auto *deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [this, socket, from, end] {
        log(QString("closes a connection from %1: no handshake within %2 ms")
                .arg(from.toString())
                .arg(kHandshakeDeadlineMs));
        end();
        socket->abort();
    });
    connect(socket, &QSslSocket::encrypted, deadline, [deadline, end] {
        end();
        deadline->deleteLater();
    });
    connect(socket, &QAbstractSocket::disconnected, this, end);
    connect(socket, &QObject::destroyed, this, end);
    deadline->start(kHandshakeDeadlineMs);
    // Read per connection: a renewed certificate serves the next client, the connected ones
    // keep the session they have.
    socket->setSslConfiguration(m_credentials->configuration());
    addPendingConnection(socket);
    socket->startServerEncryption();
}

void TlsListener::handshakeEnded(const QHostAddress &from)
{
    auto found = m_handshaking.find(from);
    if (found != m_handshaking.end() && --found.value() <= 0)
        m_handshaking.erase(found);
}

void TlsListener::log(const QString &what)
{
    if (!m_log.admit())
        return;
    const int leftOut = m_log.takeLeftOut();
    qWarning().noquote() << "TLS:" << what
                         << (leftOut ? QString("(%1 such lines left out)").arg(leftOut)
                                     : QString());
}
