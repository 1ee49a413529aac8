#include "capture/media/PipeWireStream.h"

#include <QDebug>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <linux/dma-buf.h>
#include <pipewire/pipewire.h>
#include <spa/debug/types.h>
#include <spa/param/video/format-utils.h>
#include <spa/param/video/type-info.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace {

AVPixelFormat avFormat(uint32_t spaFormat)
{
    // SPA names the bytes in memory order, as FFmpeg's packed RGB formats do.
    switch (spaFormat) {
    case SPA_VIDEO_FORMAT_BGRx:
        return AV_PIX_FMT_BGR0;
    case SPA_VIDEO_FORMAT_RGBx:
        return AV_PIX_FMT_RGB0;
    case SPA_VIDEO_FORMAT_xRGB:
        return AV_PIX_FMT_0RGB;
    case SPA_VIDEO_FORMAT_xBGR:
        return AV_PIX_FMT_0BGR;
    case SPA_VIDEO_FORMAT_BGRA:
        return AV_PIX_FMT_BGRA;
    case SPA_VIDEO_FORMAT_RGBA:
        return AV_PIX_FMT_RGBA;
    default:
        return AV_PIX_FMT_NONE;
    }
}

void initPipeWire()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

// Serials grow over every stream, so a picture of an earlier share is never taken for newer.
std::atomic<uint64_t> s_serial{0};

// What changed in `buffer` since the picture before it, within `whole`; all of it when the
// compositor does not say.
QRect damageOf(spa_buffer *buffer, const QRect &whole)
{
    auto *meta = static_cast<spa_meta *>(spa_buffer_find_meta(buffer, SPA_META_VideoDamage));
    if (!meta)
        return whole;
    QRect damage;
    spa_meta_region *region = nullptr;
    spa_meta_for_each(region, meta)
    {
        if (!spa_meta_region_is_valid(region))
            break;
        damage |= QRect(region->region.position.x, region->region.position.y,
                        int(region->region.size.width), int(region->region.size.height));
    }
    // No region at all: the compositor sent the picture for some other reason; take it whole
    // rather than trust it unchanged.
    return damage.isEmpty() ? whole : damage.intersected(whole);
}

// `part` of a packed 4-byte picture copied between two of the same layout.
void copyPart(uint8_t *to, const uint8_t *from, int stride, const QRect &part)
{
    const size_t offset = size_t(part.y()) * size_t(stride) + size_t(part.x()) * 4;
    for (int row = 0; row < part.height(); ++row) {
        const size_t at = offset + size_t(row) * size_t(stride);
        std::memcpy(to + at, from + at, size_t(part.width()) * 4);
    }
}

} // namespace

struct PipeWireStream::Private
{
    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    pw_stream *stream = nullptr;
    pw_registry *registry = nullptr;
    uint32_t nodeId = 0;
    spa_hook registryListener{};
    spa_hook coreListener{};
    spa_hook streamListener{};
    EndHandler onEnd;
    PictureHandler onPicture;
    bool ended = false;

    spa_video_info_raw format{};
    // What the buffers since the last one copied changed (a skipped buffer's too).
    QRect damage;

    mutable std::mutex statisticsMutex;
    Statistics statistics;

    std::mutex mutex;
    // The whole picture as it is now, kept up to date by the parts that change.
    PackedPicture newest;
    // What changed since the serial the consumer last took.
    QRect changedSinceTaken;
    uint64_t taken = 0;

    void end(const QString &reason)
    {
        if (ended)
            return;
        ended = true;
        if (onEnd)
            onEnd(reason);
    }

