#include "relay/WebSocketFrame.h"

#include <QtEndian>

namespace WebSocketFrame {

QByteArray binary(const QByteArray &payload)
{
    const quint64 size = quint64(payload.size());
    QByteArray frame;
    frame.reserve(payload.size() + 10);
    frame.append(char(0x82)); // FIN + binary opcode
    if (size < 126) {
        frame.append(char(size));
    } else if (size <= 0xffff) {
        char length[2];
        qToBigEndian(quint16(size), length);
        frame.append(char(126)).append(length, 2);
    } else {
        char length[8];
        qToBigEndian(size, length);
        frame.append(char(127)).append(length, 8);
    }
    frame.append(payload);
    return frame;
}

} // namespace WebSocketFrame
