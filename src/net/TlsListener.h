#pragma once

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include "net/LogBudget.h"
#include "net/TokenBucket.h"

class TlsCredentials;

// A TCP listener that, once given credentials, makes each accepted connection a TlsSocket and
// starts its server handshake at once: its readyRead() then brings decrypted bytes, so whoever
// reads it needs to know nothing of TLS. Without credentials, a plain QTcpServer.
//
// A handshake costs the server a descriptor, and a private-key operation once the hello comes,
// before anything above TLS can judge the client; so a connection whose handshake is not done
// within kHandshakeDeadlineMs is closed, and one address (an IPv6 /64) has at most
// kMaxHandshakesPerAddress handshakes under way and starts kHandshakesPerSecond (after a burst):
// more are closed as they arrive.
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

    using QTcpServer::QTcpServer;
    ~TlsListener() override;

    // Not owned; must outlive the listener. Null: plain TCP again.
    void setCredentials(TlsCredentials *credentials) { m_credentials = credentials; }
    bool servesTls() const { return m_credentials != nullptr; }

    int handshakesFrom(const QHostAddress &address) const;

protected:
    void incomingConnection(qintptr descriptor) override;
    // The socket for an accepted descriptor (its handshake started), not yet queued; null, the
    // descriptor closed, when it cannot be taken or `client` has too many handshakes under way.
    // `client`: whom the per-address handshake limits count it for; null, the descriptor's peer.
    QTcpSocket *socketFor(qintptr descriptor, QHostAddress client = QHostAddress());
    static QHostAddress peerOf(qintptr descriptor);

private:
    bool admitHandshake(const QHostAddress &from);
    void handshakeEnded(const QHostAddress &from);
    void log(const QString &what);

    TlsCredentials *m_credentials = nullptr;
    QHash<QHostAddress, int> m_handshaking;
    AddressBuckets m_handshakeBuckets{kHandshakesPerSecond, kHandshakeBurst};
    LogBudget m_log;
};
