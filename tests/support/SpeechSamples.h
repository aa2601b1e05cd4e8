#pragma once

#include "platform/PCMBuffer.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace zq::test {

// The recorded phrase the recogniser's test data ships: 16 kHz mono 16-bit raw.
inline const QString kGoForwardSpeech = QStringLiteral("/usr/share/pocketsphinx/test/data/goforward.raw");

// 16 kHz mono 16-bit raw samples as float, scaled by `gain`; empty when the file cannot be read.
std::vector<float> loadRawSpeech(const QString &path, float gain = 1.0f);

// Float samples as the decoder takes them: 16-bit, clamped.
std::vector<std::int16_t> asPcm16(const std::vector<float> &samples);

// The samples as a live microphone would give them: 48 kHz stereo (a naive 3x hold is enough for
// speech below 8 kHz once the engine filters it back down), in 0.1 s blocks.
std::vector<platform::SharedPCMBuffer> asMicBlocks(const std::vector<float> &samples);

} // namespace zq::test
