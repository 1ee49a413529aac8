#include "net/ProxyHeader.h"

#include <cstring>

namespace {

const char kSignature[12] = {'\r', '\n', '\r', '\n', '\0', '\r', '\n', 'Q', 'U', 'I', 'T', '\n'};

enum : quint8 { kCommandLocal = 0x0, kCommandProxy = 0x1 };
enum : quint8 {
    kUnspecified = 0x00,
    kTcp4 = 0x11,
    kTcp6 = 0x21,
};

ProxyHeader refused(const QString &reason)
{
    ProxyHeader header;
    header.status = ProxyHeader::Status::Refused;
    header.reason = reason;
    return header;
}

quint16 bigEndian16(const uchar *at)
{
    return quint16(at[0] << 8 | at[1]);
}

} // namespace

ProxyHeader ProxyHeader::parse(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const int prefix = qMin(bytes.size(), int(sizeof kSignature));
    if (std::memcmp(data, kSignature, size_t(prefix)) != 0)
        return refused(QStringLiteral("no PROXY protocol v2 signature"));
    if (bytes.size() < kFixedBytes)
        return {};

    const quint8 version = data[12] >> 4;
    const quint8 command = data[12] & 0x0f;
    const quint8 family = data[13];
    const int addressBytes = bigEndian16(data + 14);
    if (version != 2)
        return refused(QStringLiteral("PROXY protocol version %1, not 2").arg(version));
    if (command != kCommandLocal && command != kCommandProxy)
        return refused(QStringLiteral("unknown PROXY command %1").arg(command));
    if (kFixedBytes + addressBytes > kMaxBytes)
        return refused(QStringLiteral("PROXY header of %1 bytes, more than %2")
                           .arg(kFixedBytes + addressBytes)
                           .arg(kMaxBytes));
    if (bytes.size() < kFixedBytes + addressBytes)
        return {};

    ProxyHeader header;
    header.status = Status::Complete;
    header.length = kFixedBytes + addressBytes;
    header.local = command == kCommandLocal;
    // A LOCAL header's address block, if any, means nothing; neither does an unspecified one.
    if (header.local || family == kUnspecified) {
        header.local = true;
        return header;
    }
    const uchar *address = data + kFixedBytes;
    if (family == kTcp4) {
        if (addressBytes < 12)
            return refused(QStringLiteral("PROXY TCP/IPv4 header with %1 address bytes, not 12")
                               .arg(addressBytes));
        header.source = QHostAddress(quint32(address[0]) << 24 | quint32(address[1]) << 16 |
                                     quint32(address[2]) << 8 | address[3]);
        header.sourcePort = bigEndian16(address + 8);
    } else if (family == kTcp6) {
        if (addressBytes < 36)
            return refused(QStringLiteral("PROXY TCP/IPv6 header with %1 address bytes, not 36")
                               .arg(addressBytes));
        header.source = QHostAddress(address);
        header.sourcePort = bigEndian16(address + 32);
    } else {
        return refused(
            QStringLiteral("PROXY header for address family 0x%1, not TCP").arg(family, 2, 16));
    }
    return header;
}
