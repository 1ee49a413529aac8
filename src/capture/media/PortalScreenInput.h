#pragma once

#include "capture/media/PipeWireStream.h"

#include <QRect>
#include <QString>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// The screen of a Wayland desktop: a monitor or window shared through the desktop's screen-cast
// portal and read from PipeWire, kept going on a thread of its own. A stream that ends or a
// portal that is missing is asked again every second (with the saved restore token, so without
// a picker where the desktop allows it); a picker the presenter cancelled is asked again only
// when the video devices are listed anew (Refresh), so that no picker pops up by itself.
class PortalScreenInput : public QThread
{
public:
    explicit PortalScreenInput(bool embedCursor);
    // Ends the portal session and the stream.
    ~PortalScreenInput() override;

    // The newest picture into `picture` if one newer than it came, with the part that changed
    // in `changed` (PipeWireStream::takeNewer). Any thread.
    bool takeNewer(PackedPicture *picture, QRect *changed);
    // Blocks until more than `seen` changes happened, or until `deadline`, and returns their
    // count: new pictures (the compositor sends one only when the screen changed) and new
    // trouble (the picture turns black). Any thread.
    uint64_t waitChanges(uint64_t seen, std::chrono::steady_clock::time_point deadline);
    // Where the shared monitor lies on the desktop (logical coordinates) and its logical size;
    // empty size when the portal does not say (a window). Any thread.
    QRect placement() const;
    // Why no picture comes, in words; empty while the share delivers or the portal waits for
    // the presenter. Any thread.
    QString trouble() const;
    bool embedsCursor() const { return m_embedCursor; }
    // The current stream's (PipeWireStream::statistics); zeros while there is none. Any thread.
    PipeWireStream::Statistics statistics() const;

    // Lets a share that the presenter cancelled be asked for again. Any thread.
    static void askAgain();

protected:
    void run() override;

private:
    // One portal session and its stream, until either ends. False when the presenter cancelled.
    bool share();
    // Waits `ms` or until stopped.
    void pause(int ms);
    void setTrouble(const QString &text);
    void countChange();

    const bool m_embedCursor;
    mutable std::mutex m_mutex;
    QString m_trouble;
    QRect m_placement;
    PipeWireStream *m_stream = nullptr; // guarded by m_mutex; owned by run()
    uint64_t m_changes = 0;             // guarded by m_mutex
    std::condition_variable m_changed;
    static std::atomic<uint64_t> s_asks;
};
