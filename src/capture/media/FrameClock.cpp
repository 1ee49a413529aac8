#include "capture/media/FrameClock.h"

#include <cmath>
#include <thread>

FrameClock::Tick FrameClock::waitNextTick(double rate)
{
    const Tick tick = upcoming(rate);
    std::this_thread::sleep_until(Clock::time_point(std::chrono::microseconds(tick.timeUs)));
    taken(tick);
    return tick;
}

int64_t FrameClock::indexAt(int64_t timeUs) const
{
    const std::chrono::duration<double> elapsed =
        Clock::time_point(std::chrono::microseconds(timeUs)) - m_origin;
    return int64_t(std::floor(elapsed.count() * m_rate));
}

FrameClock::Tick FrameClock::upcoming(double rate)
{
    const Clock::time_point now = Clock::now();
    if (rate != m_rate || m_last < 0) {
        m_rate = rate;
        m_origin = now;
        m_last = -1;
    }
    const std::chrono::duration<double> period(1.0 / m_rate);
    const auto at = [this, period](int64_t index) {
        return m_origin + std::chrono::duration_cast<Clock::duration>(period * double(index));
    };
    int64_t next = m_last + 1;
    if (now - at(next) > period) {
        const std::chrono::duration<double> elapsed = now - m_origin;
        next = int64_t(std::floor(elapsed / period)) + 1;
    }
    return Tick{next, int64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                  at(next).time_since_epoch())
                                  .count())};
}
