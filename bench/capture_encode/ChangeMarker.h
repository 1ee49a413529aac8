#pragma once

#include "support/XPaintWindow.h"

#include <QVector>
#include <atomic>
#include <mutex>
#include <thread>

// A small window that turns from black to white and back at uneven intervals (never in step
// with the frame clock), noting the steady-clock time just before each change is sent.
class ChangeMarker
{
public:
    ~ChangeMarker() { stop(); }

    // Changes every `everyMs` to `everyMs` + `spreadMs`.
    bool start(const QString &display, const QRect &rect, QString *error, int everyMs = 250,
               int spreadMs = 200);
    void stop();

    struct Change
    {
        qint64 timeUs;
        bool white;
    };
    QVector<Change> changes() const;

private:
    void run();

    XPaintWindow m_window;
    int m_everyMs = 250;
    int m_spreadMs = 200;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    QVector<Change> m_changes;
};
