#pragma once

#include <chrono>

// When a screen source that is told of changes takes its pictures. A change is taken after a
// short pause, so that an update still being drawn is not sent half done, and at most one per
// frame period, so the frame rate stays the upper limit (in motion on a grid of periods, so that
// a late picture lets the next keep its place, never sooner than half a period after it). Once
// the screen has settled, the last picture is sent once more (a full one where the encoder's
// group allows): the blur of the last motion frame does not stay on a still slide. Where nothing
// else keeps the stream flowing (no sound), the picture is repeated now and then so that viewers do
// not take the quiet for a stall.
class ChangePacing
{
public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;

    enum class Action {
        None,
        Picture,        // grab: the screen changed
        SettledPicture, // the last picture again, encoded whole
        KeepAlive,      // the last picture again, as cheaply as the encoder can
    };

    struct Settings
    {
        Clock::duration coalesce = std::chrono::milliseconds(4);
        Clock::duration settle = std::chrono::milliseconds(500);
        // Zero: never.
        Clock::duration keepAlive = Clock::duration::zero();
    };

    ChangePacing() = default;
    explicit ChangePacing(const Settings &settings) : m_settings(settings) {}

    void setRate(double rate);
    void setKeepAlive(Clock::duration every) { m_settings.keepAlive = every; }
    // The screen changed at `at` (changes before the next picture count as one).
    void changed(Time at);
    // When the next action is due; Time::max() when none is.
    Time due() const;
    // The action due at `now`, which counts as done; None when nothing is due yet.
    Action take(Time now);

private:
    Settings m_settings;
    Clock::duration m_period = std::chrono::milliseconds(1000) / 24;
    bool m_changePending = true; // the first picture is always taken
    Time m_changeAt{};
    bool m_settlePending = false;
    Time m_lastPicture{};
    Time m_nextPicture{}; // the earliest for a change
};
