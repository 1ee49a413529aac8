#include "net/ListenQueue.h"

#include <QDebug>
#include <QTcpServer>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace ListenQueue {

void widen(QTcpServer &server, const QString &name)
{
    if (::listen(int(server.socketDescriptor()), SOMAXCONN) != 0)
        qWarning().noquote() << name << ": the listen queue stays at Qt's 50:" << strerror(errno);
}

} // namespace ListenQueue
