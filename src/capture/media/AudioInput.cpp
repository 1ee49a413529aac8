#include "capture/media/AudioInput.h"

#include <QDebug>
#include <algorithm>

AudioInput::AudioInput(const QByteArray &format, const QByteArray &url, const MFAudioProps &sound)
    : m_format(format), m_url(url), m_sound(sound)
{
    FFOptionList options{
        {"sample_rate", QByteArray::number(sound.samplesPerSec)},
        {"channels", QByteArray::number(sound.channels)},
    };
    if (format == "pulse") {
        // Small fragments: the server would otherwise hand over sound in large, late blocks.
        const int bytesPer10ms = sound.samplesPerSec / 100 * sound.channels * 2;
        options.append({"fragment_size", QByteArray::number(bytesPer10ms * 2)});
    }
    m_input = std::make_unique<LiveInput>(
        format, url, options,
        [this](const AVStream *stream, AVPacket *packet) { append(stream, packet); });
}

void AudioInput::append(const AVStream *stream, const AVPacket *packet)
{
    const AVCodecParameters *par = stream->codecpar;
    if (par->codec_id != AV_CODEC_ID_PCM_S16LE || par->ch_layout.nb_channels != m_sound.channels) {
        if (!m_badFormat)
            qWarning() << "audio input" << m_url << "delivers an unexpected sample format";
        m_badFormat = true;
        return;
    }
    m_badFormat = false;
    const auto *samples = reinterpret_cast<const int16_t *>(packet->data);
    const size_t count = size_t(packet->size) / sizeof(int16_t);
    // Keep at most half a second; older sound is of no use to a live stream.
    const size_t limit = size_t(m_sound.samplesPerSec * m_sound.channels / 2);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_samples.insert(m_samples.end(), samples, samples + count);
    if (m_samples.size() > limit)
        m_samples.erase(m_samples.begin(), m_samples.end() - ptrdiff_t(limit));
}

QString AudioInput::trouble() const
{
    if (m_badFormat)
        return QStringLiteral("unexpected sample format");
    return m_input->trouble();
}

std::vector<int16_t> AudioInput::take(size_t count)
{
    std::vector<int16_t> out(count, 0);
    std::lock_guard<std::mutex> lock(m_mutex);
    // Half a period in reserve absorbs the device's uneven delivery.
    if (!m_primed && m_samples.size() < count + count / 2)
        return out;
    m_primed = m_samples.size() >= count;
    const size_t n = std::min(count, m_samples.size());
    std::copy(m_samples.begin(), m_samples.begin() + ptrdiff_t(n), out.begin());
    m_samples.erase(m_samples.begin(), m_samples.begin() + ptrdiff_t(n));
    // A buffer that keeps growing means the device runs faster than the clock: catch up.
    if (m_samples.size() > 3 * count)
        m_samples.erase(m_samples.begin(), m_samples.end() - ptrdiff_t(count));
    return out;
}
