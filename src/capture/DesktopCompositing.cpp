#include "capture/DesktopCompositing.h"

#include <QByteArray>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace {

struct XcbDisconnect
{
    void operator()(xcb_connection_t *conn) const { xcb_disconnect(conn); }
};

// One connection for the process: the question is asked at every change of the overlay's shape.
struct CompositorProbe
{
    std::unique_ptr<xcb_connection_t, XcbDisconnect> conn;
    xcb_atom_t selection = XCB_ATOM_NONE;

    CompositorProbe()
    {
        int screen = 0;
        conn.reset(xcb_connect(nullptr, &screen));
        if (xcb_connection_has_error(conn.get()))
            return;
        // A compositing manager owns this selection for the screen it composes (EWMH).
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            conn.get(), xcb_intern_atom(conn.get(), 0, uint16_t(name.size()), name.constData()),
            nullptr);
        if (reply)
            selection = reply->atom;
        free(reply);
    }

    bool composited() const
    {
        if (selection == XCB_ATOM_NONE)
            return false;
        xcb_get_selection_owner_reply_t *reply = xcb_get_selection_owner_reply(
            conn.get(), xcb_get_selection_owner(conn.get(), selection), nullptr);
        const bool owned = reply && reply->owner != XCB_NONE;
        free(reply);
        return owned;
    }
};

} // namespace

bool desktopComposites()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return true;
    static const CompositorProbe probe;
    return probe.composited();
}
