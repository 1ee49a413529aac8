#pragma once

#include "capture/media/IMFSource.h"

#include <QImage>
#include <QString>
#include <QVector>
#include <cstdint>
#include <mutex>

// A band across the bottom of the stream's pictures that carries one line of text (the question
// put on screen), so that whoever watches the stream or its recording reads it too. The text is
// set from any thread; the frame pump passes each frame through apply(). The text is drawn as
// plain text: nothing in it is read as markup.
class CaptionBand
{
public:
    // Of the picture's height: the band, and the text's size within it.
    static constexpr double kBandShare = 0.2;
    static constexpr int kMaxLines = 2;
    // How much of the picture shows through the band (of 255).
    static constexpr int kBandOpacity = 210;

    // Empty takes the band off.
    void setText(const QString &text);

    // The frame with the band drawn on a copy of its picture; the frame itself while there is no
    // band. A frame without a picture (a still screen) gets the previous picture with the new
    // band when the text changed since, so the band comes and goes on a still slide too.
    MFFramePtr apply(const MFFramePtr &frame);

private:
    struct Planes
    {
        int width = 0;
        int height = 0;
        QVector<uint8_t> y, u, v, alpha, chromaAlpha;
    };

    void render(const QString &text, int width, int height);
    FFFramePtr drawn(const AVFrame &picture, const QString &text);

    std::mutex m_mutex;
    QString m_text;
    uint64_t m_generation = 0;

    // The pump's side.
    uint64_t m_drawnGeneration = 0;
    QString m_drawnText;
    Planes m_band;
    MFFramePtr m_lastPictured;
    int64_t m_lastPictureTick = -1;
};
