#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

// At most `maxEvents` events per key within each window of `windowMs`, counted in fixed windows
// from a key's first event. Keys whose window has passed are forgotten, so the table stays as
// large as the set of keys active in one window. 0 events means no limit.
class RateLimit
{
public:
    RateLimit(int maxEvents, qint64 windowMs);

    // True when the event is let through (and counted).
    bool admit(const QString &key);
    void setMaxEvents(int maxEvents) { m_maxEvents = maxEvents; }

private:
    struct Window
    {
        qint64 startMs = 0;
        int events = 0;
    };

    int m_maxEvents;
    qint64 m_windowMs;
    QElapsedTimer m_clock;
    QHash<QString, Window> m_windows;
};
