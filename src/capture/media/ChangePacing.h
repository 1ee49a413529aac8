#pragma once

#include <chrono>

// When a screen source that is told of changes takes its pictures. A change is taken after a
// short pause, so that an update still being drawn is not sent half done, and at most one per
// frame period, so the frame rate stays the upper limit (in motion on a grid of periods, so that
// a late picture lets the next keep its place, never sooner than half a period after it). Once
// the screen has settled, the last picture is sent once more (a full one where the encoder's
// group allows). After a large change (motion, a new slide) the encoder's rate left that picture
// coarse, so it is sent again at the frame rate for a while, each time sharper, as a clock
// would: the blur of the last motion frame does not stay on a still slide. A small change was
// coded fine already: one repeat is enough, and a still slide with a ticking clock costs little.
// Where nothing else keeps the stream flowing (no sound), the picture is repeated now and then
// so that viewers do not take the quiet for a stall.
class ChangePacing
{
public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;

    enum class Action {
        None,
        Picture,        // grab: the screen changed
        SettledPicture, // the last picture again, to sharpen it
        KeepAlive,      // the last picture again, as cheaply as the encoder can
    };

    struct Settings
    {
        Clock::duration coalesce = std::chrono::milliseconds(4);
        Clock::duration settle = std::chrono::milliseconds(250);
        // Settled pictures after a large change, one a period.
        int refinements = 16;
        // Zero: never.
        Clock::duration keepAlive = Clock::duration::zero();
    };

    ChangePacing() = default;
    explicit ChangePacing(const Settings &settings) : m_settings(settings) {}

    void setRate(double rate);
    void setKeepAlive(Clock::duration every) { m_settings.keepAlive = every; }
    // The screen changed at `at` (changes before the next picture count as one); `large`: a
    // good part of the picture did.
    void changed(Time at, bool large = false);
    // When the next action is due; Time::max() when none is.
    Time due() const;
    // The action due at `now`, which counts as done; None when nothing is due yet.
    Action take(Time now);

private:
    Settings m_settings;
    Clock::duration m_period = std::chrono::milliseconds(1000) / 24;
    bool m_changePending = true; // the first picture is always taken
    Time m_changeAt{};
    int m_settledLeft = 0;
    bool m_settledFirst = false; // the next settled picture is the first after the pause
    bool m_coarse = true;        // a large change since the screen last settled
    Time m_lastPicture{};
    Time m_nextPicture{}; // the earliest for a change
};
