#pragma once

#include "record/Chapter.h"

#include <QString>
#include <functional>

// Turns the append-only transport stream of a recording into a file players and editors take,
// without encoding the pictures again: Matroska for MPEG-1 video with MP2 sound, MP4 for H.264
// (browsers play it, its sound converted to AAC, the one sound they take in MP4). The chapters
// become the file's chapters, after one at the start. The output is written under a
// temporary name and renamed at the end, so a file of the final name is always whole. Blocking;
// runs on a worker thread.
namespace RecordingRemux {

struct Result
{
    bool ok = false;
    QString path;  // the file made
    QString error; // in words, when !ok
};

// The extension the transport stream at `tsPath` becomes (".mkv" or ".mp4"), from its video.
// `progress` gets 0 to 100 as the input is read.
Result run(const QString &tsPath, const QString &outStem, const ChapterList &chapters,
           const std::function<void(int percent)> &progress);

} // namespace RecordingRemux
