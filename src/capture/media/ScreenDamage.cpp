#include "capture/media/ScreenDamage.h"

#include <cstdlib>
#include <poll.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace {

// Covers the largest pointer images around the hot spot, which may lie anywhere in them.
constexpr int pointerReach = 64;

template <typename Reply> struct ReplyFree
{
    void operator()(Reply *reply) const { std::free(reply); }
};
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, ReplyFree<Reply>>;

} // namespace

void ScreenDamage::Disconnect::operator()(xcb_connection_t *connection) const
{
    xcb_disconnect(connection);
}

bool ScreenDamage::open(const QByteArray &display, const QRect &area, bool watchPointer,
                        QString *why)
{
    m_connection.reset();
    int screenNumber = 0;
    m_connection.reset(xcb_connect(display.constData(), &screenNumber));
    xcb_connection_t *c = m_connection.get();
    if (xcb_connection_has_error(c)) {
        *why = QStringLiteral("cannot connect to %1").arg(QString::fromUtf8(display));
        return false;
    }
    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(c, &xcb_damage_id);
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!damage || !damage->present || !xfixes || !xfixes->present) {
        *why = QStringLiteral("%1 has no %2 extension")
                   .arg(QString::fromUtf8(display), !damage || !damage->present
                                                        ? QStringLiteral("DAMAGE")
                                                        : QStringLiteral("XFixes"));
        m_connection.reset();
        return false;
    }
    // Each extension must agree on a version before it takes requests.
    ReplyPtr<xcb_xfixes_query_version_reply_t> fixesVersion(
        xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
    ReplyPtr<xcb_damage_query_version_reply_t> damageVersion(
        xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
    if (!fixesVersion || !damageVersion) {
        *why = QStringLiteral("%1 refused the DAMAGE or XFixes version")
                   .arg(QString::fromUtf8(display));
        m_connection.reset();
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        *why =
            QStringLiteral("%1 has no screen %2").arg(QString::fromUtf8(display)).arg(screenNumber);
        m_connection.reset();
        return false;
    }
    m_root = screens.data->root;
    m_damageEvent = uint8_t(damage->first_event + XCB_DAMAGE_NOTIFY);
    m_cursorEvent = uint8_t(xfixes->first_event + XCB_XFIXES_CURSOR_NOTIFY);
    m_area = area;
    m_watchPointer = watchPointer;
    // Raw rectangles: the server reports every drawing and keeps no region for us to clear,
    // and the rectangles tell which lie in the area.
    xcb_damage_create(c, xcb_generate_id(c), m_root, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    if (watchPointer) {
        xcb_xfixes_select_cursor_input(c, m_root, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
        pointerMoved();
    }
    // What the server says about the start itself (the cursor chosen, the new damage object)
    // is no change on the screen: a round trip brings it in to be dropped.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    drainEvents();
    m_changed = QRect();
    return !broken();
}

bool ScreenDamage::broken() const
{
    return !m_connection || xcb_connection_has_error(m_connection.get());
}

bool ScreenDamage::nearArea(QPoint point) const
{
    return m_area.adjusted(-pointerReach, -pointerReach, pointerReach, pointerReach)
        .contains(point);
}

QRect ScreenDamage::pointerRect(QPoint point)
{
    return QRect(point - QPoint(pointerReach, pointerReach),
                 QSize(2 * pointerReach, 2 * pointerReach));
}

void ScreenDamage::addChange(const QRect &rect)
{
    m_changed |= rect & m_area;
}

QRect ScreenDamage::takeChanged()
{
    const QRect changed = m_changed.translated(-m_area.topLeft());
    m_changed = QRect();
    return changed;
}

bool ScreenDamage::pointerMoved()
{
    xcb_connection_t *c = m_connection.get();
    ReplyPtr<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, m_root), nullptr));
    if (!reply)
        return false;
    const QPoint now(reply->root_x, reply->root_y);
    const bool moved = now != m_pointer && (nearArea(now) || nearArea(m_pointer));
    if (moved)
        addChange(pointerRect(m_pointer) | pointerRect(now));
    m_pointer = now;
    return moved;
}

bool ScreenDamage::drainEvents()
{
    bool changed = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection.get())) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == m_damageEvent) {
            const auto *damage = reinterpret_cast<const xcb_damage_notify_event_t *>(event);
            const QRect rect(damage->area.x, damage->area.y, damage->area.width,
                             damage->area.height);
            changed = rect.intersects(m_area) || changed;
            addChange(rect);
        } else if (type == m_cursorEvent && m_watchPointer && nearArea(m_pointer)) {
            changed = true;
            addChange(pointerRect(m_pointer));
        }
        std::free(event);
    }
    return changed;
}

bool ScreenDamage::wait(Clock::time_point deadline)
{
    if (broken())
        return true;
    bool changed = m_watchPointer && pointerMoved();
    const int fd = xcb_get_file_descriptor(m_connection.get());
    for (;;) {
        changed = drainEvents() || changed;
        if (changed || broken())
            return true;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        const timespec timeout{time_t(left.count() / 1000000000), long(left.count() % 1000000000)};
        pollfd readable{fd, POLLIN, 0};
        ppoll(&readable, 1, &timeout, nullptr);
    }
}
