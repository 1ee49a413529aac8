#pragma once

#include <QString>

// Text of an FFmpeg (AVERROR) result code, for logs at the back end's boundary.
QString ffErrorText(int code);

// Registers the capture devices and routes FFmpeg's own log into Qt's (warnings and errors
// only). Idempotent and thread-safe; every back-end object calls it before using FFmpeg.
void ffInit();
