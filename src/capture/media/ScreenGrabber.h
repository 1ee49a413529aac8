#pragma once

#include "capture/media/FFPtr.h"
#include "capture/media/ScreenRegion.h"

#include <QString>

typedef struct xcb_connection_t xcb_connection_t;

// Grabs a rectangle of the X desktop on demand (x11grab), so that a picture is taken exactly
// when the frame clock asks and never more often. It keeps the last picture, and where only a
// small part of it changed, asks the server for that part alone: the server then copies a few
// kilobytes instead of the whole area.
class ScreenGrabber
{
public:
    ScreenGrabber();
    ScreenGrabber(const ScreenGrabber &) = delete;
    ScreenGrabber &operator=(const ScreenGrabber &) = delete;
    ~ScreenGrabber();

    // Opens the grab of `region` on `display`. False with `error` on failure.
    bool open(const QByteArray &display, const ScreenRegion &region, QString *error);
    // Brings the picture up to date now: only `changed` (the area's coordinates) where that is
    // all that changed since the previous grab, else the whole area (also for a null rectangle).
    // Negative AVERROR on failure, also when the X server has gone.
    int grab(const QRect &changed);

    // The picture: one packed picture of width() x height() in pixelFormat(), `data()` rows of
    // `linesize()` bytes. Valid until the next grab or open.
    const uint8_t *data() const { return m_picture->data; }
    int linesize() const;
    int width() const;
    int height() const;
    AVPixelFormat pixelFormat() const;

    // How many grabs asked for a part only, since the grab was opened.
    int partialGrabs() const { return m_partialGrabs; }

private:
    bool serverGone();
    bool grabPart(const QRect &part);

    FFInputPtr m_input;
    FFPacketPtr m_picture;
    // x11grab hands out its last picture again when its server is gone; a connection of our
    // own notices, and asks for the changed parts.
    xcb_connection_t *m_watch = nullptr;
    uint32_t m_root = 0;
    ScreenRegion m_region;
    int m_partialGrabs = 0;
};
