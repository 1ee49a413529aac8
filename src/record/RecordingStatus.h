#pragma once

#include <QString>

// The recording's figures as the status bar shows them: "REC 0:01:05, 8.1 MB".
namespace RecordingStatus {

QString text(qint64 durationMs, qint64 bytes);

} // namespace RecordingStatus
