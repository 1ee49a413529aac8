#include "ChangeMarker.h"

#include <QRandomGenerator>
#include <chrono>

namespace {
qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

bool ChangeMarker::start(const QString &display, const QRect &rect, QString *error, int everyMs,
                         int spreadMs)
{
    m_everyMs = everyMs;
    m_spreadMs = spreadMs;
    if (!m_window.open(display, rect, error))
        return false;
    m_window.fill(qRgb(0, 0, 0));
    m_stop = false;
    m_thread = std::thread(&ChangeMarker::run, this);
    return true;
}

void ChangeMarker::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

QVector<ChangeMarker::Change> ChangeMarker::changes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_changes;
}

void ChangeMarker::run()
{
    QRandomGenerator random(11);
    bool white = false;
    while (!m_stop) {
        // Several frames apart, at every phase of the frame clock.
        std::this_thread::sleep_for(
            std::chrono::microseconds(1000 * (m_everyMs + int(random.bounded(m_spreadMs)))));
        white = !white;
        const qint64 time = nowUs();
        m_window.fill(white ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_changes.append({time, white});
    }
}
