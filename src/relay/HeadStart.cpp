#include "relay/HeadStart.h"

#include "relay/WebSocketFrame.h"

#include <algorithm>

void HeadStart::restart(const QByteArray &head)
{
    m_cache.clear();
    forgetFrames();
    if (!head.isEmpty())
        m_cache.append(head);
}

void HeadStart::forgetFrames()
{
    m_framedGeneration = -1;
    m_group.clear();
    m_groupBytes = 0;
    m_tail.clear();
    m_tailBytes = 0;
}

QList<QByteArray> HeadStart::frames()
{
    const QByteArray &cached = m_cache.contents();
    if (cached.isEmpty()) {
        // Dropped (over a bound) or never filled: the old frames go with it.
        forgetFrames();
        return {};
    }
    const int since = cached.size() - m_groupBytes;
    if (m_framedGeneration != m_cache.generation() ||
        since > std::max(kMinTailBytes, m_groupBytes / 4)) {
        m_framedGeneration = m_cache.generation();
        m_group = WebSocketFrame::binary(cached);
        m_groupBytes = cached.size();
        m_tail.clear();
        m_tailBytes = 0;
    } else if (since != m_tailBytes) {
        m_tail = WebSocketFrame::binary(cached.mid(m_groupBytes));
        m_tailBytes = since;
    }
    return m_tail.isEmpty() ? QList<QByteArray>{m_group} : QList<QByteArray>{m_group, m_tail};
}
