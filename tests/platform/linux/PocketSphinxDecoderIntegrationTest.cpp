// Decoders loading and decoding on several threads at once, as overlapping takes use them.
#include "platform/linux/PocketSphinxDecoder.h"
#include "support/ServiceEnvironment.h"
#include "support/SpeechSamples.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sphinxbase/err.h>

#include <array>
#include <thread>

using namespace zq;
using platform::PocketSphinxDecoder;

namespace {

QString decode(PocketSphinxDecoder &decoder, const std::vector<std::int16_t> &speech)
{
    if (!decoder.startUtterance() || !decoder.process(speech.data(), speech.size()) || !decoder.endUtterance())
        return QStringLiteral("(decoder error)");
    return decoder.hypothesis();
}

} // namespace

TEST(PocketSphinxDecoderIntegrationTest, DecodersLoadWhileAnotherDecodesWithoutTouchingItsLogStream)
{
    const auto model = platform::PocketSphinxModel::debianEnglish();
    ZQ_REQUIRE_SERVICE(model.isInstalled() && QFile::exists(test::kGoForwardSpeech),
                       "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    std::vector<std::int16_t> speech;
    for (const float sample : test::loadRawSpeech(test::kGoForwardSpeech))
        speech.push_back(static_cast<std::int16_t>(sample * 32767.0f));
    std::unique_ptr<PocketSphinxDecoder> running = PocketSphinxDecoder::load(model).value();
    // The library writes every decoder's log lines to one stream of the process; replacing it closes
    // the old one under whoever is writing to it.
    FILE *const stream = err_get_logfp();

    std::array<QString, 4> heard;
    std::vector<std::thread> threads;
    threads.emplace_back([&] { heard[0] = decode(*running, speech); });
    for (std::size_t i = 1; i < heard.size(); ++i) {
        threads.emplace_back([&, i] {
            auto loaded = PocketSphinxDecoder::load(model);
            heard[i] = loaded ? decode(*loaded.value(), speech) : loaded.error().message;
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (std::size_t i = 0; i < heard.size(); ++i)
        EXPECT_EQ(heard[i], QStringLiteral("go forward ten meters")) << "decoder " << i;
    EXPECT_EQ(err_get_logfp(), stream) << "loading a decoder replaced the log stream the others write to";
}
