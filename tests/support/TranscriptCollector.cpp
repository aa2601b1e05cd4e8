#include "support/TranscriptCollector.h"

#include "pipeline/ZEPAError.h"

namespace zq::test {

QString TranscriptOutcome::errorText() const
{
    if (!error)
        return QStringLiteral("<no error>");
    try {
        std::rethrow_exception(error);
    } catch (const ZEPAError &e) {
        return e.errorDescription();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
}

rt::Task<void> collectTranscript(rt::AsyncChannel<TranscriptUpdate> channel, std::shared_ptr<TranscriptOutcome> outcome)
{
    try {
        while (auto update = co_await channel.next())
            outcome->updates.push_back(*update);
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}

} // namespace zq::test
