#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

using FFOptionList = QList<QPair<QByteArray, QByteArray>>;

// A writer configuration string parsed into what FFmpeg needs: settings written key='value',
// separated by blanks. "format" names the muxer; "video::x" and "audio::x" go to the encoder of
// that kind, except "codec", which names it ('null': no stream of that kind); any other key is a
// muxer option. Values keep FFmpeg's own syntax (for example '960K').
struct WriterConfig
{
    QByteArray format;
    QByteArray videoCodec;
    QByteArray audioCodec;
    FFOptionList videoOptions;
    FFOptionList audioOptions;
    FFOptionList formatOptions;

    bool hasVideo() const { return !videoCodec.isEmpty() && videoCodec != "null"; }
    bool hasAudio() const { return !audioCodec.isEmpty() && audioCodec != "null"; }

    // Returns false, with the reason in `error`, for text that is not a list of settings or that
    // names no format or no stream.
    static bool parse(const QString &text, WriterConfig *config, QString *error);
};
