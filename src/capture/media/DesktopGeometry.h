#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>

// The X root window of `display` (empty: $DISPLAY) in pixels; empty when no X server answers.
QRect x11DesktopRect(const QByteArray &display);

// The GUI's screens in its own order, in device pixels of the desktop. Qt allows this only on
// the GUI thread and only means X screens on the xcb platform; elsewhere the list is empty.
QList<QRect> guiScreenRects();

// Whether the session is a Wayland desktop, whose screen only its screen-cast portal shares
// (X11 capture there sees XWayland's empty root window).
bool waylandDesktop();
