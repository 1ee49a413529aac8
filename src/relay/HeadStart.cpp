#include "relay/HeadStart.h"

#include "relay/WebSocketFrame.h"

#include <algorithm>

void HeadStart::restart(const QByteArray &head)
{
    m_cache.clear();
    m_framedGeneration = -1;
    if (!head.isEmpty())
        m_cache.append(head);
}

QList<QByteArray> HeadStart::frames()
{
    const QByteArray &cached = m_cache.contents();
    // Dropped (over a bound) or never filled: its frames went with it.
    if (cached.isEmpty())
        return {};
    const int since = cached.size() - m_groupBytes;
    if (m_framedGeneration != m_cache.generation() ||
        since > std::max(kMinTailBytes, m_groupBytes / 4)) {
        m_framedGeneration = m_cache.generation();
        m_groupBytes = cached.size();
        m_tailBytes = 0;
        // The old frames go first, so the budget never counts both.
        m_cache.keepFramed(QByteArray(), QByteArray());
        m_cache.keepFramed(WebSocketFrame::binary(cached), QByteArray());
    } else if (since != m_tailBytes) {
        m_tailBytes = since;
        m_cache.keepFramed(m_cache.framedGroup(), QByteArray());
        m_cache.keepFramed(m_cache.framedGroup(), WebSocketFrame::binary(cached.mid(m_groupBytes)));
    }
    // Framing may have taken the budget over, and this cache was the largest.
    if (m_cache.contents().isEmpty())
        return {};
    const QByteArray &group = m_cache.framedGroup();
    const QByteArray &tail = m_cache.framedTail();
    return tail.isEmpty() ? QList<QByteArray>{group} : QList<QByteArray>{group, tail};
}
