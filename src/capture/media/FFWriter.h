#pragma once

#include "capture/media/AudioEncoder.h"
#include "capture/media/IMFWriter.h"
#include "capture/media/VideoEncoder.h"
#include "capture/media/WriterConfig.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

// Writer over libavformat: one muxer whose output goes to the target through FFmpeg's own
// protocols (tcp://...). The connection is made by WriterSet; the header, encoding and sending
// happen on the writer's thread once frames arrive. Every packet is flushed at once: a muxer
// carrying one stream never waits to interleave, so nothing is held back.
class FFWriter : public IMFWriter
{
public:
    FFWriter();
    ~FFWriter() override;

    MFResult WriterSet(const QString &target, int flags, const QString &config) override;
    MFResult ReceiverFramePut(const MFFramePtr &frame, int64_t maxWaitMs,
                              const QString &props) override;

    // Stream identifiers (transport-stream PIDs) per kind, distinct so that a viewer can demux
    // the video and the audio writer's streams from one interleaved byte stream.
    static constexpr int videoPid = 0x100;
    static constexpr int audioPid = 0x101;

private:
    struct OutputCloser
    {
        void operator()(AVFormatContext *ctx) const;
    };

    void pump();
    void writeFrame(const MFFrame &frame);
    bool startMuxer(const MFFrame &frame);
    AVStream *addStream(const AVCodecContext *encoder, int pid);
    void mux(AVPacket *packet, const AVCodecContext *encoder, const AVStream *stream);
    void fail(const QString &what);
    static int interrupted(void *self);

    WriterConfig m_config;
    std::unique_ptr<AVFormatContext, OutputCloser> m_output;
    std::optional<VideoEncoder> m_video;
    std::optional<AudioEncoder> m_audio;
    AVStream *m_videoStream = nullptr;
    AVStream *m_audioStream = nullptr;
    bool m_headerWritten = false;
    bool m_failed = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<MFFramePtr> m_queue;
    bool m_overflowLogged = false;
    std::atomic<bool> m_closing{false};
    std::thread m_thread;
};
