#pragma once

#include "support/XPaintWindow.h"

#include <QImage>
#include <atomic>
#include <thread>

// A presenter's screen content for scoring pictures: a text slide with a chart, a code page,
// then a scroll through the code at 15 px per frame, looped at 24 frames per second on a
// window that covers the X screen. Each frame carries its index as a row of black and white
// blocks at the top, so a picture of the stream can be matched with the frame it shows.
// Played to settle, it scrolls the code for two seconds and then holds one code page still for
// three, over and over: how sharp the still page gets, and how soon, after full-screen motion.
class ScreenClip
{
public:
    enum class Play { Loop, Settle };

    ~ScreenClip() { stop(); }

    // The pages are typeset by the ffmpeg tool (drawtext), which knows the fonts.
    bool load(const QString &codeFile, QString *error);
    bool play(const QString &display, QString *error, Play how = Play::Loop);
    void stop();

    static constexpr int frameCount = 192;
    static const QSize size;
    // Rows at the top that hold the index, left out of any score.
    static constexpr int indexRows = 64;
    // Played to settle: the scroll's frames shown in motion, and the one held still after them.
    static constexpr int settleMotionFirst = 96;
    static constexpr int settleMotionFrames = 48;
    static constexpr int settleStillFrame = settleMotionFirst + settleMotionFrames;
    static constexpr int settleStillFrames = 72;

    QImage frame(int index) const;
    // The index a (scaled) picture of a frame shows; -1 when the blocks do not read as one.
    static int indexOf(const QImage &picture);

private:
    void run();
    // The frame shown at `step` of the clock since the start.
    int frameAt(qint64 step) const;

    QImage m_slide;
    QImage m_code;
    XPaintWindow m_window;
    Play m_how = Play::Loop;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
