#pragma once

#include "capture/media/FFPtr.h"
#include "capture/media/WriterConfig.h"

#include <QString>
#include <functional>

// Receives each packet an encoder produces, with timestamps in the encoder's time base.
// The packet is only borrowed for the call.
using PacketSink = std::function<void(AVPacket *packet)>;

// Opens the encoder named `codecName` after `configure` has set the fields the caller fixes
// (size, formats, time base); `options` are applied on top. Null with `error` filled on failure.
FFCodecPtr openEncoder(const QByteArray &codecName, const FFOptionList &options,
                       const std::function<void(AVCodecContext *)> &configure, QString *error);

// Hands every packet the encoder has ready to `sink`. Returns a negative AVERROR on failure.
int drainEncoder(AVCodecContext *encoder, const PacketSink &sink);

// What every encoder of a writer keeps: the codec's name, the options from the configuration
// string, and the open codec context.
class EncoderBase
{
public:
    EncoderBase(QByteArray codecName, FFOptionList options)
        : m_codecName(std::move(codecName)), m_options(std::move(options))
    {}

    // Null until the encoder was opened.
    const AVCodecContext *context() const { return m_context.get(); }

protected:
    QByteArray m_codecName;
    FFOptionList m_options;
    FFCodecPtr m_context;
};
