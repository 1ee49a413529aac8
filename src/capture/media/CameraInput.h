#pragma once

#include "capture/media/LiveInput.h"

#include <atomic>
#include <memory>

// A V4L2 camera read continuously on its own thread; the frame clock takes the newest picture.
class CameraInput
{
public:
    explicit CameraInput(const QByteArray &url);

    // A reference to the newest decoded picture, null before the first one.
    FFFramePtr latest();

    // Why no picture comes from the camera, empty while it delivers. Any thread.
    QString trouble() const;

    const QByteArray &url() const { return m_url; }

private:
    void decode(const AVStream *stream, const AVPacket *packet);

    const QByteArray m_url;
    FFCodecPtr m_decoder; // used on the input's thread only
    std::atomic<bool> m_noDecoder{false};
    std::mutex m_mutex;
    FFFramePtr m_latest;
    std::unique_ptr<LiveInput> m_input; // last: its thread ends before the rest goes
};
