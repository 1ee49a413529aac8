#include "capture/media/PortalChanges.h"

#include "capture/media/PortalScreenInput.h"

namespace {
// The largest picture the screen stream accepts.
constexpr int largestSide = 16384;
} // namespace

PortalChanges::PortalChanges(PortalScreenInput &input)
    : m_input(input), m_seen(input.waitChanges(0, Clock::time_point()))
{}

bool PortalChanges::wait(Clock::time_point deadline)
{
    const uint64_t pictures = m_input.waitChanges(m_seen, deadline);
    if (pictures == m_seen)
        return false;
    m_seen = pictures;
    m_changed = true;
    return true;
}

QRect PortalChanges::takeChanged()
{
    const QRect changed = m_changed ? QRect(0, 0, largestSide, largestSide) : QRect();
    m_changed = false;
    return changed;
}
