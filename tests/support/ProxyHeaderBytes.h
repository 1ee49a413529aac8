#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QtEndian>

// PROXY protocol v2 headers as a balancer writes them, built by hand for the tests.
namespace ProxyHeaderBytes {

inline const QByteArray kSignature("\r\n\r\n\0\r\nQUIT\n", 12);

inline QByteArray bigEndian16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// Signature, version and command, family, then the address block as given.
inline QByteArray header(quint8 versionCommand, quint8 family, const QByteArray &addresses)
{
    return kSignature + char(versionCommand) + char(family) +
           bigEndian16(quint16(addresses.size())) + addresses;
}

// A PROXY command for a TCP client `source`:`sourcePort` (IPv4 or IPv6) to the balancer's
// 127.0.0.1:8089 or [::1]:8089, `tlvs` after the addresses.
inline QByteArray proxy(const QHostAddress &source, quint16 sourcePort, const QByteArray &tlvs = {})
{
    if (source.protocol() == QAbstractSocket::IPv4Protocol) {
        QByteArray addresses(8, '\0');
        qToBigEndian(source.toIPv4Address(), addresses.data());
        qToBigEndian(QHostAddress(QHostAddress::LocalHost).toIPv4Address(), addresses.data() + 4);
        return header(0x21, 0x11, addresses + bigEndian16(sourcePort) + bigEndian16(8089) + tlvs);
    }
    const Q_IPV6ADDR from = source.toIPv6Address();
    const Q_IPV6ADDR to = QHostAddress(QHostAddress::LocalHostIPv6).toIPv6Address();
    const QByteArray addresses = QByteArray(reinterpret_cast<const char *>(from.c), 16) +
                                 QByteArray(reinterpret_cast<const char *>(to.c), 16);
    return header(0x21, 0x21, addresses + bigEndian16(sourcePort) + bigEndian16(8089) + tlvs);
}

// The balancer speaking for itself (its health checks).
inline QByteArray local()
{
    return header(0x20, 0x00, {});
}

} // namespace ProxyHeaderBytes
