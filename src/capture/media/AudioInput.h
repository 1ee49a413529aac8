#pragma once

#include "capture/media/LiveInput.h"
#include "capture/media/MFTypes.h"

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

// An audio device read continuously into a small jitter buffer from which the frame clock takes
// one period's samples per tick. Signed 16-bit samples in the requested layout.
class AudioInput
{
public:
    // `format` "pulse" or "alsa"; `url` the device's name for that input.
    AudioInput(const QByteArray &format, const QByteArray &url, const MFAudioProps &sound);

    // `count` samples (all channels), the oldest first. Until enough have gathered to ride out
    // the device's uneven delivery, and whenever the device delivers nothing, this is silence.
    std::vector<int16_t> take(size_t count);

    // Why no sound comes from the device, empty while it delivers. Any thread.
    QString trouble() const;

    const QByteArray &format() const { return m_format; }
    const QByteArray &url() const { return m_url; }
    const MFAudioProps &sound() const { return m_sound; }

private:
    void append(const AVStream *stream, const AVPacket *packet);

    const QByteArray m_format;
    const QByteArray m_url;
    const MFAudioProps m_sound;
    std::mutex m_mutex;
    std::deque<int16_t> m_samples;
    bool m_primed = false;
    std::atomic<bool> m_badFormat{false};
    std::unique_ptr<LiveInput> m_input; // last: its thread ends before the buffer goes
};
