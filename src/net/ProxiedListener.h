#pragma once

#include "net/LogBudget.h"
#include "net/TlsListener.h"
#include "net/TrustedBalancers.h"

struct ProxyHeader;

// A listener behind TCP balancers (haproxy's send-proxy-v2): a connection from a trusted
// balancer must begin with a PROXY protocol v2 header, which is read off the descriptor before
// any socket exists, so the socket then made (TLS or plain) starts at the client's first byte
// and reports the client's address as its peer. Everyone asking a socket for its peer address (the
// caps per address, the buckets, the log lines) then counts the client, not the balancer.
// A connection from anyone else is taken as it is: a PROXY header from it is just bad input to
// whatever reads it next. Without balancers, a TlsListener. GUI thread, like the listener.
class ProxiedListener : public TlsListener
{
    Q_OBJECT
public:
    // haproxy writes the header as soon as it has connected; a balancer connection silent for
    // this long holds a descriptor for nothing.
    static constexpr int kHeaderDeadlineMs = 2000;
    // Balancer connections whose header is not complete yet; more are closed at once.
    static constexpr int kMaxWaitingForHeader = 256;

    using TlsListener::TlsListener;

    void trustBalancers(const TrustedBalancers &balancers) { m_balancers = balancers; }
    int waitingForHeader() const { return m_waiting; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class HeaderReader;
    // The header is complete: the descriptor goes on as the connection of the client it names.
    void adopt(qintptr descriptor, const ProxyHeader &header, bool inAcceptLoop);
    // Closes `descriptor`, with one line (within the budget) naming the balancer and why.
    void refuse(qintptr descriptor, const QHostAddress &balancer, const QString &reason);

    TrustedBalancers m_balancers;
    LogBudget m_log;
    int m_waiting = 0;
};
