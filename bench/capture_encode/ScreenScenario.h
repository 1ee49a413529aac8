#pragma once

#include "support/XPaintWindow.h"

#include <QImage>
#include <atomic>
#include <thread>

// What a presenter's screen does during a talk, played on a full-screen window of an X server
// from the start of a run to its end, so that each tool of a run sees the same screen.
class ScreenScenario
{
public:
    enum class Kind {
        StillSlide,   // nothing moves (a marker elsewhere may)
        SlideChanges, // the next slide every 10 s, the first 2 s into the run
        Typing,       // an editor in which a character appears 6 to 12 times a second
        Scrolling,    // a page scrolled by 12 px every 40 ms
        Motion,       // detailed content moving all over the screen every 40 ms
    };
    static const char *name(Kind kind);

    ~ScreenScenario() { stop(); }

    // The window, below every later one. False with `error` on failure.
    bool open(const QString &display, QSize screen, QString *error);
    void start(Kind kind);
    void stop();

private:
    void run(Kind kind);
    void type();
    void slide(int number);
    void shift(QPoint step);

    XPaintWindow m_window;
    QImage m_texture; // twice the screen, for the moving kinds
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
