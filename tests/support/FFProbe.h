#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

// What ffprobe reads of a media file, as JSON: streams (with their frames counted), format and
// chapters; empty when ffprobe cannot read it.
inline QJsonObject ffprobe(const QString &path)
{
    QProcess process;
    process.start("ffprobe", {"-v", "error", "-count_frames", "-show_streams", "-show_format",
                              "-show_chapters", "-of", "json", path});
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

// The first stream of `type` ("video", "audio") in what ffprobe() read.
inline QJsonObject probedStream(const QJsonObject &probed, const QString &type)
{
    for (const QJsonValue &stream : probed.value("streams").toArray())
        if (stream.toObject().value("codec_type").toString() == type)
            return stream.toObject();
    return {};
}
