#include "net/AcceptBackoff.h"

#include <QDebug>
#include <QTcpServer>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

AcceptBackoff::AcceptBackoff(QTcpServer *server, const QString &name)
    : m_server(server), m_name(name)
{
    connect(server, &QTcpServer::acceptError, this, &AcceptBackoff::onAcceptError);
    connect(server, &QTcpServer::newConnection, this, [this] {
        if (!descriptorLeft())
            pause();
    });
}

bool AcceptBackoff::descriptorLeft() const
{
    const int copy = fcntl(int(m_server->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return errno != EMFILE && errno != ENFILE;
    close(copy);
    return true;
}

void AcceptBackoff::onAcceptError(QAbstractSocket::SocketError error)
{
    if (error != QAbstractSocket::SocketResourceError) {
        // Anything else (a connection reset before it was taken) leaves the listener usable.
        m_server->resumeAccepting();
        return;
    }
    pause();
}

void AcceptBackoff::pause()
{
    m_server->pauseAccepting();
    if (!m_logged) {
        qWarning().noquote() << m_name
                             << "out of file descriptors: accepting paused, retrying every"
                             << kPauseMs << "ms";
        m_logged = true;
    }
    if (!m_paused) {
        m_paused = true;
        QTimer::singleShot(kPauseMs, this, &AcceptBackoff::resume);
    }
}

void AcceptBackoff::resume()
{
    m_paused = false;
    if (!m_server->isListening())
        return;
    if (!descriptorLeft()) {
        pause();
        return;
    }
    m_server->resumeAccepting();
    // Accepting again is only known to work when a connection gets through; until then an error
    // arrives within this tick and pauses again without a new log line.
    QTimer::singleShot(kPauseMs * 5, this, [this] {
        if (!m_paused)
            m_logged = false;
    });
}
