#include "net/AddressKey.h"

namespace AddressKey {

QHostAddress of(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    if (mapped)
        return QHostAddress(ipv4);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes);
}

} // namespace AddressKey
