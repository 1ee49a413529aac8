#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpServer>

#include <functional>

#include "net/AcceptBackoff.h"
#include "net/ConnectionsPerAddress.h"
#include "net/ProxiedListener.h"

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

// Accepts viewer connections itself, so that each one gets TCP no-delay and the
// relay keeps a handle on its transport, then hands the socket to the
// WebSocket server for the handshake. Until then the socket belongs to the
// listener; afterwards to the viewer's WebSocket. Connections beyond the cap per
// remote address are refused, and a handshake not complete in time is given up.
class ViewerAcceptor : public QObject
{
    Q_OBJECT
public:
    // A browser completes its handshake within milliseconds on a LAN; this leaves room for a
    // phone waking up, and no more for a socket that only holds a descriptor.
    static constexpr int kHandshakeDeadlineMs = 3000;

    explicit ViewerAcceptor(QWebSocketServer *handshaker, QObject *parent = nullptr);
    ~ViewerAcceptor() override;

    bool listen(const QHostAddress &address, quint16 port);
    void close();
    bool isListening() const { return m_server.isListening(); }
    quint16 serverPort() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    // Serves TLS from now on (see TlsListener); `credentials` must outlive the acceptor. The
    // transports handed out are then TlsSockets.
    void serveTls(TlsCredentials *credentials) { m_server.setCredentials(credentials); }
    // Connections from these balancers name their client in a PROXY header (ProxiedListener).
    void trustBalancers(const TrustedBalancers &balancers) { m_server.trustBalancers(balancers); }

    // The TCP transport under a viewer whose handshake just completed, or null.
    QTcpSocket *takeTransport(QWebSocket *viewer);

    // Serves plain HTTP on the same port: each connection's request head is read first, and a
    // request that is not a WebSocket upgrade goes to `handler` with its bytes still unread.
    // Without a handler every connection is a handshake.
    using PlainRequestHandler = std::function<void(QTcpSocket *socket)>;
    void setPlainRequestHandler(PlainRequestHandler handler);

    // A request head longer than this, or not complete within kRequestHeadTimeoutMs, closes the
    // connection (with a plain request handler only).
    static constexpr int kMaxRequestHeadBytes = 8 * 1024;
    static constexpr int kRequestHeadTimeoutMs = 30 * 1000;

private:
    void onNewConnection();
    void handOver(QTcpSocket *socket);
    void classify(QTcpSocket *socket);

    using PeerKey = QPair<QString, quint16>;
    ProxiedListener m_server;
    AcceptBackoff m_backoff;
    ConnectionsPerAddress m_perAddress{QStringLiteral("relay viewers")};
    QWebSocketServer *m_handshaker;
    QHash<PeerKey, QPointer<QTcpSocket>> m_handshaking;
    PlainRequestHandler m_plainRequests;
};
