#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>

// Every FFmpeg object is owned by a unique_ptr whose deleter is FFmpeg's own release call.
struct FFInputCloser
{
    void operator()(AVFormatContext *ctx) const { avformat_close_input(&ctx); }
};
struct FFCodecCloser
{
    void operator()(AVCodecContext *ctx) const { avcodec_free_context(&ctx); }
};
struct FFFrameFreer
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct FFPacketFreer
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FFSwsFreer
{
    void operator()(SwsContext *ctx) const { sws_freeContext(ctx); }
};

using FFInputPtr = std::unique_ptr<AVFormatContext, FFInputCloser>;
using FFCodecPtr = std::unique_ptr<AVCodecContext, FFCodecCloser>;
using FFFramePtr = std::unique_ptr<AVFrame, FFFrameFreer>;
using FFPacketPtr = std::unique_ptr<AVPacket, FFPacketFreer>;
using FFSwsPtr = std::unique_ptr<SwsContext, FFSwsFreer>;

// Owns an option dictionary; get() hands FFmpeg the address it may fill or empty.
class FFDict
{
public:
    FFDict() = default;
    FFDict(const FFDict &) = delete;
    FFDict &operator=(const FFDict &) = delete;
    ~FFDict() { av_dict_free(&m_dict); }

    void set(const char *key, const char *value) { av_dict_set(&m_dict, key, value, 0); }
    void set(const char *key, int64_t value) { av_dict_set_int(&m_dict, key, value, 0); }
    AVDictionary **get() { return &m_dict; }
    const AVDictionary *peek() const { return m_dict; }

private:
    AVDictionary *m_dict = nullptr;
};
