#pragma once

#include <cstdint>

// Result codes of the capture back end: zero or positive is success, negative is failure
// (FFmpeg's AVERROR values are passed through, so ffErrorText() can describe them).
using MFResult = int;
constexpr MFResult MF_OK = 0;

inline bool mfFailed(MFResult result)
{
    return result < 0;
}

// Device kinds of the capture source object.
enum eMFDeviceType {
    eMFDT_Video = 0,    // cameras, capture cards and the screen
    eMFDT_Audio = 1,    // the selected video device's own sound
    eMFDT_ExtAudio = 2, // separate audio inputs
};

struct MFVideoProps
{
    int width = 0;
    int height = 0;
    double frameRate = 0.0;
};

struct MFAudioProps
{
    int channels = 0;
    int samplesPerSec = 0;
    int bitsPerSample = 0;
};

// The format in which frames are requested from a source. A zero width or height asks for no
// picture, zero channels for no sound.
struct MFAVProps
{
    MFVideoProps video;
    MFAudioProps audio;
};
