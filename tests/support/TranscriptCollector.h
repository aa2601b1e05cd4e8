#pragma once

#include "pipeline/TranscriptUpdate.h"
#include "runtime/AsyncChannel.h"
#include "runtime/Task.h"

#include <QString>

#include <exception>
#include <memory>
#include <vector>

namespace zq::test {

// Everything a transcription channel gave, up to its end or failure.
struct TranscriptOutcome {
    std::vector<TranscriptUpdate> updates;
    std::exception_ptr error;
    bool done = false;

    // The failure's user-facing text, "<no error>" when there is none.
    QString errorText() const;
};

// Drains `channel` into `outcome`; spawn it on the loop the backend runs on.
rt::Task<void> collectTranscript(rt::AsyncChannel<TranscriptUpdate> channel,
                                 std::shared_ptr<TranscriptOutcome> outcome);

} // namespace zq::test
