#include "record/RecordingStatus.h"

#include <QCoreApplication>

namespace RecordingStatus {

QString text(qint64 durationMs, qint64 bytes)
{
    const qint64 seconds = durationMs / 1000;
    return QCoreApplication::translate("RecordingStatus", "REC %1:%2:%3, %4 MB")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'))
        .arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

} // namespace RecordingStatus
