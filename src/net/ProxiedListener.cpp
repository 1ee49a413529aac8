#include "net/ProxiedListener.h"

#include "net/ProxyHeader.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

// Reads one balancer connection's header off its descriptor, never a byte past it: what
// follows belongs to the socket made afterwards (a TLS hello, an HTTP request).
class HeaderReader : public QObject
{
public:
    HeaderReader(qintptr descriptor, const QHostAddress &balancer, ProxiedListener *listener)
        : QObject(listener), m_descriptor(descriptor), m_balancer(balancer), m_listener(listener),
          m_readable(descriptor, QSocketNotifier::Read)
    {
        ++m_listener->m_waiting;
        m_readable.setEnabled(false);
        connect(&m_readable, &QSocketNotifier::activated, this, [this] { read(false); });
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            finish(QStringLiteral("no PROXY header within %1 ms")
                       .arg(ProxiedListener::kHeaderDeadlineMs));
        });
    }

    // Also with the listener, which may be half gone then: only the descriptor is closed.
    ~HeaderReader() override
    {
        if (m_descriptor >= 0)
            ::close(int(m_descriptor));
    }

    // Takes what has arrived; `inAcceptLoop` on the first call, made from the listener's loop.
    void read(bool inAcceptLoop)
    {
        for (;;) {
            const ProxyHeader header = ProxyHeader::parse(m_bytes);
            if (header.status == ProxyHeader::Status::Refused)
                return finish(header.reason);
            if (header.status == ProxyHeader::Status::Complete) {
                const qintptr descriptor = std::exchange(m_descriptor, -1);
                finish({}); // before a socket watches the same descriptor
                m_listener->adopt(descriptor, header, inAcceptLoop);
                return;
            }
            const int wanted =
                m_bytes.size() < ProxyHeader::kFixedBytes
                    ? ProxyHeader::kFixedBytes
                    : ProxyHeader::kFixedBytes + (uchar(m_bytes[14]) << 8 | uchar(m_bytes[15]));
            char chunk[ProxyHeader::kMaxBytes];
            const ssize_t got =
                ::recv(int(m_descriptor), chunk, size_t(wanted - m_bytes.size()), MSG_DONTWAIT);
            if (got > 0) {
                m_bytes.append(chunk, int(got));
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                if (!m_deadline.isActive()) {
                    m_deadline.start(ProxiedListener::kHeaderDeadlineMs);
                    m_readable.setEnabled(true);
                }
                return;
            }
            return finish(got == 0 ? QStringLiteral("closed before its PROXY header")
                                   : QString::fromLocal8Bit(std::strerror(errno)));
        }
    }

private:
    // Done, the descriptor handed over or (with a reason) closed.
    void finish(const QString &reason)
    {
        --m_listener->m_waiting;
        m_readable.setEnabled(false);
        m_deadline.stop();
        if (m_descriptor >= 0)
            m_listener->refuse(std::exchange(m_descriptor, -1), m_balancer, reason);
        deleteLater();
    }

    qintptr m_descriptor;
    QHostAddress m_balancer;
    ProxiedListener *m_listener;
    QSocketNotifier m_readable;
    QTimer m_deadline;
    QByteArray m_bytes;
};

void ProxiedListener::incomingConnection(qintptr descriptor)
{
    const QHostAddress peer = m_balancers.isEmpty() ? QHostAddress() : peerOf(descriptor);
    if (m_balancers.isEmpty() || !m_balancers.trusts(peer)) {
        TlsListener::incomingConnection(descriptor);
        return;
    }
    if (m_waiting >= kMaxWaitingForHeader) {
        refuse(descriptor, peer,
               QStringLiteral("%1 balancer connections wait for their PROXY header already")
                   .arg(m_waiting));
        return;
    }
    (new HeaderReader(descriptor, peer, this))->read(true);
}

void ProxiedListener::adopt(qintptr descriptor, const ProxyHeader &header, bool inAcceptLoop)
{
    // Limits count the client behind the balancer, not the balancer. LOCAL: the balancer's own
    // connection (a health check); its peer is right as it is.
    if (header.local)
        take(descriptor, inAcceptLoop);
    else
        take(descriptor, inAcceptLoop, header.source, header.sourcePort);
}

void ProxiedListener::refuse(qintptr descriptor, const QHostAddress &balancer,
                             const QString &reason)
{
    // Closed once the accept loop has returned (see ConnectionsPerAddress::admit).
    QMetaObject::invokeMethod(
        this, [descriptor] { ::close(int(descriptor)); }, Qt::QueuedConnection);
    m_log.warn(QStringLiteral("closing a connection from balancer %1: %2")
                   .arg(balancer.toString(), reason));
}
