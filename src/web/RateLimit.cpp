#include "web/RateLimit.h"

RateLimit::RateLimit(int maxEvents, qint64 windowMs) : m_maxEvents(maxEvents), m_windowMs(windowMs)
{
    m_clock.start();
}

bool RateLimit::admit(const QString &key)
{
    if (m_maxEvents <= 0)
        return true;
    const qint64 now = m_clock.elapsed();
    if (m_windows.size() > 4096) {
        for (auto it = m_windows.begin(); it != m_windows.end();)
            it = now - it->startMs >= m_windowMs ? m_windows.erase(it) : ++it;
    }
    Window &window = m_windows[key];
    if (window.events == 0 || now - window.startMs >= m_windowMs)
        window = {now, 0};
    if (window.events >= m_maxEvents)
        return false;
    ++window.events;
    return true;
}
