#pragma once

#include <QRect>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

// A packed picture as the compositor last delivered it.
struct PackedPicture
{
    std::vector<uint8_t> bytes;
    int width = 0;
    int height = 0;
    int stride = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    // Grows with every picture received, over all streams of the process; 0 before the first.
    uint64_t serial = 0;

    QRect rect() const { return QRect(0, 0, width, height); }
    bool sameLayout(const PackedPicture &o) const
    {
        return width == o.width && height == o.height && stride == o.stride && format == o.format;
    }
};

// Consumes one PipeWire video node, such as the screen-cast stream a desktop portal opened, on
// PipeWire's own thread. Takes shared-memory buffers and DMA-BUF buffers that can be mapped
// (linear ones); the newest picture is copied out, so the consumer never holds the
// compositor's buffers. Where the compositor says which part of a picture changed (damage
// regions), only that part is copied, here and to the consumer.
class PipeWireStream
{
public:
    // Called on PipeWire's thread when the stream stops for good (the compositor ended it, the
    // connection broke), with the reason in words.
    using EndHandler = std::function<void(const QString &reason)>;
    // Called on PipeWire's thread after each new picture: the compositor sends one only when
    // the screen changed.
    using PictureHandler = std::function<void()>;

    PipeWireStream();
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream &) = delete;
    PipeWireStream &operator=(const PipeWireStream &) = delete;

    // Connects to node `nodeId` over the PipeWire connection `fd` (taken over, closed in any
    // case). False with `error` when PipeWire refuses.
    bool open(int fd, uint32_t nodeId, EndHandler onEnd, PictureHandler onPicture, QString *error);

    // Brings `picture` up to the newest picture if that is newer, and says in `changed` which
    // part of it changed (all of it when `picture` was not this stream's last one). False when
    // nothing newer came.
    bool takeNewer(PackedPicture *picture, QRect *changed);

    // What the stream did so far: how steadily the compositor delivers, and what its pictures
    // cost this thread.
    struct Statistics
    {
        // Buffers taken from the compositor, and of those the ones given back uncopied because
        // a newer one was queued behind them.
        uint64_t buffers = 0;
        uint64_t replaced = 0;
        // Copying the changed part into the newest picture, on PipeWire's thread.
        int64_t copyUs = 0;
        int64_t longestCopyUs = 0;
        // The longest PipeWire's thread waited for the consumer to finish taking a picture.
        int64_t longestLockWaitUs = 0;
        // From the compositor's timestamp of a picture to this thread having it, where the
        // compositor gives one (same clock as std::chrono::steady_clock).
        int64_t delayUs = 0;
        int64_t longestDelayUs = 0;
        uint64_t timed = 0;
    };
    Statistics statistics() const;

    struct Private;

private:
    std::unique_ptr<Private> d;
};
