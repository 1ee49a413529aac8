#pragma once

#include "capture/media/ChangePacing.h"
#include "capture/media/ChangeSource.h"
#include "capture/media/FFPtr.h"

#include <QRect>
#include <QSize>
#include <memory>

// Makes a screen source follow the screen instead of a clock: between the ticks that carry the
// sound it waits for changes of the picture (ScreenDamage on X11, the compositor's buffers on
// Wayland) and says when a picture is due (ChangePacing); it keeps the last picture for the
// repeats that need no grab. Without a change source (an X server without DAMAGE) it watches
// nothing and the source grabs at every tick, as it always did.
class ScreenChangeWatch
{
public:
    using Clock = ChangePacing::Clock;

    struct Wake
    {
        ChangePacing::Action action = ChangePacing::Action::None;
        bool tickReached = true;
    };

    // Starts following `changes` of a picture of `size`, counting a picture as just taken.
    void watch(std::unique_ptr<ChangeSource> changes, QSize size, double rate);
    void stop();
    // Something other than the screen changed what the picture should be: take a new one.
    void refresh();
    bool watching() const { return m_changes != nullptr; }

    // Blocks until `tick`, or until a picture is due before it, and says which. A held picture
    // of another size than `size` counts as a change. `keepAlive`: repeat a still picture now
    // and then, since nothing else flows.
    Wake waitUntil(Clock::time_point tick, QSize size, bool keepAlive);

    // What changed of the area since the previous call, in the area's coordinates; all of it
    // after a start, a refresh or a new size. Null when nothing did.
    QRect takeChanged();

    // The picture the source has just made, kept for the repeats.
    void hold(const AVFrame *picture);
    // A new reference to the kept picture; null when none is kept.
    FFFramePtr held() const;

private:
    std::unique_ptr<ChangeSource> m_changes;
    ChangePacing m_pacing;
    FFFramePtr m_held;
    QRect m_whole;
    QRect m_changed;
};
