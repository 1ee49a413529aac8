#pragma once

#include <QRect>
#include <chrono>

// What tells a change-driven screen source that its picture changed: the X server's damage
// reports, or a compositor that sends a new buffer only when the screen changed.
class ChangeSource
{
public:
    using Clock = std::chrono::steady_clock;

    virtual ~ChangeSource() = default;
    // Blocks until something changed since the previous call returned true, or until
    // `deadline`. True on a change, and also once the source is lost (broken() then tells).
    virtual bool wait(Clock::time_point deadline) = 0;
    virtual bool broken() const = 0;
    // What changed since the previous call, in the picture's coordinates; null when nothing did.
    virtual QRect takeChanged() = 0;
};
