#pragma once

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include "net/LogBudget.h"
#include "net/TokenBucket.h"
#include "net/TurnsByAddress.h"

class FirstBytesWait;
class TlsCredentials;

// A TCP listener that, once given credentials, makes each accepted connection a TlsSocket with
// its server handshake started: its readyRead() then brings decrypted bytes, so whoever reads it
// needs to know nothing of TLS. Without credentials, a plain QTcpServer.
//
// A handshake costs the server a descriptor, and a private-key operation once the hello comes,
// before anything above TLS can judge the client; so a connection whose handshake is not done
// within kHandshakeDeadlineMs is closed, and one address (an IPv6 /64) has at most
// kMaxHandshakesPerAddress handshakes under way and starts kHandshakesPerSecond (after a burst):
// more are closed as they arrive. The TLS state itself (Qt builds a context per socket, some
// tens of kilobytes and a good part of a millisecond) is made only once the client's first bytes
// have come: until then an accepted connection is a descriptor watched for reading, so crowds of
// connections that never speak cost neither memory nor a pause of the event loop. Such a socket
// is queued (newConnection()) when it is made, outside the accept loop.
//
// The hello's private-key operation takes about a millisecond of the one event loop that also
// carries every viewer's stream. So clients whose hello has come take turns: at most
// kHandshakesPerTurn sockets are made per pass of the loop, one per address in turn, and a
// crowd joining at once (or an address flooding) spreads its handshakes between the passes
// instead of holding up everyone's pictures, and cannot hold up another address's handshake.
class TlsListener : public QTcpServer
{
    Q_OBJECT
public:
    // A browser on a slow mobile link finishes in well under a second; a client that sends
    // nothing, or its hello a byte at a time, holds its descriptor this long at most.
    static constexpr int kHandshakeDeadlineMs = 5000;
    // Browsers open a few connections at once, a NAT address a few dozen over seconds;
    // handshakes last milliseconds, so this many at the same moment is already a crowd.
    static constexpr int kMaxHandshakesPerAddress = 16;
    // A class behind one NAT address opening the viewer page together (a few connections each)
    // fits in the burst; one address flooding full handshakes gets a small share of a core.
    static constexpr double kHandshakesPerSecond = 20;
    static constexpr double kHandshakeBurst = 200;
    // A few milliseconds of key operations between two passes of the event loop.
    static constexpr int kHandshakesPerTurn = 4;

    using QTcpServer::QTcpServer;
    ~TlsListener() override;

    // Not owned; must outlive the listener. Null: plain TCP again.
    void setCredentials(TlsCredentials *credentials) { m_credentials = credentials; }
    bool servesTls() const { return m_credentials != nullptr; }

    int handshakesFrom(const QHostAddress &address) const;

protected:
    void incomingConnection(qintptr descriptor) override;
    // Makes the socket for an accepted descriptor and queues it: a plain one at once (announced
    // here unless `inAcceptLoop`, whose loop announces it), a TLS one at its client's first
    // bytes; or closes the descriptor when it cannot be taken or its client has too many
    // handshakes under way. `client` (behind a balancer): whom the per-address handshake limits
    // count, and the peer the socket then reports; null, the descriptor's own peer.
    void take(qintptr descriptor, bool inAcceptLoop, QHostAddress client = QHostAddress(),
              quint16 clientPort = 0);
    static QHostAddress peerOf(qintptr descriptor);

private:
    friend class FirstBytesWait;
    bool admitHandshake(const QHostAddress &from);
    void queueHandshake(const QHostAddress &from, FirstBytesWait *wait);
    void takeTurn();
    // The client of `descriptor` has sent something: its TLS socket is made and queued, with
    // what is left of its deadline.
    void encrypt(qintptr descriptor, const QHostAddress &from, const QHostAddress &client,
                 quint16 clientPort, int remainingMs);
    // Null, the descriptor closed, when Qt cannot take it.
    QTcpSocket *adopt(qintptr descriptor, QTcpSocket *socket, const QHostAddress &client,
                      quint16 clientPort);
    void handshakeEnded(const QHostAddress &from);
    void logMissedDeadline(const QHostAddress &from);
    void log(const QString &what);

    TlsCredentials *m_credentials = nullptr;
    QHash<QHostAddress, int> m_handshaking;
    TurnsByAddress<FirstBytesWait *> m_turns;
    bool m_turnPending = false;
    AddressBuckets m_handshakeBuckets{kHandshakesPerSecond, kHandshakeBurst};
    LogBudget m_log;
};