    void paramChanged(uint32_t id, const spa_pod *param)
    {
        if (!param || id != SPA_PARAM_Format)
            return;
        uint32_t mediaType = 0, mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
            mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
            return;
        spa_format_video_raw_parse(param, &format);
        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const int types = (1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_DmaBuf);
        const int regionSize = int(sizeof(spa_meta_region));
        const spa_pod *params[3];
        params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(types)));
        // The compositor's damage regions: a small change is copied and converted small.
        params[1] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(regionSize * 16, regionSize, regionSize * 16)));
        // The compositor's time of each picture: how late this thread gets it.
        params[2] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
            SPA_POD_Int(int(sizeof(spa_meta_header)))));
        pw_stream_update_params(stream, params, 3);
    }

    void stateChanged(pw_stream_state state, const char *error)
    {
        if (state == PW_STREAM_STATE_ERROR)
            end(QStringLiteral("the screen stream failed: %1").arg(QString::fromUtf8(error)));
        else if (state == PW_STREAM_STATE_UNCONNECTED)
            end(QStringLiteral("the desktop ended the screen stream"));
    }

    void process()
    {
        pw_buffer *b = nullptr;
        const QRect whole(0, 0, int(format.size.width), int(format.size.height));
        uint64_t buffers = 0;
        // Only the newest is copied: older queued buffers go back at once, their damage with
        // the newest's (which shows it too).
        while (pw_buffer *next = pw_stream_dequeue_buffer(stream)) {
            ++buffers;
            damage |= damageOf(next->buffer, whole);
            if (b)
                pw_stream_queue_buffer(stream, b);
            b = next;
        }
        if (!b)
            return;
        noteArrival(b->buffer, buffers);
        copy(b->buffer);
        pw_stream_queue_buffer(stream, b);
    }

    void noteArrival(spa_buffer *buffer, uint64_t buffers)
    {
        auto *header = static_cast<spa_meta_header *>(
            spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
        const int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count();
        std::lock_guard<std::mutex> lock(statisticsMutex);
        statistics.buffers += buffers;
        statistics.replaced += buffers - 1;
        if (header && header->pts > 0) {
            const int64_t delayUs = nowUs - header->pts / 1000;
            statistics.delayUs += delayUs;
            statistics.longestDelayUs = std::max(statistics.longestDelayUs, delayUs);
            ++statistics.timed;
        }
    }

    void noteCopy(std::chrono::steady_clock::time_point asked,
                  std::chrono::steady_clock::time_point locked,
                  std::chrono::steady_clock::time_point done)
    {
        using std::chrono::microseconds;
        const int64_t waitUs = std::chrono::duration_cast<microseconds>(locked - asked).count();
        const int64_t copyUs = std::chrono::duration_cast<microseconds>(done - locked).count();
        std::lock_guard<std::mutex> lock(statisticsMutex);
        statistics.copyUs += copyUs;
        statistics.longestCopyUs = std::max(statistics.longestCopyUs, copyUs);
        statistics.longestLockWaitUs = std::max(statistics.longestLockWaitUs, waitUs);
    }

    void copy(spa_buffer *buffer)
    {
        spa_data &data = buffer->datas[0];
        const AVPixelFormat pixelFormat = avFormat(format.format);
        const int width = int(format.size.width);
        const int height = int(format.size.height);
        if (pixelFormat == AV_PIX_FMT_NONE || width <= 0 || height <= 0 || !data.chunk ||
            data.chunk->size == 0 || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
            return;
        const int stride = data.chunk->stride > 0 ? data.chunk->stride : width * 4;
        const size_t size = size_t(stride) * size_t(height);
        void *mapped = nullptr;
        const uint8_t *bytes = static_cast<const uint8_t *>(data.data);
        if (!bytes && data.type == SPA_DATA_DmaBuf) {
            // Not marked mappable, so PipeWire left it to us; linear buffers map.
            mapped = mmap(nullptr, data.maxsize, PROT_READ, MAP_SHARED, int(data.fd), 0);
            if (mapped == MAP_FAILED)
                return;
            dma_buf_sync sync{DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ};
            ioctl(int(data.fd), DMA_BUF_IOCTL_SYNC, &sync);
            bytes = static_cast<const uint8_t *>(mapped);
        }
        const bool fits = bytes && data.chunk->offset + size <= data.maxsize;
        if (fits) {
            const auto asked = std::chrono::steady_clock::now();
            std::lock_guard<std::mutex> lock(mutex);
            const auto locked = std::chrono::steady_clock::now();
            const uint8_t *from = bytes + data.chunk->offset;
            PackedPicture layout;
            layout.width = width;
            layout.height = height;
            layout.stride = stride;
            layout.format = pixelFormat;
            if (newest.serial == 0 || !newest.sameLayout(layout)) {
                layout.bytes.assign(from, from + size);
                newest = std::move(layout);
                damage = newest.rect();
            } else {
                copyPart(newest.bytes.data(), from, stride, damage);
            }
            changedSinceTaken |= damage;
            damage = QRect();
            newest.serial = ++s_serial;
            noteCopy(asked, locked, std::chrono::steady_clock::now());
        }
        if (mapped) {
            dma_buf_sync sync{DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ};
            ioctl(int(data.fd), DMA_BUF_IOCTL_SYNC, &sync);
            munmap(mapped, data.maxsize);
        }
        if (fits && onPicture)
            onPicture();
    }
};

namespace {

using Private = PipeWireStream::Private;

const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = [](void *self, pw_stream_state, pw_stream_state state,
                              const char *error) {
        static_cast<Private *>(self)->stateChanged(state, error);
    };
    events.param_changed = [](void *self, uint32_t id, const spa_pod *param) {
        static_cast<Private *>(self)->paramChanged(id, param);
    };
    events.process = [](void *self) {
        static_cast<Private *>(self)->process();
    };
    return events;
}();

// A stream whose node goes (the portal's back end ended, a window closed) only pauses: the
// node's removal from the registry is what says it has ended.
const pw_registry_events registryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global_remove = [](void *self, uint32_t id) {
        Private *d = static_cast<Private *>(self);
        if (id == d->nodeId)
            d->end(QStringLiteral("the desktop ended the screen stream"));
    };
    return events;
}();

