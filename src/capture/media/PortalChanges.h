#pragma once

#include "capture/media/ChangeSource.h"

#include <cstdint>

class PortalScreenInput;

// The changes of a Wayland screen share: the compositor sends a buffer only when the shared
// monitor or window changed (its cursor included where it is embedded), so each new picture is
// a change of the whole of it, as is new trouble (black instead). The input must outlive this.
class PortalChanges : public ChangeSource
{
public:
    explicit PortalChanges(PortalScreenInput &input);

    bool wait(Clock::time_point deadline) override;
    // A share that ends is asked for again by the input itself; meanwhile nothing changes.
    bool broken() const override { return false; }
    // All of the picture, whatever its size, after a new one came.
    QRect takeChanged() override;

private:
    PortalScreenInput &m_input;
    uint64_t m_seen = 0;
    bool m_changed = false;
};
