#pragma once

#include "capture/media/FFPtr.h"
#include "capture/media/WriterConfig.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Reads a live input device (PulseAudio, ALSA, V4L2) on its own thread and hands every packet to
// a handler on that thread. A device that cannot be opened or fails while read is logged and
// tried again every second, so a capture session survives a device that comes and goes.
class LiveInput
{
public:
    // Called on the input's thread; the packet is only borrowed for the call. `stream` tells
    // the packet's format.
    using PacketHandler = std::function<void(const AVStream *stream, AVPacket *packet)>;

    LiveInput(QByteArray format, QByteArray url, FFOptionList options, PacketHandler handler);
    // Ends the thread (within one packet period of the device).
    ~LiveInput();

    LiveInput(const LiveInput &) = delete;
    LiveInput &operator=(const LiveInput &) = delete;

    // Why the device delivers nothing (it cannot be opened, or reading it failed), empty while
    // it works. Any thread.
    QString trouble() const;

private:
    void run();
    FFInputPtr open(QString *error);
    bool pause(); // false when stopped meanwhile
    void setTrouble(const QString &text);
    static int interrupted(void *self);

    const QByteArray m_format;
    const QByteArray m_url;
    const FFOptionList m_options;
    const PacketHandler m_handler;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    QString m_trouble;
    std::thread m_thread;
};
