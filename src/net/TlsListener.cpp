#include "net/TlsListener.h"

#include "net/AddressKey.h"
#include "net/TlsCredentials.h"
#include "net/TlsSocket.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Qt keeps a socket's peer in the socket and lets subclasses set it; every reader of the peer,
// the WebSocket made on top included, then has the client's address.
struct ClientPeer : QAbstractSocket
{
    static void set(QAbstractSocket *socket, const QHostAddress &address, quint16 port)
    {
        (socket->*&ClientPeer::setPeerAddress)(address);
        (socket->*&ClientPeer::setPeerPort)(port);
    }
};

} // namespace

// Watches an accepted descriptor, before any TLS state exists, until its client sends its first
// bytes, closes, or runs out of its handshake's time.
class FirstBytesWait : public QObject
{
public:
    FirstBytesWait(qintptr descriptor, const QHostAddress &from, const QHostAddress &client,
                   quint16 clientPort, TlsListener *listener)
        : QObject(listener), m_descriptor(descriptor), m_from(from), m_client(client),
          m_clientPort(clientPort), m_listener(listener),
          m_readable(descriptor, QSocketNotifier::Read)
    {
        connect(&m_readable, &QSocketNotifier::activated, this, &FirstBytesWait::readable);
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            m_listener->logMissedDeadline(m_from);
            finish();
        });
        m_deadline.start(TlsListener::kHandshakeDeadlineMs);
    }

    // Also with the listener, which may be half gone then: only the descriptor is closed.
    ~FirstBytesWait() override
    {
        if (m_descriptor >= 0)
            ::close(int(m_descriptor));
    }

    // Its turn has come: the socket is made, with what is left of the deadline.
    void handOver()
    {
        const qintptr descriptor = std::exchange(m_descriptor, -1);
        const int remainingMs = std::max(1, m_deadline.remainingTime());
        m_deadline.stop();
        deleteLater();
        m_listener->encrypt(descriptor, m_from, m_client, m_clientPort, remainingMs);
    }

private:
    void readable()
    {
        char byte;
        const ssize_t got = ::recv(int(m_descriptor), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (got <= 0) // closed or reset before a byte: nothing to make a socket for
            return finish();
        // Its socket watches the descriptor from now on.
        m_readable.setEnabled(false);
        m_listener->queueHandshake(m_from, this);
    }

    // Gave up on: the descriptor closed, the handshake no longer counted.
    void finish()
    {
        m_readable.setEnabled(false);
        m_deadline.stop();
        m_listener->m_turns.remove(m_from, this);
        ::close(int(std::exchange(m_descriptor, -1)));
        m_listener->handshakeEnded(m_from);
        deleteLater();
    }

    qintptr m_descriptor;
    QHostAddress m_from;
    QHostAddress m_client;
    quint16 m_clientPort;
    TlsListener *m_listener;
    QSocketNotifier m_readable;
    QTimer m_deadline;
};

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
    take(descriptor, true);
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

void TlsListener::take(qintptr descriptor, bool inAcceptLoop, QHostAddress client,
                       quint16 clientPort)
{
    if (!m_credentials) {
        if (QTcpSocket *socket = adopt(descriptor, new QTcpSocket(this), client, clientPort)) {
            addPendingConnection(socket);
            if (!inAcceptLoop)
                emit newConnection();
        }
        return;
    }
    // Judged on the bare descriptor: a refusal costs no TLS state.
    const QHostAddress counted = client.isNull() ? peerOf(descriptor) : client;
    const QHostAddress from = AddressKey::of(counted);
    if (counted.isNull() || !admitHandshake(from)) {
        ::close(int(descriptor));
        return;
    }
    new FirstBytesWait(descriptor, from, client, clientPort, this);
}

void TlsListener::queueHandshake(const QHostAddress &from, FirstBytesWait *wait)
{
    m_turns.push(from, wait);
    if (!std::exchange(m_turnPending, true))
        QMetaObject::invokeMethod(this, &TlsListener::takeTurn, Qt::QueuedConnection);
}

void TlsListener::takeTurn()
{
    for (int i = 0; i < kHandshakesPerTurn; ++i) {
        const std::optional<FirstBytesWait *> wait = m_turns.next();
        if (!wait)
            break;
        (*wait)->handOver();
    }
    // Queued behind what the loop has to do meanwhile, the streams included.
    m_turnPending = !m_turns.isEmpty();
    if (m_turnPending)
        QMetaObject::invokeMethod(this, &TlsListener::takeTurn, Qt::QueuedConnection);
}

QTcpSocket *TlsListener::adopt(qintptr descriptor, QTcpSocket *socket, const QHostAddress &client,
                               quint16 clientPort)
{
    if (!socket->setSocketDescriptor(descriptor)) {
        qWarning() << "cannot take an accepted connection:" << socket->errorString();
        ::close(int(descriptor));
        delete socket;
        return nullptr;
    }
    if (!client.isNull())
        ClientPeer::set(socket, client, clientPort);
    return socket;
}

void TlsListener::encrypt(qintptr descriptor, const QHostAddress &from, const QHostAddress &client,
                          quint16 clientPort, int remainingMs)
{
    auto *tls =
        static_cast<TlsSocket *>(adopt(descriptor, new TlsSocket(this), client, clientPort));
    if (!tls) {
        handshakeEnded(from);
        return;
    }
    // Ends once, whichever comes first: encrypted, closed, or out of time.
    auto ended = std::make_shared<bool>(false);
    const auto end = [this, from, ended] {
        if (!std::exchange(*ended, true))
            handshakeEnded(from);
    };
    auto *deadline = new QTimer(tls);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, tls, [this, tls, from, end] {
        logMissedDeadline(from);
        end();
        tls->abort();
    });
    connect(tls, &QSslSocket::encrypted, deadline, [deadline, end] {
        end();
        deadline->deleteLater();
    });
    connect(tls, &QAbstractSocket::disconnected, this, end);
    connect(tls, &QObject::destroyed, this, end);
    deadline->start(remainingMs);
    // Read per connection: a renewed certificate serves the next client, the connected ones
    // keep the session they have.
    tls->setSslConfiguration(m_credentials->configuration());
    tls->startServerEncryption();
    addPendingConnection(tls);
    emit newConnection();
}

void TlsListener::handshakeEnded(const QHostAddress &from)
{
    auto found = m_handshaking.find(from);
    if (found != m_handshaking.end() && --found.value() <= 0)
        m_handshaking.erase(found);
}

void TlsListener::logMissedDeadline(const QHostAddress &from)
{
    log(QString("closes a connection from %1: no handshake within %2 ms")
            .arg(from.toString())
            .arg(kHandshakeDeadlineMs));
}

void TlsListener::log(const QString &what)
{
    m_log.warn("TLS: " + what);
}
