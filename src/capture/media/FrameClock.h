#pragma once

#include <chrono>
#include <cstdint>

// The pacing of a capture source: ticks at a fixed rate from the first request on. A consumer
// that falls more than a period behind resumes at the next future tick, so tick indexes stay on
// one time grid and tell the writers the true time of each frame.
class FrameClock
{
public:
    struct Tick
    {
        int64_t index;
        int64_t timeUs; // steady clock, microseconds
    };

    // Blocks until the next tick and returns it. A new rate restarts the grid.
    Tick waitNextTick(double rate);
    // The tick waitNextTick would wait for, without waiting; taken() then makes it the last.
    Tick upcoming(double rate);
    void taken(const Tick &tick) { m_last = tick.index; }
    // The index of the latest tick at or before `timeUs` on the current grid.
    int64_t indexAt(int64_t timeUs) const;

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_origin;
    double m_rate = 0.0;
    int64_t m_last = -1;
};
