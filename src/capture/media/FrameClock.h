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

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_origin;
    double m_rate = 0.0;
    int64_t m_last = -1;
};
