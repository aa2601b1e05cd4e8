#pragma once

#include "platform/SpeechRecognizer.h"
#include "platform/linux/PocketSphinxDecoder.h"

#include <memory>
#include <stop_token>

namespace zq::platform {

// One take's analysis on a PocketSphinx decoder borrowed from the pool, decoded on a thread of its
// own. The take is one utterance: while audio streams, the current hypothesis comes out as a
// provisional result (a few times a second at most, and only when it changed); at the end of the
// input the whole hypothesis comes out as the one final result.
//
// A fresh decoder's first utterance is often empty or wrong when the microphone's level is far from
// what the model expects (its cepstral mean starts from a stock value). A primer of some other
// recording can make it worse, and so can the take's own first second when the user pauses before
// speaking. So a cold decoder keeps the take and, once it has heard all of it, decodes it again for
// the final result; its partial results come from the first pass.
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
    // Shared with the decoding thread, which keeps it alive: dropping the analyzer never waits for
    // the thread (it may be loading a decoder), it only tells it to stop.
    struct Session;
    std::shared_ptr<Session> m_session;
    bool m_started = false; // under the session's mutex
};

} // namespace zq::platform
