#pragma once

#include "ChangeMarker.h"

#include "support/IngestCollector.h"
#include "support/TsDemux.h"

#include <QMap>
#include <QPoint>
#include <QVector>

// Finds, for each change of the marker, the first picture of the recorded video stream that
// shows it, and how long after the change that picture's first transport packet arrived.
struct DelaySample
{
    qint64 totalUs;    // change on the screen -> first packet at the listener
    qint64 tickWaitUs; // change -> the frame clock's tick that took the picture; -1 if unknown
};

QVector<DelaySample> measureDelays(const TsDemux &video, const IngestCollector &ingest,
                                   int connection, const QVector<ChangeMarker::Change> &changes,
                                   QPoint marker, const QMap<qint64, qint64> &tickTimesUs);
