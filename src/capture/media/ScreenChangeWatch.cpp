#include "capture/media/ScreenChangeWatch.h"

#include <algorithm>

namespace {
// Viewer pages restart a stream socket that stays silent for five seconds.
constexpr auto keepAliveEvery = std::chrono::seconds(2);
} // namespace

void ScreenChangeWatch::watch(std::unique_ptr<ChangeSource> changes, QSize size, double rate)
{
    m_changes = std::move(changes);
    // Where the size of a change is not known (the portal reports each as the whole screen),
    // every change would count as large and cost the refinements: one repeat there. A
    // compositor's buffer is a finished picture, so there is no drawing to wait out either: a
    // pause would only push a buffer that came late in its period into the next one.
    ChangePacing::Settings settings;
    if (size.isEmpty()) {
        settings.refinements = 1;
        settings.coalesce = Clock::duration::zero();
    }
    m_pacing = ChangePacing(settings);
    m_pacing.setRate(rate);
    m_pacing.take(Clock::now());
    m_whole = QRect(QPoint(), size);
    m_changed = m_whole;
}

void ScreenChangeWatch::refresh()
{
    m_pacing.changed(Clock::now(), true);
    m_changed = m_whole;
}

QRect ScreenChangeWatch::takeChanged()
{
    const QRect changed = m_changed;
    m_changed = QRect();
    return changed;
}

void ScreenChangeWatch::stop()
{
    m_changes.reset();
    m_held.reset();
}

ScreenChangeWatch::Wake ScreenChangeWatch::waitUntil(Clock::time_point tick, QSize size,
                                                     bool keepAlive)
{
    m_pacing.setKeepAlive(keepAlive ? Clock::duration(keepAliveEvery) : Clock::duration::zero());
    if (!m_held || m_held->width != size.width() || m_held->height != size.height())
        refresh();
    for (;;) {
        const Clock::time_point due = m_pacing.due();
        const Clock::time_point now = Clock::now();
        if (now >= due || now >= tick)
            break;
        if (m_changes->wait(std::min(due, tick))) {
            const QRect changed = m_changes->takeChanged();
            // Beyond a quarter of the area (where the grab takes it whole, too), a change is
            // coded coarse at the bitrate's limit.
            const QRect part = changed & m_whole;
            const qint64 area = qint64(m_whole.width()) * m_whole.height();
            m_pacing.changed(Clock::now(), qint64(part.width()) * part.height() * 4 > area);
            m_changed |= changed;
        }
    }
    if (m_changes->broken())
        m_changes.reset();
    Wake wake;
    const Clock::time_point now = Clock::now();
    wake.tickReached = now >= tick;
    wake.action = m_pacing.take(now);
    return wake;
}

void ScreenChangeWatch::hold(const AVFrame *picture)
{
    m_held.reset(picture ? av_frame_clone(picture) : nullptr);
}

FFFramePtr ScreenChangeWatch::held() const
{
    return FFFramePtr(m_held ? av_frame_clone(m_held.get()) : nullptr);
}
