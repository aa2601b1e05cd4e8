#pragma once

#include "platform/AudioFormat.h"

namespace zq::test {

// A planar format of `rate` Hz and `channels` channels.
inline platform::AudioFormat
audioFormat(double rate, int channels,
            platform::AudioFormat::CommonFormat common = platform::AudioFormat::CommonFormat::float32)
{
    platform::AudioFormat f;
    f.sampleRate = rate;
    f.channelCount = channels;
    f.commonFormat = common;
    return f;
}

} // namespace zq::test
