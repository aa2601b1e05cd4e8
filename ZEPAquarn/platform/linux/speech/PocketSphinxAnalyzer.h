#pragma once

#include "platform/SpeechRecognizer.h"
#include "platform/linux/speech/PocketSphinxDecoder.h"

#include <memory>
#include <stop_token>

namespace zq::platform {

// One take's analysis on a PocketSphinx decoder borrowed from the pool, decoded on a thread of its
// own. While audio streams, the current hypothesis comes out as a provisional result (a few times a
// second at most, and only when it changed). The words before each pause the decoder hears are final
// at once and the words after it start an utterance of their own, so a release after a pause waits
// for no search; at the end of the input the words since the last pause are the last final result.
//
// Each utterance starts from what earlier takes, and earlier launches, learnt of the microphone's
// level (the decoder's channel estimate), so a fresh decoder's first take is not normalised by its
// own first second alone.
//
// The context's strings are the take's vocabulary (see PocketSphinxDecoder::useVocabulary); a
// take without a context runs on the packaged language model alone.
class PocketSphinxAnalyzer final : public SpeechAnalyzer {
public:
    explicit PocketSphinxAnalyzer(std::shared_ptr<PocketSphinxDecoderPool> pool);
    ~PocketSphinxAnalyzer() override;

    rt::Result<void> setContext(const AnalysisContext &context) override;
    rt::Result<void> start() override;
    void feed(SharedPCMBuffer buffer) override;
    void finishInput() override;
    rt::Result<void> finalizeAndFinishThroughEndOfInput(std::stop_token stop) override;
    void cancel() override;
    rt::AsyncChannel<SpeechResult> results() const override;

private:
    // The decoding thread is the pool's, which joins it when it closes; dropping the analyzer never
    // waits for it (it may be loading a decoder), it only tells it to stop.
    struct Session;
    std::shared_ptr<PocketSphinxDecoderPool> m_pool;
    std::shared_ptr<Session> m_session;
    bool m_started = false; // under the session's mutex
};

} // namespace zq::platform
