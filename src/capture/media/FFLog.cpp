#include "capture/media/FFLog.h"

#include <QDebug>
#include <QLoggingCategory>
#include <mutex>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

Q_LOGGING_CATEGORY(lcFFmpeg, "lumacast.ffmpeg")

QString ffErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

namespace {

void forwardLog(void *avcl, int level, const char *fmt, va_list args)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &printPrefix);
    const QString text = QString::fromUtf8(line).trimmed();
    if (text.isEmpty())
        return;
    if (level <= AV_LOG_ERROR)
        qCCritical(lcFFmpeg).noquote() << text;
    else
        qCWarning(lcFFmpeg).noquote() << text;
}

} // namespace

void ffInit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        av_log_set_callback(forwardLog);
    });
}