const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = [](void *self, uint32_t id, int, int res, const char *message) {
        if (id == PW_ID_CORE && res == -EPIPE)
            static_cast<Private *>(self)->end(
                QStringLiteral("the connection to PipeWire broke: %1").arg(message));
    };
    return events;
}();

} // namespace

PipeWireStream::PipeWireStream() : d(std::make_unique<Private>())
{
    initPipeWire();
}

PipeWireStream::~PipeWireStream()
{
    if (d->loop)
        pw_thread_loop_stop(d->loop);
    if (d->stream)
        pw_stream_destroy(d->stream);
    if (d->registry) {
        spa_hook_remove(&d->registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy *>(d->registry));
    }
    if (d->core)
        pw_core_disconnect(d->core);
    if (d->context)
        pw_context_destroy(d->context);
    if (d->loop)
        pw_thread_loop_destroy(d->loop);
}

bool PipeWireStream::open(int fd, uint32_t nodeId, EndHandler onEnd, PictureHandler onPicture,
                          QString *error)
{
    d->onEnd = std::move(onEnd);
    d->onPicture = std::move(onPicture);
    d->loop = pw_thread_loop_new("lumacast-screen", nullptr);
    if (!d->loop) {
        close(fd);
        *error = QStringLiteral("PipeWire: no thread loop");
        return false;
    }
    d->context = pw_context_new(pw_thread_loop_get_loop(d->loop), nullptr, 0);
    if (!d->context) {
        close(fd);
        *error = QStringLiteral("PipeWire: no context");
        return false;
    }
    pw_thread_loop_lock(d->loop);
    pw_thread_loop_start(d->loop);
    d->core = pw_context_connect_fd(d->context, fd, nullptr, 0);
    if (!d->core) {
        *error = QStringLiteral("PipeWire refused the screen-cast connection: %1")
                     .arg(QString::fromUtf8(strerror(errno)));
        pw_thread_loop_unlock(d->loop);
        return false;
    }
    pw_core_add_listener(d->core, &d->coreListener, &coreEvents, d.get());
    d->nodeId = nodeId;
    d->registry = pw_core_get_registry(d->core, PW_VERSION_REGISTRY, 0);
    if (d->registry)
        pw_registry_add_listener(d->registry, &d->registryListener, &registryEvents, d.get());
    d->stream = pw_stream_new(d->core, "Lumacast screen",
                              pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    pw_stream_add_listener(d->stream, &d->streamListener, &streamEvents, d.get());

    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_rectangle minSize = SPA_RECTANGLE(1, 1), defSize = SPA_RECTANGLE(1920, 1080),
                        maxSize = SPA_RECTANGLE(16384, 16384);
    const spa_fraction minRate = SPA_FRACTION(0, 1), defRate = SPA_FRACTION(30, 1),
                       maxRate = SPA_FRACTION(240, 1);
    const spa_pod *params[1];
    params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(7, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_xRGB, SPA_VIDEO_FORMAT_xBGR,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)));
    const int ret = pw_stream_connect(
        d->stream, PW_DIRECTION_INPUT, nodeId,
        pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    pw_thread_loop_unlock(d->loop);
    if (ret < 0) {
        *error = QStringLiteral("PipeWire refused the screen stream: %1")
                     .arg(QString::fromUtf8(strerror(-ret)));
        return false;
    }
    return true;
}

bool PipeWireStream::takeNewer(PackedPicture *picture, QRect *changed)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const PackedPicture &newest = d->newest;
    if (newest.serial <= picture->serial)
        return false;
    // A picture is megabytes, 30 times a second: only what changed since the consumer's copy
    // is copied again, while that copy is this stream's last picture.
    if (picture->serial == d->taken && picture->serial != 0 && picture->sameLayout(newest)) {
        *changed = d->changedSinceTaken;
        copyPart(picture->bytes.data(), newest.bytes.data(), newest.stride, *changed);
        picture->serial = newest.serial;
    } else {
        *picture = newest;
        *changed = newest.rect();
    }
    d->taken = newest.serial;
    d->changedSinceTaken = QRect();
    return true;
}

PipeWireStream::Statistics PipeWireStream::statistics() const
{
    std::lock_guard<std::mutex> lock(d->statisticsMutex);
    return d->statistics;
}
