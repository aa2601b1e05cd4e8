#include "platform/AudioConverter.h"

#include "runtime/Log.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace zq::platform {

namespace {

const QString kDomain = QStringLiteral("io.quorvane.zepaquarn.audio-converter");

soxr_t resampler(void *handle)
{
    return static_cast<soxr_t>(handle);
}

} // namespace

AudioConverter::AudioConverter(const AudioFormat &from, const AudioFormat &to) : m_from(from), m_to(to)
{
    m_from.interleaved = false;
    m_to.interleaved = false;
}

AudioConverter::~AudioConverter()
{
    if (m_soxr)
        soxr_delete(resampler(m_soxr));
}

rt::Result<std::unique_ptr<AudioConverter>> AudioConverter::create(const AudioFormat &from, const AudioFormat &to)
{
    if (!from.isValid() || !to.isValid() || to.commonFormat != AudioFormat::CommonFormat::float32 ||
        (to.channelCount != 1 && to.channelCount != from.channelCount))
        return rt::makeError(QStringLiteral("The audio cannot be converted to the requested format."), kDomain, 1);

    std::unique_ptr<AudioConverter> converter(new AudioConverter(from, to));
    if (from.sampleRate != to.sampleRate) {
        soxr_error_t error = nullptr;
        // Split (planar) float on both sides matches PCMBuffer, so no interleaving copies are needed.
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        // Smaller transforms than the library picks for long conversions: the same output, but half the
        // samples held back (10 ms, not 21, from 48 to 16 kHz). A live take's recogniser gets what is
        // held back only at the end of input, where every frame of speech it still has to search delays
        // the text.
        soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        runtime.log2_large_dft_size = 10;
        soxr_t handle = soxr_create(from.sampleRate, to.sampleRate, static_cast<unsigned>(to.channelCount), &error, &io,
                                    &quality, &runtime);
        if (error || !handle) {
            qCWarning(lcAudio) << "resampler create failed:" << (error ? error : "no handle");
            return rt::makeError(QStringLiteral("The audio cannot be converted to the requested format."), kDomain, 2);
        }
        converter->m_soxr = handle;
    }
    return converter;
}

rt::Result<std::shared_ptr<PCMBuffer>> AudioConverter::convert(const PCMBuffer &input)
{
    if (input.channelCount() != m_from.channelCount)
        return rt::makeError(QStringLiteral("The audio does not match the converter's input format."), kDomain, 3);
    const std::size_t frames = input.frameLength();
    m_inPlanes.clear();
    if (m_to.channelCount == 1 && m_from.channelCount > 1) {
        m_mixed.resize(1);
        m_mixed[0].assign(frames, 0.0f);
        float *mono = m_mixed[0].data();
        for (int c = 0; c < m_from.channelCount; ++c) {
            const float *plane = input.channelData(c);
            for (std::size_t i = 0; i < frames; ++i)
                mono[i] += plane[i];
        }
        const float scale = 1.0f / static_cast<float>(m_from.channelCount);
        for (std::size_t i = 0; i < frames; ++i)
            mono[i] *= scale;
        m_inPlanes.push_back(mono);
    } else {
        for (int c = 0; c < m_from.channelCount; ++c)
            m_inPlanes.push_back(input.channelData(c));
    }
    return process(m_inPlanes.data(), frames, false);
}

rt::Result<std::shared_ptr<PCMBuffer>> AudioConverter::flush()
{
    return process(nullptr, 0, true);
}

rt::Result<std::shared_ptr<PCMBuffer>> AudioConverter::process(const float *const *planes, std::size_t frames,
                                                               bool last)
{
    const int channels = m_to.channelCount;
    if (!m_soxr) {
        auto out = std::make_shared<PCMBuffer>(m_to, static_cast<std::uint32_t>(frames));
        for (int c = 0; c < channels && frames > 0; ++c)
            std::copy(planes[c], planes[c] + frames, out->channelData(c));
        out->setFrameLength(static_cast<std::uint32_t>(frames));
        return out;
    }

    const double ratio = m_to.sampleRate / m_from.sampleRate;
    // Room for this block's share plus some of the resampler's backlog; the loop below grows it if needed.
    std::size_t chunk = static_cast<std::size_t>(std::ceil(static_cast<double>(frames) * ratio)) + 256;
    std::vector<std::vector<float>> collected(static_cast<std::size_t>(channels));
    std::size_t consumed = 0;
    std::size_t produced = 0;
    std::vector<const void *> in(static_cast<std::size_t>(channels));
    std::vector<void *> out(static_cast<std::size_t>(channels));
    for (;;) {
        for (auto &plane : collected)
            plane.resize(produced + chunk);
        for (int c = 0; c < channels; ++c) {
            in[static_cast<std::size_t>(c)] = planes ? planes[c] + consumed : nullptr;
            out[static_cast<std::size_t>(c)] = collected[static_cast<std::size_t>(c)].data() + produced;
        }
        std::size_t used = 0;
        std::size_t done = 0;
        // A null input (not a null pointer per channel) tells soxr the stream has ended.
        const soxr_error_t error = soxr_process(resampler(m_soxr), last ? nullptr : in.data(), frames - consumed, &used,
                                                out.data(), chunk, &done);
        if (error) {
            qCWarning(lcAudio) << "resampling failed:" << error;
            return rt::makeError(QStringLiteral("The audio could not be converted."), kDomain, 4);
        }
        consumed += used;
        produced += done;
        const bool inputLeft = !last && consumed < frames;
        // Keep going while input remains, or while the last call filled the whole output window.
        if (!inputLeft && done < chunk)
            break;
        if (last && done == 0)
            break;
    }
    if (last)
        soxr_clear(resampler(m_soxr));

    auto result = std::make_shared<PCMBuffer>(m_to, static_cast<std::uint32_t>(produced));
    for (int c = 0; c < channels; ++c)
        std::copy_n(collected[static_cast<std::size_t>(c)].data(), produced, result->channelData(c));
    result->setFrameLength(static_cast<std::uint32_t>(produced));
    return result;
}

} // namespace zq::platform
