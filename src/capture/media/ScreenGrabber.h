#pragma once

#include "capture/media/FFPtr.h"
#include "capture/media/ScreenRegion.h"

#include <QString>

// Grabs a rectangle of the X desktop on demand (x11grab), so that a picture is taken exactly
// when the frame clock asks and never more often.
class ScreenGrabber
{
public:
    // Opens the grab of `region` on `display`. False with `error` on failure.
    bool open(const QByteArray &display, const ScreenRegion &region, QString *error);
    // Takes a picture now into `packet`: one packed picture of width() x height() in
    // pixelFormat(). Negative AVERROR on failure.
    int grab(AVPacket *packet);

    int width() const;
    int height() const;
    AVPixelFormat pixelFormat() const;

private:
    FFInputPtr m_input;
};
