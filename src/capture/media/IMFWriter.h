#pragma once

#include "capture/media/IMFSource.h"
#include "capture/media/MFTypes.h"

#include <QString>
#include <memory>

// An encoder writer: turns frames into a transport stream sent to a target address.
// WriterSet is called once, from the owning thread; ReceiverFramePut from one producer thread.
// Encoding and sending run on the writer's own thread; releasing the writer ends them.
class IMFWriter
{
public:
    virtual ~IMFWriter() = default;

    // Connects to `target` (for example "tcp://127.0.0.1:62000") and prepares the encoders
    // that `config` describes (format='mpegts' video::codec='mpeg1video' video::b='960K' ...).
    // `flags` is reserved (callers pass 1).
    virtual MFResult WriterSet(const QString &target, int flags, const QString &config) = 0;
    // Queues a frame for encoding and returns at once. `maxWaitMs` and `props` are reserved.
    virtual MFResult ReceiverFramePut(const MFFramePtr &frame, int64_t maxWaitMs,
                                      const QString &props) = 0;
};

using MFWriterPtr = std::shared_ptr<IMFWriter>;
