#pragma once

#include "capture/media/FFPtr.h"
#include "capture/media/MFTypes.h"

#include <QString>
#include <cstdint>
#include <vector>

// Why a frame lacks what the selected devices should have given it, in words ("Desktop sound:
// Input/output error"); each part is empty while its device delivers.
struct MFSourceTrouble
{
    QString video;
    QString audio;

    bool operator==(const MFSourceTrouble &other) const
    {
        return video == other.video && audio == other.audio;
    }
};

// One tick of the capture clock: the picture converted to the requested size (planar YUV 4:2:0)
// and the sound of that period (signed 16-bit samples, interleaved when there are several
// channels). Immutable once handed out, so writers on other threads may share it.
class MFFrame
{
public:
    MFFrame(const MFAVProps &format, int64_t tick, int64_t tickTimeUs, FFFramePtr picture,
            std::vector<int16_t> audio, MFSourceTrouble trouble = {}, bool settled = false)
        : m_format(format), m_tick(tick), m_tickTimeUs(tickTimeUs), m_picture(std::move(picture)),
          m_audio(std::move(audio)), m_trouble(std::move(trouble)), m_settled(settled)
    {}

    // The format the frame was requested in (frame rate, sound layout).
    const MFAVProps &format() const { return m_format; }
    // Index of the tick on the source's clock; consecutive frames differ by one unless the
    // consumer fell behind. A picture taken between two ticks (a screen change sent at once)
    // comes in a frame of its own, without sound, with the index of the tick before it; no two
    // pictures share an index. Writers derive their timestamps from it.
    int64_t tick() const { return m_tick; }
    // Steady-clock time of the tick, or of the picture between ticks, in microseconds (for delay
    // measurements).
    int64_t tickTimeUs() const { return m_tickTimeUs; }
    // Null when no picture was requested, and from a source that follows the screen's changes
    // when the picture is the same as the previous frame's (nothing to encode).
    const AVFrame *picture() const { return m_picture.get(); }
    // The picture has stayed still and is sent once more to sharpen it: a slide reaches full
    // quality; a full picture when the last is a group's length old, so a joiner finds one near.
    bool settled() const { return m_settled; }
    const std::vector<int16_t> &audio() const { return m_audio; }
    // Black picture or silence in place of a device that fails: why.
    const MFSourceTrouble &trouble() const { return m_trouble; }

private:
    MFAVProps m_format;
    int64_t m_tick;
    int64_t m_tickTimeUs;
    FFFramePtr m_picture;
    std::vector<int16_t> m_audio;
    MFSourceTrouble m_trouble;
    bool m_settled;
};
