#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// The PROXY protocol's binary header (version 2, haproxy's send-proxy-v2) that a TCP balancer
// writes before the client's first byte, naming the client it accepted. Only the parse: who may
// send one is the listener's business (ProxiedListener), since from anyone else it is a lie.
struct ProxyHeader
{
    enum class Status {
        Incomplete, // a valid beginning: wait for more bytes
        Complete,   // `length` bytes make the header; the client's own bytes follow
        Refused,    // not a header we take; `reason` says why
    };

    // 16 bytes of signature, version, family and length, then the addresses: 12 for IPv4, 36
    // for IPv6, 216 for UNIX sockets. Past that only TLVs, which we skip; a balancer sends a
    // few, so a header beyond this is not a balancer's.
    static constexpr int kFixedBytes = 16;
    static constexpr int kMaxBytes = 512;

    Status status = Status::Incomplete;
    int length = 0;
    // PROXY: the balancer relays `source`. LOCAL: the balancer speaks for itself (its health
    // checks), and the connection's own peer is the client.
    bool local = false;
    QHostAddress source;
    quint16 sourcePort = 0;
    QString reason;

    // Reads the header at the start of `bytes` (which may hold more after it).
    static ProxyHeader parse(const QByteArray &bytes);
};
