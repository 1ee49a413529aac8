#pragma once

#include <QHostAddress>
#include <QTcpServer>

// A loopback port whose successor was free a moment ago (a session needs both: the viewer HTTP
// port and the relay's); 0 when none was found.
inline int freePortPair()
{
    for (int tries = 0; tries < 50; ++tries) {
        QTcpServer first;
        QTcpServer second;
        if (!first.listen(QHostAddress::LocalHost, 0))
            continue;
        const quint16 port = first.serverPort();
        if (port < 65535 && second.listen(QHostAddress::LocalHost, port + 1))
            return port;
    }
    return 0;
}
