#pragma once

#include "support/XPaintWindow.h"

#include <QImage>
#include <atomic>
#include <thread>

// Keeps a window of an X server busy with moving, detailed content (a textured pattern that
// scrolls a few pixels every 40 ms), as a presenter's screen with video or scrolling would be.
class MovingContent
{
public:
    ~MovingContent() { stop(); }

    bool start(const QString &display, const QRect &rect, QString *error);
    void stop();

private:
    void run();

    XPaintWindow m_window;
    QImage m_texture;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
