#pragma once

#include <QString>

class QTcpServer;

namespace ListenQueue {

// Qt 5 listens with a queue of 50. A burst of connects (one address opening many, or a room
// joining at once) fills it before anyone can refuse them, and the kernel then drops every other
// client's SYN, whose retry comes a second later. Listening again on the socket widens the queue
// up to the system's limit (net.core.somaxconn). Call right after a successful listen(); a
// failure is logged under `name` and the listener keeps Qt's queue.
void widen(QTcpServer &server, const QString &name);

} // namespace ListenQueue
