#include "relay/TsPacketAligner.h"

#include <cstring>

namespace {

bool everyPacketSynced(const QByteArray &packets)
{
    for (int offset = 0; offset < packets.size(); offset += TsPacketAligner::kPacketSize)
        if (packets.at(offset) != TsPacketAligner::kSyncByte)
            return false;
    return true;
}

} // namespace

QByteArray TsPacketAligner::take(const QByteArray &chunk)
{
    // The common case: keep the implicitly shared buffer, no copy.
    if (m_tail.isEmpty() && m_inSync && chunk.size() % kPacketSize == 0 && everyPacketSynced(chunk))
        return chunk;

    const QByteArray data = m_tail + chunk;
    const char *bytes = data.constData();
    const int size = data.size();
    QByteArray packets;
    packets.reserve(size);
    int pos = 0;
    while (pos + kPacketSize <= size) {
        if (bytes[pos] != kSyncByte) {
            m_inSync = false;
            const void *next = std::memchr(bytes + pos + 1, kSyncByte, size_t(size - pos - 1));
            const int skipTo = next ? int(static_cast<const char *>(next) - bytes) : size;
            m_dropped += skipTo - pos;
            pos = skipTo;
            continue;
        }
        if (!m_inSync) {
            if (pos + kPacketSize >= size)
                break; // the next packet's first byte decides
            if (bytes[pos + kPacketSize] != kSyncByte) {
                ++m_dropped;
                ++pos;
                continue;
            }
            m_inSync = true;
        }
        packets.append(bytes + pos, kPacketSize);
        pos += kPacketSize;
    }
    m_tail = data.mid(pos);
    return packets;
}

qint64 TsPacketAligner::takeDroppedBytes()
{
    const qint64 dropped = m_dropped;
    m_dropped = 0;
    return dropped;
}
