#include "support/SpeechSamples.h"

#include <QFile>

#include <algorithm>
#include <cstdint>

namespace zq::test {

std::vector<std::int16_t> asPcm16(const std::vector<float> &samples)
{
    std::vector<std::int16_t> pcm;
    pcm.reserve(samples.size());
    for (const float sample : samples)
        pcm.push_back(static_cast<std::int16_t>(std::clamp(sample, -1.0f, 1.0f) * 32767.0f));
    return pcm;
}

std::vector<float> loadRawSpeech(const QString &path, float gain)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<float> samples(static_cast<std::size_t>(bytes.size()) / 2);
    const auto *raw = reinterpret_cast<const std::int16_t *>(bytes.constData());
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = gain * static_cast<float>(raw[i]) / 32768.0f;
    return samples;
}

std::vector<platform::SharedPCMBuffer> asMicBlocks(const std::vector<float> &samples)
{
    platform::AudioFormat f;
    f.sampleRate = 48000;
    f.channelCount = 2;
    std::vector<platform::SharedPCMBuffer> blocks;
    const std::size_t perBlock = 1600;
    for (std::size_t offset = 0; offset < samples.size(); offset += perBlock) {
        const std::size_t n = std::min(perBlock, samples.size() - offset);
        auto block = std::make_shared<platform::PCMBuffer>(f, static_cast<std::uint32_t>(n * 3));
        for (std::size_t i = 0; i < n * 3; ++i)
            block->channelData(0)[i] = block->channelData(1)[i] = samples[offset + i / 3];
        block->setFrameLength(static_cast<std::uint32_t>(n * 3));
        blocks.push_back(block);
    }
    return blocks;
}

} // namespace zq::test
