#pragma once

#include "capture/media/FFPtr.h"
#include "capture/media/ScreenRegion.h"

#include <QString>

typedef struct xcb_connection_t xcb_connection_t;

// Grabs a rectangle of the X desktop on demand (x11grab), so that a picture is taken exactly
// when the frame clock asks and never more often.
class ScreenGrabber
{
public:
    ScreenGrabber() = default;
    ScreenGrabber(const ScreenGrabber &) = delete;
    ScreenGrabber &operator=(const ScreenGrabber &) = delete;
    ~ScreenGrabber();

    // Opens the grab of `region` on `display`. False with `error` on failure.
    bool open(const QByteArray &display, const ScreenRegion &region, QString *error);
    // Takes a picture now into `packet`: one packed picture of width() x height() in
    // pixelFormat(). Negative AVERROR on failure, also when the X server has gone.
    int grab(AVPacket *packet);

    int width() const;
    int height() const;
    AVPixelFormat pixelFormat() const;

private:
    bool serverGone();

    FFInputPtr m_input;
    // x11grab hands out its last picture again when its server is gone; a connection of our
    // own notices.
    xcb_connection_t *m_watch = nullptr;
};
