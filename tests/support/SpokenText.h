#pragma once

#include <QString>

#include <vector>

namespace zq::test {

// `text` spoken by espeak-ng in `voice` (for example "en-us" or "en-us+m1") at `wordsPerMinute`, as
// 16 kHz mono samples; empty when espeak-ng is missing or fails.
std::vector<float> speakText(const QString &text, const QString &voice = QStringLiteral("en-us"),
                             int wordsPerMinute = 140);

} // namespace zq::test
