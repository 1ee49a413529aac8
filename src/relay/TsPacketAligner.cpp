#include "relay/TsPacketAligner.h"

QByteArray TsPacketAligner::take(const QByteArray &chunk)
{
    if (m_tail.isEmpty() && chunk.size() % kPacketSize == 0)
        return chunk; // the common case: keep the implicitly shared buffer, no copy

    QByteArray joined = m_tail + chunk;
    const int whole = joined.size() - joined.size() % kPacketSize;
    m_tail = joined.mid(whole);
    joined.truncate(whole);
    return joined;
}
