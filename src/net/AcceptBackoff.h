#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QString>

class QTcpServer;

// Keeps a listener alive when the process runs out of file descriptors. Qt pauses a listener
// whose accept() fails for lack of resources and never resumes it, so without this the studio
// would refuse every later viewer even after descriptors are free again; retrying at once instead
// spins on the pending connection. The listener is paused for a short while, the condition is
// logged once per episode, and accepting resumes once a descriptor is free.
//
// Qt reports only the first accept error of a listener: once an accept has found the backlog
// empty (which happens on every ordinary connection), running out of descriptors reads as that
// harmless condition, no acceptError() comes and the listener retries at once, for good. So the
// headroom is also checked after every accepted connection, and with no descriptor left the
// listener pauses before Qt tries again. Descriptors taken by anything else while no connection
// arrives are not seen this way. GUI thread, like the listener.
class AcceptBackoff : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPauseMs = 200;

    // Watches `server`, which must outlive this object: hold it as a member declared after the
    // server, so it goes first and never sees the server half torn down. `name` goes into the log.
    AcceptBackoff(QTcpServer *server, const QString &name);

private:
    void onAcceptError(QAbstractSocket::SocketError error);
    void pause();
    void resume();
    bool descriptorLeft() const;

    QTcpServer *m_server;
    QString m_name;
    bool m_paused = false;
    bool m_logged = false;
};
