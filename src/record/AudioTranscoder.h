#pragma once

#include "capture/media/FFEncoder.h"

#include <QString>

struct AVAudioFifo;
struct SwrContext;

// The sound of a recording in a codec its container takes: decodes the writer's packets
// (MP2) and encodes them again (AAC for MP4, which browsers play only with AAC). Sound is cheap
// to encode next to pictures, and this runs once, at Stop, on the remux's thread. The decoder's
// frames (1152 samples for MP2) rarely match the encoder's (1024 for AAC), so samples wait in a
// queue; the output's timestamps count samples from the first input packet's time, and follow
// the input again where it jumps (sound the writer lost).
class AudioTranscoder
{
public:
    AudioTranscoder() = default;
    AudioTranscoder(const AudioTranscoder &) = delete;
    AudioTranscoder &operator=(const AudioTranscoder &) = delete;
    ~AudioTranscoder();

    // Opens the decoder for `input` and the encoder `codecName` at the same rate and channels.
    // False with `error` in words when either cannot be opened.
    bool open(const AVCodecParameters *input, AVRational inputTimeBase, const char *codecName,
              QString *error);
    // What the output stream declares; after open().
    int describe(AVCodecParameters *output) const;
    // The time base of the packets handed to sinks.
    AVRational timeBase() const;

    // One input packet, timestamps in the input time base. Negative AVERROR on failure; a
    // packet the decoder refuses is skipped (with a log line), not a failure.
    int transcode(const AVPacket *packet, const PacketSink &sink);
    // The samples still queued, and what the encoder holds back.
    int finish(const PacketSink &sink);

private:
    int queueDecoded(const PacketSink &sink);
    int encodeQueued(bool all, const PacketSink &sink);

    FFCodecPtr m_decoder;
    FFCodecPtr m_encoder;
    SwrContext *m_resampler = nullptr;
    AVAudioFifo *m_queue = nullptr;
    AVRational m_inputTimeBase{1, 90000};
    int64_t m_nextPts = AV_NOPTS_VALUE; // of the first queued sample, in samples
};
