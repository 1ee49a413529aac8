#include "net/TlsListener.h"

#include "net/AddressKey.h"
#include "net/TlsCredentials.h"
#include "net/TlsSocket.h"

#include <QDebug>
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
    if (QTcpSocket *socket = socketFor(descriptor))
        addPendingConnection(socket);
}

QHostAddress TlsListener::peerOf(qintptr descriptor)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return {};
    return QHostAddress(reinterpret_cast<const sockaddr *>(&peer));
}

bool TlsListener::admitHandshake(const QHostAddress &from)
{
    int &handshaking = m_handshaking[from];
    QString refusal;
    if (handshaking >= kMaxHandshakesPerAddress)
        refusal = QString("%1 handshakes under way from there").arg(handshaking);
    else if (!m_handshakeBuckets.take(from))
        refusal = QString("more than %1 handshakes a second from there").arg(kHandshakesPerSecond);
    if (refusal.isEmpty()) {
        ++handshaking;
        return true;
    }
    if (handshaking == 0)
        m_handshaking.remove(from);
    log(QString("refuses a connection from %1: %2").arg(from.toString(), refusal));
    return false;
}

QTcpSocket *TlsListener::socketFor(qintptr descriptor, QHostAddress client)
{
    QHostAddress from;
    if (m_credentials) {
        // Judged on the bare descriptor: a refusal costs no TLS state.
        if (client.isNull())
            client = peerOf(descriptor);
        from = AddressKey::of(client);
        if (client.isNull() || !admitHandshake(from)) {
            ::close(int(descriptor));
            return nullptr;
        }
    }
    TlsSocket *tls = m_credentials ? new TlsSocket(this) : nullptr;
    QTcpSocket *socket = tls ? tls : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        qWarning() << "cannot take an accepted connection:" << socket->errorString();
        ::close(int(descriptor));
        delete socket;
        if (tls)
            handshakeEnded(from);
        return nullptr;
    }
    if (!tls)
        return socket;
    // Ends once, whichever comes first: encrypted, closed, or out of time.
    auto ended = std::make_shared<bool>(false);
    const auto end = [this, from, ended] {
        if (!std::exchange(*ended, true))
            handshakeEnded(from);
    };
    auto *deadline = new QTimer(tls);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, tls, [this, tls, from, end] {
        log(QString("closes a connection from %1: no handshake within %2 ms")
                .arg(from.toString())
                .arg(kHandshakeDeadlineMs));
        end();
        tls->abort();
    });
    connect(tls, &QSslSocket::encrypted, deadline, [deadline, end] {
        end();
        deadline->deleteLater();
    });
    connect(tls, &QAbstractSocket::disconnected, this, end);
    connect(tls, &QObject::destroyed, this, end);
    deadline->start(kHandshakeDeadlineMs);
    // Read per connection: a renewed certificate serves the next client, the connected ones
    // keep the session they have.
    tls->setSslConfiguration(m_credentials->configuration());
    tls->startServerEncryption();
    return socket;
}

void TlsListener::handshakeEnded(const QHostAddress &from)
{
    auto found = m_handshaking.find(from);
    if (found != m_handshaking.end() && --found.value() <= 0)
        m_handshaking.erase(found);
}

void TlsListener::log(const QString &what)
{
    m_log.warn("TLS: " + what);
}
