#include "DelayAnalysis.h"

#include <algorithm>
#include <cmath>

namespace {
// MPEG timestamps count 90 kHz; the studio's frames are 24 per second.
constexpr double ptsPerTick = 90000.0 / 24.0;
} // namespace

QVector<DelaySample> measureDelays(const TsDemux &video, const IngestCollector &ingest,
                                   int connection, const QVector<ChangeMarker::Change> &changes,
                                   QPoint marker, const QMap<qint64, qint64> &tickTimesUs)
{
    QVector<DelaySample> samples;
    // Changes made before the stream's first bytes arrived cannot be told apart; skip them.
    const QVector<IngestCollector::Arrival> &arrivals = ingest.connection(connection).arrivals;
    const qint64 start = arrivals.isEmpty() ? 0 : arrivals.first().timeUs + 100000;
    int next = 0;
    while (next < changes.size() && changes[next].timeUs < start)
        ++next;
    video.decodeVideo([&](const TsDemux::Picture &picture) {
        if (next >= changes.size())
            return false;
        const bool white = qGray(picture.image.pixel(marker)) > 128;
        const qint64 arrival = ingest.arrivalUs(connection, picture.pos);
        // The first picture after the change that shows it; earlier ones show the state of a
        // change made before this run's stream began.
        if (white != changes[next].white || arrival < changes[next].timeUs)
            return true;
        const qint64 tick = std::llround(double(picture.pts) / ptsPerTick);
        const auto tickTime = tickTimesUs.constFind(tick);
        samples.append({arrival - changes[next].timeUs, tickTime == tickTimesUs.constEnd()
                                                            ? -1
                                                            : *tickTime - changes[next].timeUs});
        ++next;
        return true;
    });
    return samples;
}
