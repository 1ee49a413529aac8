#pragma once

#include "capture/media/ChangeSource.h"

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QString>
#include <chrono>
#include <memory>

typedef struct xcb_connection_t xcb_connection_t;

// Tells when the pixels of a desktop rectangle change, from the X server's DAMAGE events on the
// root window, so that a still screen needs no grab at all. A pointer that is drawn into the
// picture moves without damaging anything, so where it is drawn its position is read at every
// wait and its shape changes come as XFixes cursor events. A connection of its own, one thread.
class ScreenDamage : public ChangeSource
{
public:
    // Starts watching `area` (desktop coordinates) on `display`. False with `why` when the server
    // cannot be reached or lacks the DAMAGE or XFixes extension.
    bool open(const QByteArray &display, const QRect &area, bool watchPointer, QString *why);

    // A lost connection counts as a change, so that the grab that follows finds the server gone.
    bool wait(Clock::time_point deadline) override;
    bool broken() const override;
    // The bounding rectangle of the damage and of the pointer's old and new place, in the
    // area's coordinates.
    QRect takeChanged() override;

private:
    struct Disconnect
    {
        void operator()(xcb_connection_t *connection) const;
    };

    // Reads what the server has sent without blocking; true if it shows a change.
    bool drainEvents();
    bool pointerMoved();
    bool nearArea(QPoint point) const;
    void addChange(const QRect &rect);
    static QRect pointerRect(QPoint point);

    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    uint32_t m_root = 0;
    uint8_t m_damageEvent = 0;
    uint8_t m_cursorEvent = 0;
    QRect m_area;
    bool m_watchPointer = false;
    QPoint m_pointer;
    QRect m_changed; // desktop coordinates, within the area
};
