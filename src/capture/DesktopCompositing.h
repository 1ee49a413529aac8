#pragma once

// Whether the desktop blends translucent windows with what lies below them. An X server without
// a compositing manager does not: it shows a translucent window's colour values as they are
// (premultiplied, so a fully transparent pixel shows black). Other platforms always compose.
// GUI thread only.
bool desktopComposites();
