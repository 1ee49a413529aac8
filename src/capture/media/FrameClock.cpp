#include "capture/media/FrameClock.h"

#include <cmath>
#include <thread>

FrameClock::Tick FrameClock::waitNextTick(double rate)
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
    std::this_thread::sleep_until(at(next));
    m_last = next;
    return Tick{next, int64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                  at(next).time_since_epoch())
                                  .count())};
}
