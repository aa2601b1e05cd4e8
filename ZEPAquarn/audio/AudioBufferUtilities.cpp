#include "audio/AudioBufferUtilities.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zq {

namespace {

bool holdsPlanarFloat(const platform::AudioFormat &format)
{
    return format.commonFormat == platform::AudioFormat::CommonFormat::float32 && format.channelCount > 0 &&
           !(format.interleaved && format.channelCount > 1);
}

} // namespace

std::shared_ptr<platform::PCMBuffer> makePCMBuffer(const float *const *channels, int channelCount, std::int64_t frames,
                                                   const platform::AudioFormat &format)
{
    if (frames < 1 || frames > std::numeric_limits<std::uint32_t>::max())
        return nullptr;
    if (!channels || channelCount < 1 || channelCount != format.channelCount || !holdsPlanarFloat(format))
        return nullptr;
    for (int c = 0; c < channelCount; ++c) {
        if (!channels[c])
            return nullptr;
    }
    const auto count = static_cast<std::uint32_t>(frames);
    auto buffer = std::make_shared<platform::PCMBuffer>(format, count);
    buffer->setFrameLength(count);
    for (int c = 0; c < channelCount; ++c)
        std::copy_n(channels[c], count, buffer->channelData(c));
    return buffer;
}

std::shared_ptr<platform::PCMBuffer> copyPCMBuffer(const platform::PCMBuffer &source)
{
    const std::uint32_t frames = source.frameLength();
    if (frames == 0)
        return nullptr;
    const platform::AudioFormat &sourceFormat = source.format();
    if (sourceFormat.interleaved && sourceFormat.channelCount > 1)
        return nullptr;
    if (sourceFormat.commonFormat != platform::AudioFormat::CommonFormat::float32 || source.channelCount() < 1)
        return nullptr;
    platform::AudioFormat format;
    format.sampleRate = sourceFormat.sampleRate;
    format.channelCount = source.channelCount();
    format.commonFormat = platform::AudioFormat::CommonFormat::float32;
    format.interleaved = false;
    auto copy = std::make_shared<platform::PCMBuffer>(format, frames);
    copy->setFrameLength(frames);
    for (int c = 0; c < format.channelCount; ++c)
        std::copy_n(source.channelData(c), frames, copy->channelData(c));
    return copy;
}

std::vector<double> chunkRMS(const platform::PCMBuffer &buffer, int chunkFrames)
{
    const std::uint32_t frames = buffer.frameLength();
    if (chunkFrames < 1 || frames == 0 || buffer.channelCount() < 1 ||
        buffer.format().commonFormat != platform::AudioFormat::CommonFormat::float32)
        return {};
    const auto chunk = static_cast<std::uint32_t>(chunkFrames);
    std::vector<double> result;
    result.reserve(frames / chunk + 1);
    const float *samples = buffer.channelData(0);
    for (std::uint32_t start = 0; start < frames; start += chunk) {
        const std::uint32_t length = std::min(chunk, frames - start);
        float sumOfSquares = 0;
        for (std::uint32_t i = 0; i < length; ++i)
            sumOfSquares += samples[start + i] * samples[start + i];
        result.push_back(static_cast<double>(std::sqrt(sumOfSquares / static_cast<float>(length))));
        if (length < chunk)
            break;
    }
    return result;
}

rt::Result<std::unique_ptr<platform::AudioFile>> makeWritableAudioFile(const QString &path,
                                                                       const platform::AudioFormat &settings)
{
    return platform::AudioFile::createForWriting(path, settings);
}

std::optional<platform::AudioDeviceId> boundInputDevice(const platform::RecordStream *unit)
{
    if (!unit)
        return std::nullopt;
    const std::optional<platform::AudioDeviceId> device = unit->currentDevice();
    if (!device || *device == 0)
        return std::nullopt;
    return device;
}

} // namespace zq
